#include "ForgotPasswordModule.hpp"

#include <quorrel/SecurityQuestion.hpp>
#include <quorrel/Settings.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

namespace {
const char* const noAnswerStored = "No security answer is stored, so the password can be reset only on the "
                                   "filter machine itself, with the command tollwick-policy password.";
} // namespace

ForgotPasswordModule::ForgotPasswordModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/ForgotPassword.tpl.html", m_page);
}

AdminPluginRet ForgotPasswordModule::Get(FormFields& /*fields*/, std::string& text,
                                         const std::optional<AdminPluginRet>& preset) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::Settings> settings;
    const bool read = model.GetSettings(settings).IsOK();
    const DataModel::SecurityQuestion* question =
        read ? model.GetSecurityQuestion(settings->GetSecurityQuestionID()) : nullptr;
    text = m_page;
    const bool answerable = read && !settings->GetSecurityAnswer().IsEmpty();
    FillText(text, "%TBL_QUESTION%",
             !answerable           ? noAnswerStored
             : question != nullptr ? question->GetQuestion()
                                   : "");
    return preset ? *preset : AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ForgotPasswordModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::Settings> settings;
    const bool read = model.GetSettings(settings).IsOK();
    // Without a stored answer no answer is right: an empty one would let anybody clear the password.
    const std::string refused = Plugin().WeighAttempt(
        fields.Get("_Client_"),
        [&] {
            return read && !settings->GetSecurityAnswer().IsEmpty() &&
                   settings->GetSecurityAnswer().Matches(TrimBlanks(fields.Get("SecurityAnswer")));
        },
        "Bad Answer");
    if (!refused.empty()) {
        fields.Set("ObjectName", "LoginPage");
        return Plugin().GetModule("LoginPage")->Get(fields, text, AdminPluginRet(Ret::ERR, refused));
    }
    const AdminPluginRet cleared = Change(fields, text, [&] {
        settings->SetPassword("");
        return AdminPluginRet(model.SaveSettings(*settings));
    });
    if (!cleared.IsOK())
        return cleared;
    Plugin().StartSession(fields);
    return Plugin().GetModule("HomePage")->Get(fields, text);
}

} // namespace tav::http::admin
