#include "ContentFiltrationModule.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <vector>

namespace tav::http::admin {

namespace {

using HTTP = DataModel::HTTPProtocolSettings;

const std::vector<Switch<HTTP>> filterSwitches = {
    {"ContentFiltration", &HTTP::GetIsContentFiltrationEnabled, &HTTP::SetIsContentFiltrationEnabled},
    {"ContentTypes", &HTTP::GetIsContentTypesEnabled, &HTTP::SetIsContentTypesEnabled},
    {"InapContentWords", &HTTP::GetIsInapContentWordsEnabled, &HTTP::SetIsInapContentWordsEnabled},
};

DataModel::SeverityLevels SeverityField(const FormFields& fields) {
    return static_cast<DataModel::SeverityLevels>(ToInt(fields.Get("SeverityLevel")));
}

} // namespace

ContentFiltrationModule::ContentFiltrationModule(AdminPlugin& plugin) : ToggleModule(plugin) {
    AddTemplate("/pages/templates/ContentFiltration.tpl.html", m_page);
}

AdminPluginRet ContentFiltrationModule::Get(FormFields& fields, std::string& text,
                                            const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    AdminPluginRet found = OpenGroupPage(model, fields, m_page, text, group, DataModel::PST_HTTP, settings);
    if (!found.IsOK())
        return found;
    const auto* http = dynamic_cast<const HTTP*>(settings.get());
    FillMarkup(text, "%TPL_TOGGLE_CONTENTFILTRATION_BUTTON_TITLE%",
               EnabledDisabled(http->GetIsContentFiltrationEnabled()));
    FillText(text, "%TPL_ISCONTENTFILTRATION_ENABLED%", Checked(http->GetIsContentFiltrationEnabled()));
    FillText(text, "%TPL_SEVERITYLEVEL%", ToString(http->GetSeverityLevel()));
    FillMarkup(text, "%TPL_TOGGLE_INAPCONTENTWORDS_TITLE%",
               EnabledDisabled(http->GetIsInapContentWordsEnabled()));
    FillText(text, "%INAPCONTENTWORDS_INFO%",
             std::to_string(http->GetInapContentWords().size()) + " words in list");
    FillMarkup(text, "%TPL_TOGGLE_CONTENTTYPES_TITLE%", EnabledDisabled(http->GetIsContentTypesEnabled()));
    FillText(text, "%CONTENTTYPES_INFO%",
             std::to_string(http->GetContentTypes().size()) + " content-types in list");
    FillGroup(text, *group);
    return PresetOr(preset);
}

AdminPluginRet ContentFiltrationModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    AdminPluginRet found = RequireGroup(fields);
    if (found.IsOK())
        found = FindGroup(model, fields, group);
    if (found.IsOK())
        found = model.GetProtocolSettings(group->GetID(), DataModel::PST_HTTP, settings);
    auto* http = dynamic_cast<HTTP*>(settings.get());
    if (!found.IsOK() || http == nullptr)
        return Get(fields, text, found);
    http->SetIsContentFiltrationEnabled(IsChecked(fields, "IsContentFiltrationEnabled"));
    if (http->GetIsContentFiltrationEnabled())
        http->SetSeverityLevel(SeverityField(fields));
    const AdminPluginRet stored = model.SaveProtocolSettings(group->GetID(), *http);
    return ShowPage("HTTPProtocolSettings", fields, text,
                    stored.IsOK() ? std::nullopt : std::optional<AdminPluginRet>(stored));
}

AdminPluginRet ContentFiltrationModule::Toggle(FormFields& fields, std::string& text) {
    const AdminPluginRet saved =
        ToggleProtocolSettings(Plugin().GetModel(), fields, DataModel::PST_HTTP,
                               [&fields](DataModel::ProtocolSettings& settings, const std::string& what) {
                                   auto* http = dynamic_cast<HTTP*>(&settings);
                                   if (http == nullptr)
                                       return;
                                   FlipSwitch(*http, filterSwitches, what);
                                   if (what == "SeverityLevel")
                                       http->SetSeverityLevel(SeverityField(fields));
                               });
    return Get(fields, text, saved);
}

} // namespace tav::http::admin
