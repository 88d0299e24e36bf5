#include "GeneralProtocolSettingsModule.hpp"

#include <quorrel/Category.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <functional>
#include <vector>

namespace tav::http::admin {

namespace {

using Group = DataModel::ClientGroup;

const std::vector<Switch<Group>> groupSwitches = {
    {"TimeTable", &Group::GetIsTimeTableEnabled, &Group::SetIsTimeTableEnabled},
    {"TimeLimits", &Group::GetIsTimeLimitsEnabled, &Group::SetIsTimeLimitsEnabled},
    {"TrafficLimits", &Group::GetIsTrafficLimitsEnabled, &Group::SetIsTrafficLimitsEnabled},
    {"OtherTraffic", &Group::GetIsOtherTrafficEnabled, &Group::SetIsOtherTrafficEnabled},
};

// "Sun:" + what `day` gives for Sunday, and so on for every weekday, joined by ", ".
std::string PerDay(const std::function<std::string(unsigned)>& day) {
    std::string info;
    for (unsigned d = 0; d < Group::DAYS; ++d)
        info += (d == 0 ? "" : ", ") + std::string(Group::DayName(d)) + ":" + day(d);
    return info;
}

void Join(std::string& list, const std::string& name) {
    list += (list.empty() ? "" : ", ") + name;
}

} // namespace

GeneralProtocolSettingsModule::GeneralProtocolSettingsModule(AdminPlugin& plugin) : ToggleModule(plugin) {
    AddTemplate("/pages/templates/GeneralProtocolSettings.tpl.html", m_page);
}

std::string GeneralProtocolSettingsModule::TimeTableInfo(const Group& group) {
    const std::string& table = group.GetTimeTable();
    const std::size_t slots = Group::TIME_TABLE_LENGTH / Group::DAYS;
    return PerDay([&](unsigned day) {
        // The first half of each hour stands for the hour.
        int hours = 0;
        for (std::size_t slot = 0; slot < slots; slot += 2) {
            const std::size_t at = day * slots + slot;
            hours += at < table.size() && table[at] == '1' ? 1 : 0;
        }
        return std::to_string(hours * 2 * 100 / static_cast<int>(slots)) + "%";
    });
}

std::string GeneralProtocolSettingsModule::TimeLimitsInfo(const Group& group) {
    return PerDay([&](unsigned day) { return ToString(group.GetTimeLimit(day)) + "min"; });
}

std::string GeneralProtocolSettingsModule::TrafficLimitsInfo(const Group& group) {
    return PerDay([&](unsigned day) -> std::string {
        const std::int32_t limit = group.GetTrafficLimit(day);
        if (limit == EMPTY_VALUE)
            return "unlimited";
        return limit < 1 ? "blocked" : std::to_string(limit) + "mb";
    });
}

AdminPluginRet GeneralProtocolSettingsModule::Get(FormFields& fields, std::string& text,
                                                  const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    std::unique_ptr<Group> group;
    AdminPluginRet found = OpenGroupPage(model, fields, m_page, text, group);
    if (!found.IsOK())
        return found;
    std::string blocked;
    std::string allowed;
    for (const DataModel::Category* category : SortedCategories(model))
        Join(model.IsAllowedCategoryForClientGroup(group->GetID(), category->GetID()) ? allowed : blocked,
             category->GetName());
    FillText(text, "%BLOCKEDCATEGORIES_INFO_BLOCKED%", blocked);
    FillText(text, "%BLOCKEDCATEGORIES_INFO_ALLOWED%", allowed);
    FillText(text, "%TIMETABLE_INFO%", TimeTableInfo(*group));
    FillMarkup(text, "%TPL_TOGGLE_TIMETABLE_BUTTON_TITLE%", EnabledDisabled(group->GetIsTimeTableEnabled()));
    FillText(text, "%TIMELIMITS_INFO%", TimeLimitsInfo(*group));
    FillMarkup(text, "%TPL_TOGGLE_TIMELIMITS_BUTTON_TITLE%",
               EnabledDisabled(group->GetIsTimeLimitsEnabled()));
    FillMarkup(text, "%TPL_TOGGLE_OTHERTRAFFIC_BUTTON_TITLE%",
               EnabledDisabled(group->GetIsOtherTrafficEnabled()));
    FillText(text, "%TRAFFICLIMITS_INFO%", TrafficLimitsInfo(*group));
    FillMarkup(text, "%TPL_TOGGLE_TRAFFICLIMITS_BUTTON_TITLE%",
               EnabledDisabled(group->GetIsTrafficLimitsEnabled()));
    FillGroup(text, *group);
    return PresetOr(preset);
}

AdminPluginRet GeneralProtocolSettingsModule::Toggle(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<Group> group;
    AdminPluginRet result = FindGroup(model, fields, group);
    if (result.IsOK()) {
        FlipSwitch(*group, groupSwitches, fields.Get("ToggleWhat"));
        result = model.SaveClientGroup(*group);
    }
    return Get(fields, text, result);
}

} // namespace tav::http::admin
