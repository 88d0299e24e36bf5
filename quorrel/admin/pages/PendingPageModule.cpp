#include "PendingPageModule.hpp"

#include <tav/http/html.hpp>

namespace tav::http::admin {

PendingPageModule::PendingPageModule(AdminPlugin& plugin, const std::string& title)
    : WebModule(plugin), m_title(title) {}

AdminPluginRet PendingPageModule::ExecuteAction(FormFields& /*fields*/, std::string& text) {
    text = "<h2>" + escape_html(m_title) + "</h2>\n<p>This page is not available in this version yet.</p>\n";
    return AdminPluginRet(Ret::OK, "");
}

} // namespace tav::http::admin
