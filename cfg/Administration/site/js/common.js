// Buttons marked data-confirm ask before their form is sent.
document.addEventListener("submit", function (event) {
  var button = event.submitter;
  var question = button && button.getAttribute("data-confirm");
  if (question && !window.confirm(question)) {
    event.preventDefault();
  }
});

// What follows only improves the pages; each of them works without script too.
(function () {
  function each(selector, action) {
    var list = document.querySelectorAll(selector);
    for (var i = 0; i < list.length; i++) {
      action(list[i]);
    }
  }

  // Parts that make sense only with script come hidden.
  each("[data-script-only]", function (element) {
    element.hidden = false;
  });

  // The navigation menu marks the group the page is about.
  var group = document.body.getAttribute("data-group");
  if (group) {
    each(".groups li[data-group]", function (item) {
      if (item.getAttribute("data-group") === group) {
        item.className += " current";
        var button = item.querySelector("button");
        if (button) {
          button.setAttribute("aria-current", "true");
        }
      }
    });
  }

  // A switch whose state word is bold is on.
  each("button.switch", function (button) {
    if (button.querySelector("b")) {
      button.className += " on";
    }
  });

  // A check box that follows a switch is ticked while the switch is on.
  each("input[data-follows]", function (box) {
    var name = box.getAttribute("data-follows");
    var button = document.querySelector('button.switch[data-toggle="' + name + '"]');
    if (!box.checked && button && button.querySelector("b")) {
      box.checked = true;
    }
  });

  // A selection list names its value in data-value. Without script the entry marked data-keep sends the
  // value back unchanged; with script the matching entry is chosen and that one goes.
  each("select[data-value]", function (select) {
    var value = select.getAttribute("data-value");
    var found = false;
    var i;
    for (i = 0; i < select.options.length; i++) {
      var option = select.options[i];
      if (!option.hasAttribute("data-keep") && option.value === value) {
        option.selected = true;
        found = true;
        break;
      }
    }
    if (found) {
      for (i = select.options.length - 1; i >= 0; i--) {
        if (select.options[i].hasAttribute("data-keep")) {
          select.remove(i);
        }
      }
    }
  });

  // Values carried in hidden fields fill the empty boxes they name (the limits of each day).
  each("input[data-fills]", function (carrier) {
    var box = carrier.form && carrier.form.elements[carrier.getAttribute("data-fills")];
    if (box && box.nodeType === 1 && box.value === "") {
      box.value = carrier.value;
    }
  });

  // A field set can be used only while the check box it names is ticked.
  each("fieldset[data-enabled-by]", function (fieldset) {
    var box = fieldset.form && fieldset.form.elements[fieldset.getAttribute("data-enabled-by")];
    if (!box || box.nodeType !== 1) {
      return;
    }
    function update() {
      fieldset.disabled = !box.checked;
    }
    box.addEventListener("change", update);
    update();
  });

  // A confirmation box must repeat the box it names.
  each("input[data-same-as]", function (confirmation) {
    var first = document.getElementById(confirmation.getAttribute("data-same-as"));
    if (!first) {
      return;
    }
    function check() {
      confirmation.setCustomValidity(confirmation.value === first.value ? "" : "The two passwords differ.");
    }
    first.addEventListener("input", check);
    confirmation.addEventListener("input", check);
    check();
  });

  // An empty list says so.
  each("table.list[data-empty]", function (table) {
    var body = table.tBodies[0];
    if (!body || body.rows.length > 0) {
      return;
    }
    var cell = body.insertRow(-1).insertCell(-1);
    cell.colSpan = table.tHead ? table.tHead.rows[0].cells.length : 1;
    cell.className = "empty";
    cell.textContent = table.getAttribute("data-empty");
  });

  // The time table field holds 336 characters, one per half hour of the week from Sunday 00:00: "1" allows
  // the half hour, "0" blocks it. Script hides the field and shows a grid of 7 days by 48 half hours after
  // it, each cell <td data-slot="48 * day + half hour">, class "on" when allowed. Pressing a cell takes the
  // opposite of its state and paints it onto every cell the mouse or finger then passes; the day and hour
  // buttons switch a whole row or column. Every change is written back to the field.
  var field = document.getElementById("TimeTable");
  if (field) {
    buildTimeTable(field);
  }

  function buildTimeTable(field) {
    var shortDays = ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"];
    var days = ["Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"];
    var slots = [];
    var cells = [];
    var painting = null;
    var last = -1;
    var i, d, h;
    for (i = 0; i < 336; i++) {
      slots.push(field.value.charAt(i) === "1");
    }

    function two(n) {
      return (n < 10 ? "0" : "") + n;
    }
    function write() {
      var text = "";
      for (var n = 0; n < 336; n++) {
        text += slots[n] ? "1" : "0";
      }
      field.value = text;
    }
    function set(n, on) {
      slots[n] = on;
      cells[n].className = on ? "on" : "";
    }
    // Allows all the half hours listed when any of them is blocked, else blocks them all.
    function flip(list) {
      var on = false;
      var k;
      for (k = 0; k < list.length; k++) {
        if (!slots[list[k]]) {
          on = true;
        }
      }
      for (k = 0; k < list.length; k++) {
        set(list[k], on);
      }
      write();
    }
    function makeButton(label, title, className, action) {
      var button = document.createElement("button");
      button.type = "button";
      button.className = className;
      button.textContent = label;
      button.title = title;
      button.setAttribute("aria-label", title);
      button.addEventListener("click", action);
      return button;
    }
    function flipButton(label, title, className, list) {
      return makeButton(label, title, className, function () {
        flip(list);
      });
    }

    var table = document.createElement("table");
    table.id = "timetable-grid";
    table.setAttribute("aria-label", "Allowed half hours");
    var head = table.createTHead().insertRow(-1);
    head.appendChild(document.createElement("th"));
    for (h = 0; h < 24; h++) {
      var hour = [];
      for (d = 0; d < 7; d++) {
        hour.push(48 * d + 2 * h, 48 * d + 2 * h + 1);
      }
      var top = document.createElement("th");
      top.colSpan = 2;
      top.scope = "col";
      top.appendChild(flipButton(h % 3 === 0 ? two(h) : "", two(h) + ":00 to " + two((h + 1) % 24) + ":00 on every day",
                                 "tt-hour", hour));
      head.appendChild(top);
    }
    var body = table.createTBody();
    for (d = 0; d < 7; d++) {
      var row = body.insertRow(-1);
      var day = [];
      for (h = 0; h < 48; h++) {
        day.push(48 * d + h);
      }
      var side = document.createElement("th");
      side.scope = "row";
      side.appendChild(flipButton(shortDays[d], "All of " + days[d], "tt-day", day));
      row.appendChild(side);
      for (h = 0; h < 48; h++) {
        var n = 48 * d + h;
        var cell = row.insertCell(-1);
        cell.setAttribute("data-slot", n);
        cell.title = days[d] + " " + two(h >> 1) + (h % 2 ? ":30" : ":00");
        cells[n] = cell;
        set(n, slots[n]);
      }
    }

    function slotOf(element) {
      return element && element.nodeType === 1 && element.hasAttribute("data-slot") && table.contains(element)
        ? +element.getAttribute("data-slot") : -1;
    }
    function slotAt(x, y) {
      return slotOf(document.elementFromPoint(x, y));
    }
    // Paints every cell on the way from the last one, so that a quick move skips none.
    function paintTo(n) {
      if (n < 0 || painting === null) {
        return;
      }
      var from = last < 0 ? n : last;
      var d0 = Math.floor(from / 48), h0 = from % 48, d1 = Math.floor(n / 48), h1 = n % 48;
      var steps = Math.max(Math.abs(d1 - d0), Math.abs(h1 - h0), 1);
      for (var s = 0; s <= steps; s++) {
        set(48 * Math.round(d0 + (d1 - d0) * s / steps) + Math.round(h0 + (h1 - h0) * s / steps), painting);
      }
      last = n;
      write();
    }
    function start(n) {
      if (n < 0) {
        return false;
      }
      painting = !slots[n];
      last = -1;
      paintTo(n);
      return true;
    }
    function stop() {
      painting = null;
      last = -1;
    }
    function move(event, x, y) {
      if (painting === null) {
        return;
      }
      if (event.buttons === 0) {
        stop();
        return;
      }
      paintTo(slotAt(x, y));
    }

    if (window.PointerEvent) {
      table.addEventListener("pointerdown", function (event) {
        if (event.button === 0 && start(slotOf(event.target))) {
          event.preventDefault();
        }
      });
      document.addEventListener("pointermove", function (event) {
        move(event, event.clientX, event.clientY);
      });
      document.addEventListener("pointerup", stop);
      document.addEventListener("pointercancel", stop);
    } else {
      table.addEventListener("mousedown", function (event) {
        if (event.button === 0 && start(slotOf(event.target))) {
          event.preventDefault();
        }
      });
      document.addEventListener("mousemove", function (event) {
        move(event, event.clientX, event.clientY);
      });
      document.addEventListener("mouseup", stop);
      table.addEventListener("touchstart", function (event) {
        var touch = event.touches[0];
        if (event.touches.length === 1 && start(slotAt(touch.clientX, touch.clientY))) {
          event.preventDefault();
        }
      });
      table.addEventListener("touchmove", function (event) {
        if (painting !== null) {
          var touch = event.touches[0];
          paintTo(slotAt(touch.clientX, touch.clientY));
          event.preventDefault();
        }
      });
      table.addEventListener("touchend", stop);
      table.addEventListener("touchcancel", stop);
    }

    var box = document.createElement("div");
    box.className = "timetable-box";
    box.appendChild(table);

    var legend = document.createElement("div");
    legend.className = "tt-legend";
    legend.innerHTML = '<span><span class="swatch on"></span>allowed</span> <span><span class="swatch"></span>blocked</span>';
    var every = [];
    for (i = 0; i < 336; i++) {
      every.push(i);
    }
    function setAll(on) {
      for (var k = 0; k < every.length; k++) {
        set(every[k], on);
      }
      write();
    }
    legend.appendChild(makeButton("Allow all", "Allow the whole week", "small secondary", function () {
      setAll(true);
    }));
    legend.appendChild(makeButton("Block all", "Block the whole week", "small secondary", function () {
      setAll(false);
    }));

    // The hidden field must not stop the form with checks meant for typing.
    field.removeAttribute("pattern");
    field.removeAttribute("minlength");
    field.hidden = true;
    field.parentNode.insertBefore(legend, field.nextSibling);
    field.parentNode.insertBefore(box, field.nextSibling);
  }
})();
