#pragma once

// The login page ("LoginPage"): the form for the administrator's login and password, and the login.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class LoginPageModule : public WebModule {
public:
    explicit LoginPageModule(AdminPlugin& plugin);

    // The form, with the login as typed; the result is the preset one (an error of a failed login) or 0.
    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    // Checks the login and the password; on success starts a new session and shows the home page.
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    bool UsesStandardMainContent() const override { return false; }

protected:
    bool WeighsSecrets() const override { return true; }

private:
    std::string m_page;
};

} // namespace tav::http::admin
