#include "ProtocolSettingsModule.hpp"

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <vector>

namespace tav::http::admin {

namespace {

using PS = DataModel::ProtocolSettings;
using HTTP = DataModel::HTTPProtocolSettings;
using Words = DataModel::BlockedUrlWordManager;

// The switches every protocol has, and those of the word lists and of HTTP alone.
const std::vector<Switch<PS>> commonSwitches = {
    {"Network", &PS::GetIsNetworkEnabled, &PS::SetIsNetworkEnabled},
    {"Filtration", &PS::GetIsFiltrationEnabled, &PS::SetIsFiltrationEnabled},
    {"CanAccessByIP", &PS::GetCanAccessByIP, &PS::SetCanAccessByIP},
};
const std::vector<Switch<Words>> wordSwitches = {
    {"BlockedUrlWords", &Words::GetIsBlockedUrlWordsEnabled, &Words::SetIsBlockedUrlWordsEnabled},
};
const std::vector<Switch<HTTP>> httpSwitches = {
    {"InnerBlockedDB", &HTTP::GetIsInnerBlockedDBEnabled, &HTTP::SetIsInnerBlockedDBEnabled},
    {"InnerTrustedDB", &HTTP::GetIsInnerTrustedDBEnabled, &HTTP::SetIsInnerTrustedDBEnabled},
    {"BlockedSites", &HTTP::GetIsBlockedSitesEnabled, &HTTP::SetIsBlockedSitesEnabled},
    {"TrustedSites", &HTTP::GetIsTrustedSitesEnabled, &HTTP::SetIsTrustedSitesEnabled},
    {"ContentFiltration", &HTTP::GetIsContentFiltrationEnabled, &HTTP::SetIsContentFiltrationEnabled},
};

} // namespace

ProtocolSettingsModule::ProtocolSettingsModule(AdminPlugin& plugin, DataModel::ProtocolSettingsType type,
                                               const std::string& page)
    : ToggleModule(plugin), m_type(type) {
    AddTemplate("/pages/templates/" + page, m_page);
}

AdminPluginRet ProtocolSettingsModule::Get(FormFields& fields, std::string& text,
                                           const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    std::unique_ptr<PS> settings;
    AdminPluginRet found = OpenGroupPage(model, fields, m_page, text, group, m_type, settings);
    if (!found.IsOK())
        return found;
    const std::string& id = group->GetID();
    FillMarkup(text, "%TPL_TOGGLE_NETWORK_BUTTON_TITLE%", OnOff(settings->GetIsNetworkEnabled()));
    FillMarkup(text, "%TPL_TOGGLE_FILTRATION_BUTTON_TITLE%", OnOff(settings->GetIsFiltrationEnabled()));
    FillMarkup(text, "%TPL_TOGGLE_CANACCESSBYIP_BUTTON_TITLE%", OnOff(settings->GetCanAccessByIP()));
    if (const auto* words = dynamic_cast<const Words*>(settings.get())) {
        std::vector<boost::shared_ptr<DataModel::BlockedUrlWord>> list;
        const AdminPluginRet listed = model.GetBlockedUrlWords(id, m_type, list);
        if (!listed.IsOK())
            return listed;
        FillText(text, "%BLOCKEDURLWORDS_INFO%", std::to_string(list.size()) + " word in list");
        FillMarkup(text, "%TPL_TOGGLE_BLOCKEDURLWORDS_BUTTON_TITLE%",
                   EnabledDisabled(words->GetIsBlockedUrlWordsEnabled()));
    }
    if (const auto* http = dynamic_cast<const HTTP*>(settings.get())) {
        std::vector<DataModel::CustomerSite*> blocked;
        std::vector<DataModel::CustomerSite*> trusted;
        AdminPluginRet listed = model.GetCustomerSites(id, true, blocked);
        if (listed.IsOK())
            listed = model.GetCustomerSites(id, false, trusted);
        if (!listed.IsOK())
            return listed;
        FillMarkup(text, "%TPL_TOGGLE_INNER_BLOCKED_DB_TITLE%",
                   EnabledDisabled(http->GetIsInnerBlockedDBEnabled()));
        FillMarkup(text, "%TPL_TOGGLE_INNER_TRUSTED_DB_TITLE%",
                   EnabledDisabled(http->GetIsInnerTrustedDBEnabled()));
        FillText(text, "%SITES_INFO_BLOCKED%", std::to_string(blocked.size()));
        FillText(text, "%SITES_INFO_TRUSTED%",
                 std::to_string(trusted.size()) + (http->GetIsTrustedSitesFixed() ? " FIXED" : ""));
        FillMarkup(text, "%TPL_TOGGLE_BLOCKED_SITES_TITLE%",
                   EnabledDisabled(http->GetIsBlockedSitesEnabled()));
        FillMarkup(text, "%TPL_TOGGLE_TRUSTED_SITES_TITLE%",
                   EnabledDisabled(http->GetIsTrustedSitesEnabled()));
        FillText(text, "%CONTENTFILTRATION_INFO%", "");
        FillMarkup(text, "%TPL_TOGGLE_CONTENTFILTRATION_BUTTON_TITLE%",
                   EnabledDisabled(http->GetIsContentFiltrationEnabled()));
    }
    FillGroup(text, *group);
    return PresetOr(preset);
}

AdminPluginRet ProtocolSettingsModule::Toggle(FormFields& fields, std::string& text) {
    const AdminPluginRet saved = ToggleProtocolSettings(Plugin().GetModel(), fields, m_type,
                                                        [](PS& settings, const std::string& what) {
                                                            FlipSwitch(settings, commonSwitches, what);
                                                            if (auto* words = dynamic_cast<Words*>(&settings))
                                                                FlipSwitch(*words, wordSwitches, what);
                                                            if (auto* http = dynamic_cast<HTTP*>(&settings))
                                                                FlipSwitch(*http, httpSwitches, what);
                                                        });
    return Get(fields, text, saved);
}

} // namespace tav::http::admin
