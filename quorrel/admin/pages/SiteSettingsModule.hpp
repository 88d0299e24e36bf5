#pragma once

// The site settings ("SiteSettings"): whether filtration is switched off, and the administrator's e-mail
// address.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class SiteSettingsModule : public WebModule {
public:
    explicit SiteSettingsModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    void BuildNavigationMenu(std::string& menu) override { menu.clear(); }
    bool UsesProtocolSettingsMenu() const override { return false; }

private:
    std::string m_form;
};

} // namespace tav::http::admin
