#include "SitesModule.hpp"

#include "SaveStored.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <vector>

namespace tav::http::admin {

namespace {

using HTTP = DataModel::HTTPProtocolSettings;

const std::vector<Switch<HTTP>> siteSwitches = {
    {"FixTrustedSites", &HTTP::GetIsTrustedSitesFixed, &HTTP::SetIsTrustedSitesFixed},
    {"BlockedSites", &HTTP::GetIsBlockedSitesEnabled, &HTTP::SetIsBlockedSitesEnabled},
    {"TrustedSites", &HTTP::GetIsTrustedSitesEnabled, &HTTP::SetIsTrustedSitesEnabled},
};

// The typed address, with "http://" in front unless it holds that somewhere.
std::string UrlText(const FormFields& fields) {
    const std::string& typed = fields.Get("Uri");
    return typed.find("http://") == std::string::npos ? "http://" + typed : typed;
}

// Whether "IsBlocked" starts with a number other than 0.
bool IsBlockedField(const FormFields& fields) {
    const std::string& value = fields.Get("IsBlocked");
    for (char c : value) {
        if (c < '0' || c > '9')
            break;
        if (c != '0')
            return true;
    }
    return false;
}

// The lines of a report joined with "<br>", each to be shown as text.
std::vector<std::string> Lines(const std::string& report) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at = report.find("<br>"); at != std::string::npos; at = report.find("<br>", from)) {
        lines.push_back(report.substr(from, at - from));
        from = at + 4;
    }
    lines.push_back(report.substr(from));
    return lines;
}

} // namespace

SitesModule::SitesModule(AdminPlugin& plugin) : ToggleModule(plugin) {
    AddTemplate("/pages/templates/Sites.tpl.html", m_page);
    AddTemplate("/pages/templates/Sites_BlockedSites_TableRow.tpl.html", m_blockedRow);
    AddTemplate("/pages/templates/Sites_TrustedSites_TableRow.tpl.html", m_trustedRow);
    AddTemplate("/pages/templates/SiteForm.tpl.html", m_form);
}

std::string SitesModule::SiteUri(const DataModel::CustomerSite& site) {
    std::string text;
    site.GetUrl().flatten(text, uri::all_bits & ~(uri::scheme_bit | uri::userinfo_bit));
    ReplaceAll(text, "//", "");
    return text;
}

AdminPluginRet SitesModule::ExecuteAction(FormFields& fields, std::string& text) {
    if (fields.Get("Action") == "TestURI")
        return TestURI(fields, text);
    return ToggleModule::ExecuteAction(fields, text);
}

std::string SitesModule::Rows(const std::string& groupId, bool blocked) const {
    const std::string& tpl = blocked ? m_blockedRow : m_trustedRow;
    const std::string prefix = blocked ? "%TPL_BLOCKED_SITE_" : "%TPL_TRUSTED_SITE_";
    std::string rows;
    std::vector<boost::shared_ptr<DataModel::CustomerSite>> sites;
    if (!Plugin().GetModel().GetCustomerSites(groupId, blocked, sites).IsOK())
        return rows;
    for (const boost::shared_ptr<DataModel::CustomerSite>& site : sites) {
        std::string row = tpl;
        FillText(row, prefix + "URI%", SiteUri(*site));
        FillText(row, prefix + "ID%", site->GetID());
        rows += row;
    }
    return rows;
}

AdminPluginRet SitesModule::Get(FormFields& fields, std::string& text,
                                const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    AdminPluginRet found = OpenGroupPage(model, fields, m_page, text, group, DataModel::PST_HTTP, settings);
    if (!found.IsOK())
        return found;
    const auto* http = dynamic_cast<const HTTP*>(settings.get());
    const std::string& id = group->GetID();
    FillText(text, "%TPL_URI%", fields.Get("Uri"));
    FillMarkup(text, "%TPL_TOGGLE_BLOCKED_SITES_TITLE%", EnabledDisabled(http->GetIsBlockedSitesEnabled()));
    FillMarkup(text, "%TPL_BLOCKED_SITES%", Rows(id, true));
    FillMarkup(text, "%TPL_TOGGLE_TRUSTED_SITES_TITLE%", EnabledDisabled(http->GetIsTrustedSitesEnabled()));
    FillMarkup(text, "%TPL_FIX_BUTTON_TITLE%", http->GetIsTrustedSitesFixed() ? "<b>FIXED</b>" : "Unfixed");
    FillText(text, "%TPL_FIX_LABEL%", http->GetIsTrustedSitesFixed() ? "Attantion: Fixed Mode." : "");
    FillMarkup(text, "%TPL_TRUSTED_SITES%", Rows(id, false));
    FillGroup(text, *group);
    return PresetOr(preset);
}

void SitesModule::FillForm(std::string& text, const DataModel::CustomerSite* site,
                           const FormFields& fields) const {
    text = m_form;
    FillText(text, "%TPL_GROUP_ID%", site ? fields.Get("ClientGroupID") : "");
    FillText(text, "%TPL_ID%", site ? site->GetID() : "");
    FillText(text, "%TPL_URL%", site ? SiteUri(*site) : "");
    FillText(text, "%TPL_ISBLOCKED%", site ? (site->GetIsBlocked() ? "1" : "0") : "");
    FillText(text, "%TPL_SAVE_ACTION%", site && site->GetID().empty() ? "SaveNew" : "SaveEdit");
}

AdminPluginRet SitesModule::SaveNew(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    AdminPluginRet result = RequireGroup(fields);
    if (result.IsOK()) {
        const std::unique_ptr<DataModel::CustomerSite> site =
            model.CreateCustomerSite(IsBlockedField(fields));
        site->SetUrl(UrlText(fields));
        result = model.SaveCustomerSite(fields.Get("ClientGroupID"), *site);
    }
    return Get(fields, text, result);
}

AdminPluginRet SitesModule::GetEdit(FormFields& fields, std::string& text) {
    std::unique_ptr<DataModel::CustomerSite> site;
    AdminPluginRet found =
        Plugin().GetModel().GetCustomerSite(fields.Get("ClientGroupID"), fields.Get("ID"), site);
    FillForm(text, found.IsOK() ? site.get() : nullptr, fields);
    return found;
}

AdminPluginRet SitesModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::CustomerSite> site;
    const AdminPluginRet found = model.GetCustomerSite(fields.Get("ClientGroupID"), fields.Get("ID"), site);
    return SaveStored(
        found, std::move(site), [&](DataModel::CustomerSite& stored) { stored.SetUrl(UrlText(fields)); },
        [&](const DataModel::CustomerSite& stored) {
            return model.SaveCustomerSite(fields.Get("ClientGroupID"), stored);
        },
        [&](const DataModel::CustomerSite* stored) { FillForm(text, stored, fields); },
        [&](const AdminPluginRet&) { return Get(fields, text); });
}

AdminPluginRet SitesModule::Delete(FormFields& fields, std::string& text) {
    AdminPluginRet result = RequireGroup(fields);
    if (result.IsOK()) {
        const bool blocked = IsBlockedField(fields);
        result = Plugin().GetModel().DeleteCustomerSites(
            fields.Get("ClientGroupID"), blocked,
            fields.GetAll(blocked ? "BlockedSiteDeleteID" : "TrustedSiteDeleteID"));
    }
    return Get(fields, text, result);
}

AdminPluginRet SitesModule::Toggle(FormFields& fields, std::string& text) {
    const AdminPluginRet saved =
        ToggleProtocolSettings(Plugin().GetModel(), fields, DataModel::PST_HTTP,
                               [](DataModel::ProtocolSettings& settings, const std::string& what) {
                                   if (auto* http = dynamic_cast<HTTP*>(&settings))
                                       FlipSwitch(*http, siteSwitches, what);
                               });
    return Get(fields, text, saved);
}

AdminPluginRet SitesModule::TestURI(FormFields& fields, std::string& text) {
    AdminPluginRet result = RequireGroup(fields);
    if (result.IsOK()) {
        const std::string url = UrlText(fields);
        uri parsed;
        if (parsed.parse_absolute(url.data(), url.data() + url.size()))
            result = AdminPluginRet(Ret::OK,
                                    Lines(Plugin().GetModel().GetInfo(fields.Get("ClientGroupID"), parsed)));
        else
            result = AdminPluginRet(Ret::ERR, "URL (" + url + ") is incorrect.");
    }
    return Get(fields, text, result);
}

} // namespace tav::http::admin
