#include "ChangePasswordModule.hpp"

#include <quorrel/SecurityQuestion.hpp>
#include <quorrel/Settings.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

ChangePasswordModule::ChangePasswordModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/ChangePasswordForm.tpl.html", m_form);
}

std::string ChangePasswordModule::Form(const DataModel::Settings& settings) const {
    const std::vector<std::pair<std::string, std::string>> options =
        Plugin().GetModel().GetSecurityQuestionTexts();
    const std::pair<std::string, std::string> none{"0", "<..........>"};
    const std::string chosen = settings.GetSecurityQuestionID();
    std::string text = m_form;
    // Only hashes are kept, so the form can neither show the answer nor tell the password's length.
    FillText(text, "%TPL_OLD_PASSWORD_HINT%",
             settings.GetPassword().IsEmpty() ? "(none yet: leave it empty)" : "");
    FillMarkup(text, "%TPL_QUESTION_OPTIONS%", BuildOptions(options, IsBlank(chosen) ? "0" : chosen, &none));
    return text;
}

AdminPluginRet ChangePasswordModule::Get(FormFields& /*fields*/, std::string& text,
                                         const std::optional<AdminPluginRet>& preset) {
    std::unique_ptr<DataModel::Settings> settings;
    const Ret read = Plugin().GetModel().GetSettings(settings);
    if (!read.IsOK() || settings == nullptr)
        return AdminPluginRet(read);
    text = Form(*settings);
    return preset ? *preset : AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ChangePasswordModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::Settings> settings;
    const Ret read = model.GetSettings(settings);
    if (!read.IsOK() || settings == nullptr)
        return AdminPluginRet(read);
    const std::string& password = fields.Get("Password");
    const std::string question =
        fields.Get("SecurityQuestionID") == "0" ? "" : fields.Get("SecurityQuestionID");
    const std::string& answer = fields.Get("SecurityAnswer");
    std::vector<std::string> problems;
    if (!settings->GetPassword().Matches(fields.Get("OldPassword")))
        problems.emplace_back("Wrong Old Password");
    if (!IsBlank(password) && password.size() < 6)
        problems.emplace_back("New Password must be 6 or more symbols length");
    if (password != fields.Get("PasswordConfirm"))
        problems.emplace_back("Password Confirmation is not equal New Password");
    if (!IsBlank(password) && IsBlank(question))
        problems.emplace_back("Select the Security Question please");
    if ((!IsBlank(password) || !IsBlank(question)) && IsBlank(answer))
        problems.emplace_back("Fill the Security Answer field please");
    settings->SetSecurityQuestionID(question);
    if (!problems.empty()) {
        text = Form(*settings);
        return AdminPluginRet(AdminPluginRet::FAILED_CHECKS, problems);
    }
    settings->SetPassword(password);
    settings->SetSecurityAnswer(answer);
    const AdminPluginRet stored = Change(fields, text, [&] {
        AdminPluginRet result(settings->Validate(false));
        if (result.IsOK())
            result = model.SaveSettings(*settings);
        if (!result.IsOK())
            text = Form(*settings);
        return result;
    });
    if (!stored.IsOK())
        return stored;
    return Plugin().GetModule("SiteSettings")->Get(fields, text);
}

} // namespace tav::http::admin
