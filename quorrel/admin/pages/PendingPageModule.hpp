#pragma once

// A page whose module is not built yet: says so in the standard frame, for every action.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class PendingPageModule : public WebModule {
public:
    // `title`: what the page is about, shown to the administrator.
    PendingPageModule(AdminPlugin& plugin, const std::string& title);

    AdminPluginRet ExecuteAction(FormFields& fields, std::string& text) override;
    bool UsesProtocolSettingsMenu() const override { return false; }

private:
    std::string m_title;
};

} // namespace tav::http::admin
