#pragma once

// The forgotten-password page ("ForgotPassword"): the security question, and the answer that clears the
// administrator password.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ForgotPasswordModule : public WebModule {
public:
    explicit ForgotPasswordModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    // A right answer starts a new session, clears the password and shows the home page; a wrong one shows
    // the login page with "Bad Answer".
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    bool UsesStandardMainContent() const override { return false; }

protected:
    bool WeighsSecrets() const override { return true; }

private:
    std::string m_page;
};

} // namespace tav::http::admin
