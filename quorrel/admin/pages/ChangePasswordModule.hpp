#pragma once

// The administrator's password, security question and answer ("ChangePassword").

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ChangePasswordModule : public WebModule {
public:
    explicit ChangePasswordModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    // Checks the form, collecting every problem in order (-5); stores the settings and shows the site
    // settings page when all is well.
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    void BuildNavigationMenu(std::string& menu) override { menu.clear(); }
    bool UsesProtocolSettingsMenu() const override { return false; }

protected:
    bool WeighsSecrets() const override { return true; }

private:
    // The form filled from the settings.
    std::string Form(const DataModel::Settings& settings) const;

    std::string m_form;
};

} // namespace tav::http::admin
