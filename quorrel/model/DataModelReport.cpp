#include <quorrel/DataModel.hpp>
#include <quorrel/Matching.hpp>
#include <quorrel/SafeSearch.hpp>

#include "Snapshot.hpp"

#include <ctime>
#include <iostream>

namespace tav {

namespace {

// A moment by the clock's local time: HH:MM, with the date before it when it is not on the day of `now`.
std::string LocalMoment(const Clock& clock, std::int64_t time, std::int64_t now) {
    const std::tm at = clock.LocalTime(time);
    const std::tm today = clock.LocalTime(now);
    char text[32] = "";
    const bool sameDay = at.tm_year == today.tm_year && at.tm_yday == today.tm_yday;
    std::strftime(text, sizeof text, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &at);
    return text;
}

// Where the group's searches or YouTube would go from the host, as a line of the report; empty for nowhere.
std::string SafeSearchLine(const SafeSearch* table, const DataModel::HTTPSProtocolSettings* https,
                           const std::string& host) {
    if (table == nullptr || https == nullptr)
        return std::string();
    const SafeSearch::Redirect redirect =
        table->For(host, https->GetSafeSearch(), https->GetYouTubeRestrict());
    if (!redirect)
        return std::string();
    const std::string level = SafeSearch::LevelName(redirect.level);
    return redirect.kind == SafeSearch::Kind::Search
               ? "<br>Searches here go to " + redirect.address + " (safe search: " + level + ")"
               : "<br>YouTube here goes to " + redirect.address + " (restricted mode: " + level + ")";
}

} // namespace

std::string DataModel::GetInfo(const std::string& groupId, const uri& address) const {
    uri spare;
    const uri& url = DecidedForm(address, spare);
    const std::shared_ptr<const Snapshot> now = Current();
    const auto found = now->groups.find(groupId);
    if (found == now->groups.end())
        return "No such Group";
    const ClientGroup& group = *found->second;
    const HTTPProtocolSettings* http = &Snapshot::HTTPOf(group);
    std::string tested;
    url.flatten(tested, uri::all_bits);
    std::string report = "Tested URL: " + tested + "<br>User Group: " + group.GetName();

    const bool blocked = IsMatchedCustomerSites(true, http, url);
    const bool trusted = IsMatchedCustomerSites(false, http, url);
    report += "<br>Customer DB: tested URL is ";
    report += blocked ? " defined as Blocked" : trusted ? " defined as Trusted" : " not defined";

    report += "<br>Inner DB: tested URL is ";
    const urlfilter::URLLookupResult listed = now->urlFilter->Lookup(url);
    if (!listed.found) {
        report += " not defined";
    } else if (!listed.blocked) {
        report += " defined as trusted";
    } else {
        std::string names;
        for (const std::string& id : CategoryBitsToIDs(listed.categories)) {
            const auto category = m_categories.find(id);
            if (category != m_categories.end())
                names += (names.empty() ? "" : ",") + category->second->GetName();
        }
        const bool blockedCategory = (listed.categories & group.GetBlockedCategoriesMask()) != 0;
        report += " defined as blocked in the " + names + " Blocked Categories. It is " +
                  (blockedCategory ? "Blocked" : "Allowed") + " for " + group.GetName();
    }
    // The answer of the group's site rules, exactly as a decision reaches it.
    Reason reason;
    report += "<br>URL accessibility: ";
    report += IsHTTPAllowed(group, *now->urlFilter, url, reason) == HA_BLOCKED ? "Blocked" : "Allowed";

    const Clock& clock = *now->clock;
    const std::int64_t moment = clock.Now();
    if (group.GetPausedUntil() > moment)
        report +=
            "<br>Access of this group is paused until " + LocalMoment(clock, group.GetPausedUntil(), moment);
    report += SafeSearchLine(
        now->safeSearch.get(),
        static_cast<const HTTPSProtocolSettings*>(Snapshot::SettingsOf(group, PST_HTTPS)), url.host());
    // The proxy decides a path with an escaped slash as the sites that decode it read it too.
    uri separated;
    if (SeparatedForm(url, separated))
        report += "<br>A site that reads its escaped slashes as separators serves:<br>" +
                  GetInfo(groupId, separated);
    return report;
}

void DataModel::PrintModel() const {
    PrintModel(std::cout);
}

void DataModel::PrintModel(std::ostream& out) const {
    out << std::endl << "Categories:" << std::endl;
    for (const auto& entry : m_categories)
        out << " - " << entry.first << " / " << entry.second->GetName() << std::endl;
    out << "ClientGroups:" << std::endl;
    for (const auto& entry : m_clientGroups)
        out << " - " << entry.first << " / " << entry.second->GetName() << " / " << std::endl;
    out << "Clients:" << std::endl;
    for (const auto& entry : m_clients) {
        const Client* client = entry.second;
        const ClientGroup* group = client->GetGroupPtr();
        out << " - " << client->GetID() << " / " << client->GetIP() << " / " << client->GetGroupID() << " ("
            << (group ? group->GetName() : std::string()) << ")" << std::endl;
    }
}

} // namespace tav
