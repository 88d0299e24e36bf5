#include "ToggleModule.hpp"

#include <quorrel/admin/AdminPlugin.hpp>

namespace tav::http::admin {

AdminPluginRet ToggleModule::ExecuteAction(FormFields& fields, std::string& text) {
    if (fields.Get("Action") != "Toggle")
        return WebModule::ExecuteAction(fields, text);
    return Change(fields, text, [&] { return Toggle(fields, text); });
}

} // namespace tav::http::admin
