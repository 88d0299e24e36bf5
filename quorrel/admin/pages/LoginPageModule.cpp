#include "LoginPageModule.hpp"

#include <quorrel/Settings.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

namespace {
const char* const administratorLogin = "wexor";
} // namespace

LoginPageModule::LoginPageModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/LoginPage.tpl.html", m_page);
}

AdminPluginRet LoginPageModule::Get(FormFields& fields, std::string& text,
                                    const std::optional<AdminPluginRet>& preset) {
    text = m_page;
    FillText(text, "%TPL_LOGIN%", fields.Get("Login"));
    FillText(text, "%TPL_NEW_CLIENT_IP%", fields.Get("NewClientIP"));
    return preset ? *preset : AdminPluginRet(Ret::OK, "");
}

AdminPluginRet LoginPageModule::SaveEdit(FormFields& fields, std::string& text) {
    const std::string refused = Plugin().WeighAttempt(
        fields.Get("_Client_"),
        [&] {
            const std::string login = TrimBlanks(fields.Get("Login"));
            const std::string password = TrimBlanks(fields.Get("Password"));
            std::unique_ptr<DataModel::Settings> settings;
            return !login.empty() && !password.empty() && login == administratorLogin &&
                   Plugin().GetModel().GetSettings(settings).IsOK() &&
                   settings->GetPassword().Matches(password);
        },
        "Bad Login or Password");
    if (!refused.empty())
        return Get(fields, text, AdminPluginRet(Ret::ERR, refused));
    Plugin().StartSession(fields);
    if (!IsBlank(fields.Get("NewClientIP"))) {
        // Signed in from the link of a computer outside the policy: its form comes next.
        fields.Set("ObjectName", "Client");
        return Plugin().GetModule("Client")->GetNew(fields, text);
    }
    return Plugin().GetModule("HomePage")->Get(fields, text);
}

} // namespace tav::http::admin
