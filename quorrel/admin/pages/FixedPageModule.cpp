#include "FixedPageModule.hpp"

#include <utility>

namespace tav::http::admin {

FixedPageModule::FixedPageModule(AdminPlugin& plugin, const std::string& file, Completion complete)
    : WebModule(plugin), m_complete(std::move(complete)) {
    AddTemplate("/pages/templates/" + file, m_page);
}

AdminPluginRet FixedPageModule::Get(FormFields& /*fields*/, std::string& text,
                                    const std::optional<AdminPluginRet>& /*preset*/) {
    text = m_page;
    if (m_complete)
        m_complete(text);
    return AdminPluginRet(Ret::OK, "");
}

} // namespace tav::http::admin
