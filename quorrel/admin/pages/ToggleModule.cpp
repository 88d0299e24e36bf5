#include "ToggleModule.hpp"

#include <quorrel/admin/AdminPlugin.hpp>

namespace tav::http::admin {

AdminPluginRet ToggleModule::ExecuteAction(FormFields& fields, std::string& text) {
    if (fields.Get("Action") != "Toggle")
        return WebModule::ExecuteAction(fields, text);
    AdminPluginRet result = Toggle(fields, text);
    if (result.IsOK())
        Plugin().GetModel().SaveTunes();
    return result;
}

} // namespace tav::http::admin
