#pragma once

// The site categories a group blocks ("BlockedCategory"): one check box per category.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class BlockedCategoryModule : public WebModule {
public:
    explicit BlockedCategoryModule(AdminPlugin& plugin);

    AdminPluginRet GetList(FormFields& fields, std::string& text,
                           const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;

private:
    std::string m_list;
    std::string m_row;
};

} // namespace tav::http::admin
