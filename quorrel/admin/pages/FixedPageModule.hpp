#pragma once

// A page that shows a template as it is: the home page ("HomePage", HomePageModule), the help page
// ("HelpPage", HelpPageModule) and the about page ("AboutPage", AboutPageModule) differ only in it, and in
// what another module fills into it (the home page's summary of today).

#include <quorrel/admin/WebModule.hpp>

#include <functional>

namespace tav::http::admin {

class FixedPageModule : public WebModule {
public:
    // Fills the placeholders of the page that come from elsewhere.
    using Completion = std::function<void(std::string& page)>;

    // `file`: the template's name below /pages/templates/; `complete`, when given, runs on each showing.
    FixedPageModule(AdminPlugin& plugin, const std::string& file, Completion complete = nullptr);

    // The template, completed; always 0, whatever result is preset.
    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    bool UsesStandardMainContent() const override { return false; }
    bool UsesProtocolSettingsMenu() const override { return false; }

private:
    std::string m_page;
    Completion m_complete;
};

} // namespace tav::http::admin
