#pragma once

// A page with switches: adds the action "Toggle", which flips the switch that "ToggleWhat" names. The
// policy file is written when the toggle saved.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ToggleModule : public WebModule {
public:
    using WebModule::WebModule;

    AdminPluginRet ExecuteAction(FormFields& fields, std::string& text) override;

protected:
    virtual AdminPluginRet Toggle(FormFields& fields, std::string& text) = 0;
};

} // namespace tav::http::admin
