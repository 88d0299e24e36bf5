#include "ActivityModule.hpp"

#include <quorrel/ActivityLog.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>

namespace tav::http::admin {

namespace {

constexpr int shownDays = 7;
constexpr std::size_t topSites = 10;
constexpr std::size_t shownRefusals = 100;
constexpr std::size_t shownEvents = 20;
// The refusals that the summary counts and the export writes at most.
constexpr std::size_t everyRefusal = 100000;
constexpr std::size_t shownPath = 60;
constexpr std::int64_t mebibyte = 1048576;

// The geometry of a chart, in the units of its view box: 7 columns, two panels of bars with their values
// above them and their titles above that, the names of the days below.
constexpr int columnWidth = 50;
constexpr int barWidth = 34;
constexpr int barHeight = 60;
constexpr int minutesBase = 96;
constexpr int bytesBase = 196;
constexpr int dayLine = 212;

const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

const char* const csvHeader[] = {"record", "day",  "time",    "computer", "address", "group",
                                 "site",   "path", "minutes", "bytes",    "reason"};

// A value from the history or the policy as text in markup.
std::string Text(const std::string& value) {
    return MessagesMarkup({value});
}

// Mebibytes with one decimal; "<0.1" for a use too small to show so, which still is some.
std::string Megabytes(std::int64_t bytes) {
    if (bytes == 0)
        return "0";
    if (bytes * 10 < mebibyte)
        return "<0.1";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / mebibyte);
    return text;
}

std::string Minutes(std::int64_t minutes) {
    return std::to_string(minutes);
}

// A day written "YYYY-MM-DD" as the charts name it: its weekday and the day of the month ("Tue 1").
std::string DayLabel(const std::string& day) {
    std::tm date{};
    if (std::sscanf(day.c_str(), "%4d-%2d-%2d", &date.tm_year, &date.tm_mon, &date.tm_mday) != 3)
        return day;
    date.tm_year -= 1900;
    date.tm_mon -= 1;
    date.tm_hour = 12; // noon: no change of the clocks moves it to another day
    date.tm_isdst = -1;
    if (std::mktime(&date) == -1)
        return day;
    return std::string(weekdays[date.tm_wday]) + " " + std::to_string(date.tm_mday);
}

// A moment of the history as the page shows it, by the model's clock: "Tue 14:05".
std::string When(const Clock& clock, std::time_t time) {
    const std::tm local = clock.LocalTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%s %02d:%02d", weekdays[local.tm_wday % 7], local.tm_hour,
                  local.tm_min);
    return text;
}

// The time of day of a moment as the export writes it, by the model's clock: "14:05:09".
std::string TimeOfDay(const Clock& clock, std::time_t time) {
    const std::tm local = clock.LocalTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string EmptyRow(int columns, const std::string& text) {
    return "<tr><td class=\"empty\" colspan=\"" + std::to_string(columns) + "\">" + Text(text) + "</td></tr>";
}

std::string StatusLine(const std::string& text) {
    return "<p class=\"notice\">" + Text(text) + "</p>";
}

// What the history says of itself, one notice a line; nothing while all is well.
std::string Status(const ActivityLog* log, const ActivityHistory* history) {
    if (log == nullptr)
        return StatusLine("The history is off: this filter keeps no record of what the computers do.");
    const ActivityLog::Status status = log->GetStatus();
    std::string lines;
    if (status.paused)
        lines += StatusLine("History paused: " + status.reason);
    if (status.dropped != 0)
        lines += StatusLine(std::to_string(status.dropped) + " events could not be recorded.");
    if (!status.notice.empty())
        lines += StatusLine(status.notice);
    if (history != nullptr && !history->IsOpen())
        lines += StatusLine("The history cannot be read: " + history->GetError());
    return lines;
}

// The 7 days up to the day of `now`, oldest first.
std::vector<std::string> ShownDays(std::time_t now) {
    std::vector<std::string> days;
    for (int back = shownDays - 1; back >= 0; --back)
        days.push_back(ActivityHistory::DayBefore(now, back));
    return days;
}

using Week = std::array<std::int64_t, shownDays>;

// One panel of a chart: its title, a bar per day with its value above it, and the base line. Bars are
// scaled to `most`, the largest value of every chart, so that the charts compare.
std::string Panel(const char* title, const char* kind, int base, const Week& values, std::int64_t most,
                  std::string (*label)(std::int64_t)) {
    std::string svg = "<text class=\"chart-title\" x=\"0\" y=\"" + std::to_string(base - barHeight - 20) +
                      "\">" + title + "</text>";
    for (int day = 0; day < shownDays; ++day) {
        // A value above 0 keeps at least one unit of height.
        const std::int64_t height = most > 0 ? (values[day] * barHeight + most - 1) / most : 0;
        const int left = day * columnWidth + (columnWidth - barWidth) / 2;
        const std::string top = std::to_string(base - height);
        svg += "<rect class=\"" + std::string(kind) + "\" x=\"" + std::to_string(left) + "\" y=\"" + top +
               "\" width=\"" + std::to_string(barWidth) + "\" height=\"" + std::to_string(height) + "\"/>";
        svg += "<text class=\"chart-value\" x=\"" + std::to_string(left + barWidth / 2) + "\" y=\"" +
               std::to_string(base - height - 4) + "\" text-anchor=\"middle\">" + Text(label(values[day])) +
               "</text>";
    }
    const std::string y = std::to_string(base);
    return svg + "<line class=\"chart-base\" x1=\"0\" y1=\"" + y + "\" x2=\"" +
           std::to_string(shownDays * columnWidth) + "\" y2=\"" + y + "\"/>";
}

// Whether the group's site rules refuse the host's site because the group's own blocked sites hold it.
bool BlockedByGroup(const DataModel& model, const std::string& groupId, const std::string& host) {
    tav::uri site;
    const std::string address = "http://" + host;
    if (!site.parse_absolute(address.data(), address.data() + address.size()))
        return false;
    const DataModel::Verdict verdict = model.DecideSite(groupId, site);
    const DataModel::Reason& reason = verdict.GetReason();
    return reason.GetStep() == DataModel::Reason::Step::BlockedSite &&
           reason.GetSource() == DataModel::Reason::Source::GroupList;
}

} // namespace

// The names of the policy as it is now: the history keeps only addresses and group IDs.
class ActivityModule::Names {
public:
    explicit Names(const DataModel& model) {
        for (const auto& group : model.CopyClientGroups())
            m_groups.emplace(group->GetID(), group->GetName());
        for (const auto& client : model.CopyClients(""))
            m_computers.emplace(client->GetIP(), client->GetID());
    }

    bool HasGroup(const std::string& id) const { return m_groups.count(id) != 0; }
    bool HasComputer(const std::string& ip) const { return m_computers.count(ip) != 0; }
    // The group's name; the ID of a group that is gone; empty for none.
    std::string Group(const std::string& id) const {
        const auto found = m_groups.find(id);
        return found == m_groups.end() ? id : found->second;
    }
    // The computer's name in the policy, or its address when the policy does not know it.
    std::string Computer(const std::string& ip) const {
        const auto found = m_computers.find(ip);
        return found == m_computers.end() || IsBlank(found->second) ? ip : found->second;
    }
    // What "ID" narrows the page to: a known group or computer, else nothing.
    ActivityHistory::Scope ScopeOf(const std::string& id) const {
        ActivityHistory::Scope scope;
        if (HasGroup(id))
            scope.group = id;
        else if (HasComputer(id))
            scope.client = id;
        return scope;
    }
    // The choices of the page's narrowing list: the groups, then the computers, each by name.
    std::vector<std::pair<std::string, std::string>> Choices() const {
        std::vector<std::pair<std::string, std::string>> groups;
        std::vector<std::pair<std::string, std::string>> computers;
        for (const auto& group : m_groups)
            groups.emplace_back(group.first, "Group: " + group.second);
        for (const auto& computer : m_computers)
            computers.emplace_back(computer.first, "Computer: " + Computer(computer.first));
        const auto byLabel = [](const auto& a, const auto& b) { return a.second < b.second; };
        std::stable_sort(groups.begin(), groups.end(), byLabel);
        std::stable_sort(computers.begin(), computers.end(), byLabel);
        groups.insert(groups.end(), computers.begin(), computers.end());
        return groups;
    }

private:
    std::map<std::string, std::string> m_groups;    // names by ID
    std::map<std::string, std::string> m_computers; // IDs by address
};

ActivityModule::ActivityModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/Activity.tpl.html", m_page);
    AddTemplate("/pages/templates/Activity_History.tpl.html", m_history);
    AddTemplate("/pages/templates/Activity_Chart.tpl.html", m_chart);
    AddTemplate("/pages/templates/Activity_TopSites.tpl.html", m_top);
    AddTemplate("/pages/templates/Activity_TopSites_TableRow.tpl.html", m_topRow);
    AddTemplate("/pages/templates/Activity_Refusals_TableRow.tpl.html", m_refusalRow);
    AddTemplate("/pages/templates/Activity_TrustButton.tpl.html", m_trustButton);
    AddTemplate("/pages/templates/Activity_Events_TableRow.tpl.html", m_eventRow);
    AddTemplate("/pages/templates/ActivitySummary.tpl.html", m_summary);
    AddTemplate("/pages/templates/ActivitySummary_TableRow.tpl.html", m_summaryRow);
}

std::string ActivityModule::CsvField(const std::string& text) {
    // A spreadsheet would run a text that starts like a formula; an apostrophe keeps it text.
    std::string value = !text.empty() && std::strchr("=+-@\t\r", text[0]) != nullptr ? "'" + text : text;
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

AdminPluginRet ActivityModule::Get(FormFields& fields, std::string& text,
                                   const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    const Names names(model);
    const std::string asked = TrimBlanks(fields.Get("ID"));
    const ActivityHistory::Scope scope = names.ScopeOf(asked);
    const std::string id = scope.group + scope.client;
    AdminPluginRet result = PresetOr(preset);
    if (id.empty() && !asked.empty() && !preset)
        result =
            AdminPluginRet(Ret::ERR, "There is no group or computer " + asked + ": the page shows them all");
    text = m_page;
    FillText(text, "%TPL_SCOPE_NAME%",
             !scope.group.empty() ? names.Group(scope.group)
                                  : (!scope.client.empty() ? names.Computer(scope.client) : "All computers"));
    const std::pair<std::string, std::string> all("", "All computers");
    FillMarkup(text, "%TPL_SCOPE_OPTIONS%", BuildOptions(names.Choices(), id, &all));
    ActivityLog* log = Plugin().GetActivityLog();
    if (log == nullptr) {
        FillMarkup(text, "%TPL_STATUS%", Status(nullptr, nullptr));
        FillMarkup(text, "%TPL_HISTORY%", "");
        return result;
    }
    ActivityHistory history(log->GetPath());
    FillMarkup(text, "%TPL_STATUS%", Status(log, &history));
    FillMarkup(text, "%TPL_HISTORY%", History(history, scope, names, id));
    return result;
}

std::string ActivityModule::History(ActivityHistory& history, const ActivityHistory::Scope& scope,
                                    const Names& names, const std::string& id) const {
    const std::time_t now = static_cast<std::time_t>(Plugin().GetModel().GetClock().Now());
    const std::vector<std::string> days = ShownDays(now);
    const std::string& first = days.front();
    const std::string& today = days.back();
    using Order = ActivityHistory::Order;
    std::string text = m_history;
    FillText(text, "%TPL_ID%", id);
    FillMarkup(text, "%TPL_CHARTS%", Charts(days, history.DailyUse(first, today, scope), names));
    FillMarkup(
        text, "%TPL_TOP_SITES%",
        TopSites("Today, by time", history.TopSites(today, today, scope, Order::ByMinutes, topSites)) +
            TopSites("Today, by traffic", history.TopSites(today, today, scope, Order::ByBytes, topSites)) +
            TopSites("Last 7 days, by time",
                     history.TopSites(first, today, scope, Order::ByMinutes, topSites)) +
            TopSites("Last 7 days, by traffic",
                     history.TopSites(first, today, scope, Order::ByBytes, topSites)));
    FillMarkup(text, "%TPL_REFUSALS%", Refusals(history.Refusals(first, today, scope, shownRefusals), names));
    FillMarkup(text, "%TPL_EVENTS%", Events(history.AdminEvents(first, today, shownEvents)));
    return text;
}

std::string ActivityModule::Charts(const std::vector<std::string>& days,
                                   const std::vector<ActivityHistory::DayUse>& uses,
                                   const Names& names) const {
    struct Computer {
        std::string group; // of the latest day
        Week minutes{};
        Week bytes{};
    };
    std::map<std::string, Computer> computers;
    std::int64_t mostMinutes = 0;
    std::int64_t mostBytes = 0;
    for (const ActivityHistory::DayUse& use : uses) {
        const auto day = std::find(days.begin(), days.end(), use.day);
        if (day == days.end())
            continue;
        Computer& computer = computers[use.client];
        const auto at = static_cast<std::size_t>(day - days.begin());
        computer.group = use.group; // the uses come by day
        computer.minutes[at] += use.minutes;
        computer.bytes[at] += use.bytes;
        mostMinutes = std::max(mostMinutes, computer.minutes[at]);
        mostBytes = std::max(mostBytes, computer.bytes[at]);
    }
    if (computers.empty())
        return "<p class=\"empty-note\">Nothing recorded yet.</p>";
    std::vector<std::pair<std::string, const Computer*>> byName;
    for (const auto& computer : computers)
        byName.emplace_back(names.Computer(computer.first), &computer.second);
    std::stable_sort(byName.begin(), byName.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string dayNames;
    for (int day = 0; day < shownDays; ++day)
        dayNames += "<text class=\"chart-day\" x=\"" + std::to_string(day * columnWidth + columnWidth / 2) +
                    "\" y=\"" + std::to_string(dayLine) + "\" text-anchor=\"middle\">" +
                    Text(DayLabel(days[static_cast<std::size_t>(day)])) + "</text>";
    std::string charts;
    for (const auto& [name, computer] : byName) {
        std::string chart = m_chart;
        FillText(chart, "%TPL_NAME%", name);
        FillText(chart, "%TPL_GROUP_NAME%", names.Group(computer->group));
        FillMarkup(chart, "%TPL_BARS%",
                   Panel("Minutes", "bar-minutes", minutesBase, computer->minutes, mostMinutes, Minutes) +
                       Panel("MB", "bar-bytes", bytesBase, computer->bytes, mostBytes, Megabytes) + dayNames);
        charts += chart;
    }
    return charts;
}

std::string ActivityModule::TopSites(const std::string& title,
                                     const std::vector<ActivityHistory::SiteUse>& sites) const {
    std::string rows;
    int rank = 0;
    for (const ActivityHistory::SiteUse& site : sites) {
        std::string row = m_topRow;
        FillText(row, "%TPL_RANK%", std::to_string(++rank));
        FillText(row, "%TPL_SITE%", site.site);
        FillText(row, "%TPL_MINUTES%", Minutes(site.minutes));
        FillText(row, "%TPL_MB%", Megabytes(site.bytes));
        rows += row;
    }
    std::string table = m_top;
    FillText(table, "%TPL_TITLE%", title);
    FillMarkup(table, "%TPL_TABLE_ROWS%", rows.empty() ? EmptyRow(4, "Nothing recorded yet.") : rows);
    return table;
}

std::string ActivityModule::Refusals(const std::vector<ActivityHistory::Refusal>& refusals,
                                     const Names& names) const {
    const Clock& clock = Plugin().GetModel().GetClock();
    std::string rows;
    for (const ActivityHistory::Refusal& refusal : refusals) {
        std::string trust;
        if (names.HasGroup(refusal.group)) {
            trust = m_trustButton;
            FillText(trust, "%TPL_REFUSAL_GROUP_ID%", refusal.group);
            FillText(trust, "%TPL_REFUSAL_GROUP_NAME%", names.Group(refusal.group));
            FillText(trust, "%TPL_REFUSAL_HOST%", refusal.host);
        }
        std::string row = m_refusalRow;
        FillText(row, "%TPL_TIME%", When(clock, refusal.time));
        FillText(row, "%TPL_COMPUTER%", names.Computer(refusal.client));
        FillText(row, "%TPL_HOST%", refusal.host);
        FillText(row, "%TPL_PATH%", refusal.path);
        FillText(row, "%TPL_SHORT_PATH%", Shorten(refusal.path, shownPath));
        FillText(row, "%TPL_REASON%", refusal.reason);
        FillMarkup(row, "%TPL_TRUST%", trust);
        rows += row;
    }
    return rows.empty() ? EmptyRow(6, "Nothing refused.") : rows;
}

std::string ActivityModule::Events(const std::vector<ActivityHistory::AdminEvent>& events) const {
    const Clock& clock = Plugin().GetModel().GetClock();
    std::string rows;
    for (const ActivityHistory::AdminEvent& event : events) {
        std::string row = m_eventRow;
        FillText(row, "%TPL_TIME%", When(clock, event.time));
        FillText(row, "%TPL_CLIENT%", event.client);
        FillText(row, "%TPL_EVENT%", event.event);
        FillText(row, "%TPL_PAGE%", event.page);
        FillText(row, "%TPL_ACTION%", event.action);
        FillText(row, "%TPL_OBJECT%", event.object);
        FillText(row, "%TPL_OUTCOME%", event.outcome);
        rows += row;
    }
    return rows.empty() ? EmptyRow(7, "Nothing recorded yet.") : rows;
}

AdminPluginRet ActivityModule::SaveNew(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const std::string host = TrimBlanks(fields.Get("Uri"));
    const std::string groupId = fields.Get("ClientGroupID");
    fields.Set("IsBlocked", "0");
    std::string sites;
    AdminPluginRet saved = Plugin().GetModule("Site")->SaveNew(fields, sites);
    fields.Set("ObjectName", "Activity");
    fields.Set("ID", groupId);
    const std::string group = Names(model).Group(groupId);
    if (!saved.IsOK() && BlockedByGroup(model, groupId, host))
        saved = AdminPluginRet(Ret::ERR, host + " is one of the blocked sites of " + group +
                                             ": take it off that list on its Sites page to trust it");
    if (saved.IsOK()) {
        std::string said = host + " is now a trusted site of " + group + ".";
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        const auto* http = model.GetProtocolSettings(groupId, DataModel::PST_HTTP, settings).IsOK()
                               ? dynamic_cast<const DataModel::HTTPProtocolSettings*>(settings.get())
                               : nullptr;
        if (http != nullptr && !http->GetIsTrustedSitesEnabled())
            said += " The group's trusted sites are switched off: switch them on on its Sites page.";
        saved = AdminPluginRet(Ret::OK, said);
    }
    return Get(fields, text, saved);
}

AdminPluginRet ActivityModule::RenderPage(FormFields& fields, std::string& page) {
    if (fields.Get("Action") == "Export")
        return Export(fields, page);
    return WebModule::RenderPage(fields, page);
}

WebModule::AnswerType ActivityModule::TypeOfAnswer(const FormFields& fields) const {
    if (fields.Get("Action") != "Export")
        return AnswerType();
    return {"text/csv; charset=utf-8", {{"Content-Disposition", "attachment; filename=\"activity.csv\""}}};
}

AdminPluginRet ActivityModule::Export(const FormFields& fields, std::string& csv) const {
    const auto line = [&csv](const std::vector<std::string>& values) {
        for (std::size_t at = 0; at < values.size(); ++at)
            csv += (at == 0 ? "" : ",") + CsvField(values[at]);
        csv += "\r\n";
    };
    csv.clear();
    line(std::vector<std::string>(std::begin(csvHeader), std::end(csvHeader)));
    const DataModel& model = Plugin().GetModel();
    ActivityLog* log = Plugin().GetActivityLog();
    if (log == nullptr)
        return AdminPluginRet(Ret::ERR, "The history is off");
    ActivityHistory history(log->GetPath());
    if (!history.IsOpen())
        return AdminPluginRet(Ret::ERR, "The history cannot be read: " + history.GetError());
    const Names names(model);
    const ActivityHistory::Scope scope = names.ScopeOf(TrimBlanks(fields.Get("ID")));
    const std::time_t now = static_cast<std::time_t>(model.GetClock().Now());
    const std::vector<std::string> days = ShownDays(now);
    for (const ActivityHistory::DaySiteUse& use : history.SiteUseByDay(days.front(), days.back(), scope))
        line({"use", use.day, "", names.Computer(use.client), use.client, names.Group(use.group), use.site,
              "", std::to_string(use.minutes), std::to_string(use.bytes), ""});
    std::vector<ActivityHistory::Refusal> refusals =
        history.Refusals(days.front(), days.back(), scope, everyRefusal);
    std::reverse(refusals.begin(), refusals.end());
    for (const ActivityHistory::Refusal& refusal : refusals)
        line({"refused", ActivityHistory::DayOf(refusal.time), TimeOfDay(model.GetClock(), refusal.time),
              names.Computer(refusal.client), refusal.client, names.Group(refusal.group), refusal.host,
              refusal.path, "", "", refusal.reason});
    return AdminPluginRet(Ret::OK, "");
}

void ActivityModule::FillTodaySummary(std::string& page) const {
    struct Today {
        std::int64_t minutes = 0;
        std::int64_t bytes = 0;
        std::size_t refusals = 0;
    };
    const DataModel& model = Plugin().GetModel();
    ActivityLog* log = Plugin().GetActivityLog();
    std::string summary = m_summary;
    std::map<std::string, Today> groups;
    if (log != nullptr) {
        ActivityHistory history(log->GetPath());
        FillMarkup(summary, "%TPL_STATUS%", Status(log, &history));
        const std::string today = ActivityHistory::DayOf(static_cast<std::time_t>(model.GetClock().Now()));
        for (const ActivityHistory::DayUse& use : history.DailyUse(today, today, {})) {
            groups[use.group].minutes += use.minutes;
            groups[use.group].bytes += use.bytes;
        }
        for (const ActivityHistory::Refusal& refusal : history.Refusals(today, today, {}, everyRefusal))
            ++groups[refusal.group].refusals;
    } else {
        FillMarkup(summary, "%TPL_STATUS%", Status(nullptr, nullptr));
    }
    const Names names(model);
    std::vector<std::pair<std::string, const Today*>> byName;
    for (const auto& group : groups)
        byName.emplace_back(group.first.empty() ? "In no group" : names.Group(group.first), &group.second);
    std::stable_sort(byName.begin(), byName.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string rows;
    for (const auto& [name, today] : byName) {
        std::string row = m_summaryRow;
        FillText(row, "%TPL_GROUP_NAME%", name);
        FillText(row, "%TPL_MINUTES%", Minutes(today->minutes));
        FillText(row, "%TPL_MB%", Megabytes(today->bytes));
        FillText(row, "%TPL_REFUSALS%", std::to_string(today->refusals));
        rows += row;
    }
    FillMarkup(summary, "%TPL_TABLE_ROWS%", rows.empty() ? EmptyRow(4, "Nothing recorded yet today.") : rows);
    FillMarkup(page, "%TPL_TODAY_SUMMARY%", summary);
}

} // namespace tav::http::admin
