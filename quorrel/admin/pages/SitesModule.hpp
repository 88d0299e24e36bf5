#pragma once

// The group's own trusted and blocked sites ("Site"), their switches, and the test of an address against
// the group's lists and the site database ("TestURI").

#include "ToggleModule.hpp"

#include <quorrel/DataModel.hpp>

namespace tav::http::admin {

class SitesModule : public ToggleModule {
public:
    explicit SitesModule(AdminPlugin& plugin);

    AdminPluginRet ExecuteAction(FormFields& fields, std::string& text) override;
    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override;
    AdminPluginRet GetEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet Delete(FormFields& fields, std::string& text) override;

    // A site's address as the pages show it: without its scheme and without "//".
    static std::string SiteUri(const DataModel::CustomerSite& site);

protected:
    AdminPluginRet Toggle(FormFields& fields, std::string& text) override;

private:
    // The report of how the typed address stands for the group, as the page's message.
    AdminPluginRet TestURI(FormFields& fields, std::string& text);
    void FillForm(std::string& text, const DataModel::CustomerSite* site, const FormFields& fields) const;
    std::string Rows(const std::string& groupId, bool blocked) const;

    std::string m_page;
    std::string m_blockedRow;
    std::string m_trustedRow;
    std::string m_form;
};

} // namespace tav::http::admin
