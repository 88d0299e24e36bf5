#include "ClientGroupsModule.hpp"
#include "ClientsModule.hpp"

#include <quorrel/Category.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/HTTPSProtocolSettings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace tav::http::admin {

namespace {

// Longer names would break every page that shows them; the policy file itself sets no bound.
constexpr std::size_t maxNameLength = 100;

// Copies of the groups of the model sorted by name.
std::vector<std::unique_ptr<DataModel::ClientGroup>> SortedGroups(const DataModel& model) {
    std::vector<std::unique_ptr<DataModel::ClientGroup>> groups = model.CopyClientGroups();
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto& a, const auto& b) { return a->GetName() < b->GetName(); });
    return groups;
}

// A restriction of the safe search block, as "What" names it.
struct Restriction {
    const char* what;
    const char* title;
    std::int32_t (DataModel::HTTPSProtocolSettings::*get)() const;
    void (DataModel::HTTPSProtocolSettings::*set)(std::int32_t);
};

const Restriction restrictions[] = {
    {"search", "Safe search", &DataModel::HTTPSProtocolSettings::GetSafeSearch,
     &DataModel::HTTPSProtocolSettings::SetSafeSearch},
    {"youtube", "YouTube restricted mode", &DataModel::HTTPSProtocolSettings::GetYouTubeRestrict,
     &DataModel::HTTPSProtocolSettings::SetYouTubeRestrict},
};

// The levels of a restriction by their number, as the messages say them.
const char* const levels[] = {"off", "moderate", "strict"};
constexpr std::int32_t levelCount = 3;

const Restriction* RestrictionOf(const std::string& what) {
    for (const Restriction& restriction : restrictions)
        if (what == restriction.what)
            return &restriction;
    return nullptr;
}

std::optional<std::int32_t> LevelOf(const std::string& text) {
    for (std::int32_t level = 0; level < levelCount; ++level)
        if (text == std::to_string(level))
            return level;
    return std::nullopt;
}

// A moment as the pages say it, by the model's clock: "18:15".
std::string ClockTime(const Clock& clock, std::int64_t time) {
    const std::tm local = clock.LocalTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

// When the group's pause ends, "18:15"; empty when it is not paused now.
std::string PausedUntil(const DataModel::ClientGroup& group, const Clock& clock) {
    return group.GetPausedUntil() > clock.Now() ? ClockTime(clock, group.GetPausedUntil()) : "";
}

// The next local midnight after `now`. A day is an hour shorter or longer when the clocks change, so the
// guess of 24 hours after the last midnight is moved to the midnight nearest to it.
std::int64_t NextMidnight(const Clock& clock, std::int64_t now) {
    const auto sinceMidnight = [&clock](std::int64_t time) {
        const std::tm local = clock.LocalTime(time);
        return std::int64_t{local.tm_hour} * 3600 + std::int64_t{local.tm_min} * 60 + local.tm_sec;
    };
    const std::int64_t guess = now + 86400 - sinceMidnight(now);
    const std::int64_t off = sinceMidnight(guess);
    return off < 43200 ? guess - off : guess + 86400 - off;
}

// When the pause that "Minutes" asks for ends: 0 to resume; nothing for a choice the page does not offer.
std::optional<std::int64_t> PauseEnd(const std::string& choice, const Clock& clock) {
    if (choice == "15" || choice == "60")
        return clock.Now() + std::stoll(choice) * 60;
    if (choice == "tomorrow")
        return NextMidnight(clock, clock.Now());
    if (choice == "0")
        return 0;
    return std::nullopt;
}

} // namespace

ClientGroupsModule::ClientGroupsModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/ClientGroups.tpl.html", m_list);
    AddTemplate("/pages/templates/ClientGroups_TableRow.tpl.html", m_row);
    AddTemplate("/pages/templates/ClientGroupForm.tpl.html", m_form);
    AddTemplate("/pages/templates/NvgMenuClientGroups.tpl.html", m_menu);
    AddTemplate("/pages/templates/NvgMenuClientGroups_TableRow.tpl.html", m_menuRow);
    AddTemplate("/pages/templates/NvgMenuClientGroups_AllGroupsLink.tpl.html", m_allGroupsLink);
    AddTemplate("/pages/templates/ClientGroupForm_SafeSearch.tpl.html", m_safeSearchRow);
    AddTemplate("/pages/templates/HomePage_RightNow.tpl.html", m_rightNow);
    AddTemplate("/pages/templates/HomePage_RightNow_PausedRow.tpl.html", m_pausedRow);
    AddTemplate("/pages/templates/HomePage_RightNow_ExtraTimeRow.tpl.html", m_extraTimeRow);
}

AdminPluginRet ClientGroupsModule::ExecuteAction(FormFields& fields, std::string& text) {
    const std::string action = fields.Get("Action");
    if (action == "Pause")
        return Change(fields, text, [&] { return Pause(fields, text); });
    if (action == "SafeSearch")
        return Change(fields, text, [&] { return SetSafeSearch(fields, text); });
    return WebModule::ExecuteAction(fields, text);
}

std::string ClientGroupsModule::NavigationMenu(bool withAllGroupsLink) const {
    std::string rows;
    for (const auto& group : SortedGroups(Plugin().GetModel())) {
        std::string row = m_menuRow;
        FillText(row, "%TPL_ID%", group->GetID());
        FillText(row, "%TPL_NAME%", group->GetName());
        rows += row;
    }
    std::string menu = m_menu;
    FillMarkup(menu, "%TPL_LINK_ALL_GROUPS%", withAllGroupsLink ? m_allGroupsLink : "");
    FillMarkup(menu, "%TPL_TABLE_ROWS%", rows);
    return menu;
}

void ClientGroupsModule::FillRightNow(std::string& page) const {
    const DataModel& model = Plugin().GetModel();
    std::string rows;
    for (const auto& group : SortedGroups(model)) {
        const std::string until = PausedUntil(*group, model.GetClock());
        if (until.empty())
            continue;
        std::string row = m_pausedRow;
        FillText(row, "%TPL_GROUP_ID%", group->GetID());
        FillText(row, "%TPL_NAME%", group->GetName());
        FillText(row, "%TPL_PAUSED_UNTIL%", until);
        rows += row;
    }
    std::vector<std::unique_ptr<DataModel::Client>> clients = model.CopyClients("");
    std::stable_sort(clients.begin(), clients.end(),
                     [](const auto& a, const auto& b) { return a->GetIP() < b->GetIP(); });
    for (const auto& client : clients) {
        const std::int32_t extra = model.GetExtraMinutesToday(*client);
        if (extra <= 0)
            continue;
        std::string row = m_extraTimeRow;
        FillText(row, "%TPL_NAME%", client->GetDisplayName());
        FillText(row, "%TPL_EXTRA_TODAY%", ClientsModule::ExtraTodayText(extra));
        FillText(row, "%TPL_TIME_LEFT%",
                 ClientsModule::TimeLeftText(model.GetRemainingMinutesToday(*client)));
        rows += row;
    }
    std::string section = rows.empty() ? "" : m_rightNow;
    FillMarkup(section, "%TPL_TABLE_ROWS%", rows);
    FillMarkup(page, "%TPL_RIGHT_NOW%", section);
}

void ClientGroupsModule::FillForm(std::string& text, const DataModel::ClientGroup* group) const {
    const bool stored = group && !group->GetID().empty();
    const Clock& clock = Plugin().GetModel().GetClock();
    const std::string until = stored ? PausedUntil(*group, clock) : "";
    text = m_form;
    FillText(text, "%TPL_GROUP_ID%", group ? group->GetID() : "");
    FillText(text, "%TPL_NAME%", group ? group->GetName() : "");
    FillText(text, "%TPL_CAN_ACCESS_BY_IP%", "");
    FillText(text, "%TPL_SAVE_ACTION%", stored ? "SaveEdit" : "SaveNew");
    FillText(text, "%TPL_ACTIVITY_HIDDEN%", stored ? "" : "hidden");
    FillText(text, "%TPL_CONTROLS_HIDDEN%", stored ? "" : "hidden");
    FillText(text, "%TPL_PAUSED_HIDDEN%", until.empty() ? "hidden" : "");
    FillText(text, "%TPL_PAUSED_UNTIL%", until);
    FillMarkup(text, "%TPL_SAFE_SEARCH%", stored ? SafeSearchRows(*group) : "");
}

std::string ClientGroupsModule::SafeSearchRows(const DataModel::ClientGroup& group) const {
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    const auto* https =
        Plugin().GetModel().GetProtocolSettings(group.GetID(), DataModel::PST_HTTPS, settings).IsOK()
            ? dynamic_cast<const DataModel::HTTPSProtocolSettings*>(settings.get())
            : nullptr;
    std::string rows;
    for (const Restriction& restriction : restrictions) {
        const std::int32_t current = https ? (https->*restriction.get)() : -1;
        std::string row = m_safeSearchRow;
        FillText(row, "%TPL_GROUP_ID%", group.GetID());
        FillText(row, "%TPL_WHAT%", restriction.what);
        FillText(row, "%TPL_TITLE%", restriction.title);
        for (std::int32_t level = 0; level < levelCount; ++level) {
            const std::string number = std::to_string(level);
            FillText(row, "%TPL_PRESSED_" + number + "%", level == current ? "true" : "false");
            FillText(row, "%TPL_CURRENT_" + number + "%", level == current ? "current" : "");
        }
        rows += row;
    }
    return rows;
}

AdminPluginRet ClientGroupsModule::ShowForm(FormFields& fields, std::string& text,
                                            const AdminPluginRet& result) {
    std::unique_ptr<DataModel::ClientGroup> group;
    const AdminPluginRet found = FindGroup(Plugin().GetModel(), fields, group);
    FillForm(text, group.get());
    return found.IsOK() ? result : found;
}

AdminPluginRet ClientGroupsModule::ShowAfterControl(FormFields& fields, std::string& text,
                                                    const AdminPluginRet& result) {
    if (fields.Get("Back") != "Home")
        return ShowForm(fields, text, result);
    ShowPage("HomePage", fields, text, result);
    return result;
}

AdminPluginRet ClientGroupsModule::Pause(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet paused = FindGroup(model, fields, group);
    const std::optional<std::int64_t> until = PauseEnd(fields.Get("Minutes"), model.GetClock());
    if (paused.IsOK() && !until)
        paused = AdminPluginRet(Ret::ERR, "A pause is 15 or 60 minutes, until tomorrow, or 0 to resume");
    if (paused.IsOK())
        paused = AdminPluginRet(model.PauseClientGroup(group->GetID(), *until));
    if (paused.IsOK())
        paused = AdminPluginRet(Ret::OK, *until == 0 ? "The group is no longer paused."
                                                     : "The group is paused until " +
                                                           ClockTime(model.GetClock(), *until) + ".");
    return ShowAfterControl(fields, text, paused);
}

AdminPluginRet ClientGroupsModule::SetSafeSearch(FormFields& fields, std::string& text) {
    const Restriction* restriction = RestrictionOf(fields.Get("What"));
    const std::optional<std::int32_t> level = LevelOf(fields.Get("Level"));
    AdminPluginRet set(Ret::OK, "");
    if (restriction == nullptr)
        set = AdminPluginRet(Ret::ERR, "Choose safe search (search) or YouTube restricted mode (youtube)");
    else if (!level)
        set = AdminPluginRet(Ret::ERR, "The level is 0 (off), 1 (moderate) or 2 (strict)");
    else
        set = ToggleProtocolSettings(Plugin().GetModel(), fields, DataModel::PST_HTTPS,
                                     [&](DataModel::ProtocolSettings& settings, const std::string&) {
                                         if (auto* https =
                                                 dynamic_cast<DataModel::HTTPSProtocolSettings*>(&settings))
                                             (https->*restriction->set)(*level);
                                     });
    if (set.IsOK())
        set = AdminPluginRet(Ret::OK, std::string(restriction->title) + " is now " + levels[*level] + ".");
    return ShowAfterControl(fields, text, set);
}

AdminPluginRet ClientGroupsModule::ReadName(const FormFields& fields, DataModel::ClientGroup& group) {
    group.SetName(TrimBlanks(fields.Get("Name")));
    if (group.GetName().size() > maxNameLength)
        return AdminPluginRet(Ret::ERR,
                              "The Name must be " + std::to_string(maxNameLength) + " characters or fewer");
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ClientGroupsModule::GetList(FormFields& /*fields*/, std::string& text,
                                           const std::optional<AdminPluginRet>& preset) {
    std::string rows;
    for (const auto& group : SortedGroups(Plugin().GetModel())) {
        std::string row = m_row;
        FillText(row, "%TPL_ID%", group->GetID());
        FillText(row, "%TPL_NAME%", group->GetName());
        const std::string until = PausedUntil(*group, Plugin().GetModel().GetClock());
        FillText(row, "%TPL_STATE%", until.empty() ? "" : "Paused until " + until);
        rows += row;
    }
    text = m_list;
    FillMarkup(text, "%TPL_TABLE_ROWS%", rows);
    return PresetOr(preset);
}

AdminPluginRet ClientGroupsModule::GetNew(FormFields& /*fields*/, std::string& text) {
    FillForm(text, Plugin().GetModel().CreateClientGroup().get());
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ClientGroupsModule::SaveNew(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const std::unique_ptr<DataModel::ClientGroup> group = model.CreateClientGroup();
    AdminPluginRet saved = ReadName(fields, *group);
    if (saved.IsOK())
        saved = model.SaveClientGroup(*group);
    if (!saved.IsOK()) {
        FillForm(text, group.get());
        return saved;
    }
    // A new group blocks every category but web chat and web mail.
    const std::vector<std::string> blocked = {DataModel::CAT_VIOLENCE.GetID(),
                                              DataModel::CAT_HATE_SPEECH.GetID(),
                                              DataModel::CAT_PORNOGRAPHY.GetID(),
                                              DataModel::CAT_GAMBLING.GetID(),
                                              DataModel::CAT_MATURE_CONTENT.GetID(),
                                              DataModel::CAT_DRUGS.GetID(),
                                              DataModel::CAT_HACKING_AND_SPYWARE.GetID(),
                                              DataModel::CAT_WEAPONS.GetID(),
                                              DataModel::CAT_SEX_EDUCATION.GetID(),
                                              DataModel::CAT_BOMB_MAKING.GetID(),
                                              DataModel::CAT_ALCOHOL.GetID(),
                                              DataModel::CAT_TOBACCO.GetID(),
                                              DataModel::CAT_OBSCENE.GetID()};
    const AdminPluginRet blocking = model.SetBlockedCategories(group->GetID(), blocked);
    fields.Set("ClientGroupID", group->GetID());
    return GetList(fields, text, blocking.IsOK() ? saved : blocking);
}

AdminPluginRet ClientGroupsModule::GetEdit(FormFields& fields, std::string& text) {
    return ShowForm(fields, text, AdminPluginRet(Ret::OK, ""));
}

AdminPluginRet ClientGroupsModule::SaveEdit(FormFields& fields, std::string& text) {
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = FindGroup(Plugin().GetModel(), fields, group);
    if (!found.IsOK()) {
        FillForm(text, nullptr);
        return found;
    }
    AdminPluginRet saved = ReadName(fields, *group);
    if (saved.IsOK())
        saved = Plugin().GetModel().SaveClientGroup(*group);
    if (!saved.IsOK()) {
        FillForm(text, group.get());
        return saved;
    }
    return GetList(fields, text);
}

AdminPluginRet ClientGroupsModule::Delete(FormFields& fields, std::string& text) {
    return GetList(fields, text,
                   AdminPluginRet(Plugin().GetModel().DeleteClientGroups(fields.GetAll("DeleteID"))));
}

} // namespace tav::http::admin
