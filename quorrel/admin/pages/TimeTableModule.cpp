#include "TimeTableModule.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

TimeTableModule::TimeTableModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/TimeTable.tpl.html", m_page);
}

AdminPluginRet TimeTableModule::Get(FormFields& fields, std::string& text,
                                    const std::optional<AdminPluginRet>& preset) {
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = OpenGroupPage(Plugin().GetModel(), fields, m_page, text, group);
    if (!found.IsOK())
        return found;
    FillText(text, "%TIME_TABLE%", group->GetTimeTable());
    FillText(text, "%TPL_ISTIMETABLE_ENABLED%", Checked(group->GetIsTimeTableEnabled()));
    FillGroup(text, *group);
    return PresetOr(preset);
}

AdminPluginRet TimeTableModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet result = RequireGroup(fields);
    if (result.IsOK())
        result = FindGroup(model, fields, group);
    if (!result.IsOK())
        return Get(fields, text, result);
    group->SetTimeTable(fields.Get("TimeTable"));
    group->SetIsTimeTableEnabled(IsChecked(fields, "IsTimeTableEnabled"));
    const AdminPluginRet saved = model.SaveClientGroup(*group);
    if (!saved.IsOK())
        return Get(fields, text, saved);
    return ShowPage("GeneralProtocolSettings", fields, text, saved);
}

} // namespace tav::http::admin
