#pragma once

// A page that shows a template as it is: the home page ("HomePage", HomePageModule), the help page
// ("HelpPage", HelpPageModule) and the about page ("AboutPage", AboutPageModule) differ only in it.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class FixedPageModule : public WebModule {
public:
    // `file`: the template's name below /pages/templates/.
    FixedPageModule(AdminPlugin& plugin, const std::string& file);

    // The template unchanged; always 0, whatever result is preset.
    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    bool UsesStandardMainContent() const override { return false; }
    bool UsesProtocolSettingsMenu() const override { return false; }

private:
    std::string m_page;
};

} // namespace tav::http::admin
