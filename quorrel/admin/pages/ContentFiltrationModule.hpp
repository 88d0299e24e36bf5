#pragma once

// The content filter of the group's HTTP answers ("ContentFiltration"): its switch and severity level, and
// the switches of the content word and content type lists.

#include "ToggleModule.hpp"

namespace tav::http::admin {

class ContentFiltrationModule : public ToggleModule {
public:
    explicit ContentFiltrationModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;

protected:
    AdminPluginRet Toggle(FormFields& fields, std::string& text) override;

private:
    std::string m_page;
};

} // namespace tav::http::admin
