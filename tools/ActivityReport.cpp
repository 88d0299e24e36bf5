#include "ActivityReport.hpp"

#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>

#include <algorithm>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

namespace {

using tav::ActivityHistory;

// Megabytes with one decimal.
std::string Megabytes(std::int64_t bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / (1024.0 * 1024.0);
    return text.str();
}

std::string LocalTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// Rows of cells written in columns as wide as their widest cell; the last column is not padded.
class Table {
public:
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }

    void Print(std::ostream& out) const {
        std::vector<std::size_t> widths;
        for (const auto& row : m_rows) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        }
        for (const auto& row : m_rows) {
            for (std::size_t i = 0; i < row.size(); ++i)
                out << (i + 1 == row.size() ? row[i]
                                            : row[i] + std::string(widths[i] - row[i].size() + 2, ' '));
            out << '\n';
        }
    }

private:
    std::vector<std::vector<std::string>> m_rows;
};

} // namespace

ActivityReport::ActivityReport(const tav::DataModel& model, ActivityHistory& history, std::ostream& out)
    : m_model(model), m_history(history), m_out(out) {}

std::string ActivityReport::ComputerName(const std::string& ip) const {
    const tav::Ret found = m_model.GetClient(ip);
    const std::unique_ptr<tav::DataModel::Client> client(
        static_cast<tav::DataModel::Client*>(found.GetObj()));
    return client == nullptr ? ip : client->GetDisplayName();
}

std::string ActivityReport::GroupName(const std::string& id) const {
    if (id.empty())
        return "(no group)";
    const tav::Ret found = m_model.GetClientGroup(id);
    const std::unique_ptr<tav::DataModel::ClientGroup> group(
        static_cast<tav::DataModel::ClientGroup*>(found.GetObj()));
    return group == nullptr ? "group " + id : group->GetName();
}

void ActivityReport::Print(std::time_t now, int days, const std::string& client) {
    const std::string first = ActivityHistory::DayBefore(now, days - 1);
    const std::string last = ActivityHistory::DayOf(now);
    const ActivityHistory::Scope scope{std::string(), client};
    m_out << "Activity from " << first << " to " << last
          << (client.empty() ? std::string() : " of " + ComputerName(client)) << "\n\n";

    Table use;
    use.Add({"day", "computer", "group", "minutes", "MB"});
    for (const ActivityHistory::DayUse& row : m_history.DailyUse(first, last, scope))
        use.Add({row.day, ComputerName(row.client), GroupName(row.group), std::to_string(row.minutes),
                 Megabytes(row.bytes)});
    m_out << "Use per computer and day\n";
    use.Print(m_out);

    for (const auto& [order, title] : {std::pair{ActivityHistory::Order::ByMinutes, "time"},
                                       std::pair{ActivityHistory::Order::ByBytes, "traffic"}}) {
        Table sites;
        sites.Add({"site", "minutes", "MB"});
        for (const ActivityHistory::SiteUse& row : m_history.TopSites(first, last, scope, order, 10))
            sites.Add({row.site, std::to_string(row.minutes), Megabytes(row.bytes)});
        m_out << "\nTop sites by " << title << '\n';
        sites.Print(m_out);
    }

    Table refusals;
    refusals.Add({"time", "computer", "site", "reason"});
    for (const ActivityHistory::Refusal& row : m_history.Refusals(first, last, scope, 100))
        refusals.Add({LocalTime(row.time), ComputerName(row.client),
                      row.protocol + "://" + row.host + row.path, row.reason});
    m_out << "\nLast refusals\n";
    refusals.Print(m_out);
}
