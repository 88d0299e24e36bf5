#include "FixedPageModule.hpp"

namespace tav::http::admin {

FixedPageModule::FixedPageModule(AdminPlugin& plugin, const std::string& file) : WebModule(plugin) {
    AddTemplate("/pages/templates/" + file, m_page);
}

AdminPluginRet FixedPageModule::Get(FormFields& /*fields*/, std::string& text,
                                    const std::optional<AdminPluginRet>& /*preset*/) {
    text = m_page;
    return AdminPluginRet(Ret::OK, "");
}

} // namespace tav::http::admin
