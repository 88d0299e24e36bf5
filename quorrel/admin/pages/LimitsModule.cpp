#include "LimitsModule.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <charconv>
#include <vector>

namespace tav::http::admin {

namespace {

using Group = DataModel::ClientGroup;

// Whether a typed limit is blank or a whole number that the policy can hold.
bool IsLimitText(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    if (trimmed.empty())
        return true;
    std::int32_t value = 0;
    const char* end = trimmed.data() + trimmed.size();
    const auto read = std::from_chars(trimmed.data(), end, value);
    return read.ec == std::errc() && read.ptr == end && value != EMPTY_VALUE;
}

} // namespace

const LimitsModule::Kind LimitsModule::timeLimits = {
    "TimeLimits.tpl.html",
    "TimeLimits_TableRow.tpl.html",
    "%TPL_TIMELIMIT_VALUE_",
    "%TPL_ISTIMELIMITS_ENABLED%",
    "IsTimeLimitsEnabled",
    "TimeLimit_",
    "TimeLimitEx_",
    "time limit",
    &Group::GetIsTimeLimitsEnabled,
    &Group::SetIsTimeLimitsEnabled,
    &Group::GetTimeLimit,
    &Group::SetTimeLimit,
};

const LimitsModule::Kind LimitsModule::trafficLimits = {
    "TrafficLimits.tpl.html",
    "TrafficLimits_TableRow.tpl.html",
    "%TPL_TRAFFICLIMIT_VALUE_",
    "%TPL_ISTRAFFICLIMITS_ENABLED%",
    "IsTrafficLimitsEnabled",
    "TrafficLimit_",
    nullptr,
    "traffic limit",
    &Group::GetIsTrafficLimitsEnabled,
    &Group::SetIsTrafficLimitsEnabled,
    &Group::GetTrafficLimit,
    &Group::SetTrafficLimit,
};

LimitsModule::LimitsModule(AdminPlugin& plugin, const Kind& kind) : WebModule(plugin), m_kind(kind) {
    AddTemplate(std::string("/pages/templates/") + kind.page, m_page);
    AddTemplate(std::string("/pages/templates/") + kind.row, m_row);
}

void LimitsModule::FillPage(std::string& text, const Group& group) const {
    text = m_page;
    std::string rows;
    for (unsigned day = 0; day < Group::DAYS; ++day) {
        FillText(text, m_kind.value + std::to_string(day) + "%", ToString((group.*m_kind.get)(day)));
        std::string row = m_row;
        FillText(row, "%TPL_WEEK_DAY_NAME%", Group::DayName(day));
        FillText(row, "%TPL_WEEK_DAY_IDX%", std::to_string(day));
        rows += row;
    }
    FillMarkup(text, "%TPL_TABLE_ROWS%", rows);
    FillText(text, m_kind.checkBox, Checked((group.*m_kind.isEnabled)()));
    FillGroup(text, group);
}

AdminPluginRet LimitsModule::Get(FormFields& fields, std::string& text,
                                 const std::optional<AdminPluginRet>& preset) {
    std::unique_ptr<Group> group;
    AdminPluginRet found = OpenGroupPage(Plugin().GetModel(), fields, m_page, text, group);
    if (!found.IsOK())
        return found;
    FillPage(text, *group);
    return PresetOr(preset);
}

AdminPluginRet LimitsModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<Group> group;
    AdminPluginRet result = RequireGroup(fields);
    if (result.IsOK())
        result = FindGroup(model, fields, group);
    if (!result.IsOK())
        return Get(fields, text, result);
    const bool enabled = IsChecked(fields, m_kind.enabledField);
    (group.get()->*m_kind.setEnabled)(enabled);
    std::vector<std::string> unreadable;
    for (unsigned day = 0; enabled && day < Group::DAYS; ++day) {
        const std::string index = std::to_string(day);
        std::string value = fields.Get(m_kind.field + index);
        if (value.empty() && m_kind.fallbackField != nullptr)
            value = fields.Get(m_kind.fallbackField + index);
        if (IsLimitText(value))
            (group.get()->*m_kind.set)(day, ToInt(value));
        else
            unreadable.push_back(std::string("The ") + m_kind.what + " value for " + Group::DayName(day) +
                                 " must be a whole number");
    }
    AdminPluginRet saved = unreadable.empty() ? AdminPluginRet(model.SaveClientGroup(*group))
                                              : AdminPluginRet(Ret::ERR, unreadable);
    if (!saved.IsOK()) {
        FillPage(text, *group);
        return saved;
    }
    return ShowPage("GeneralProtocolSettings", fields, text, saved);
}

} // namespace tav::http::admin
