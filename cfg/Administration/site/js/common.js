// Buttons marked data-confirm ask before their form is sent.
document.addEventListener("submit", function (event) {
  var button = event.submitter;
  var question = button && button.getAttribute("data-confirm");
  if (question && !window.confirm(question)) {
    event.preventDefault();
  }
});
