#include <quorrel/DataModel.hpp>
#include <quorrel/Matching.hpp>
#include <tav/canonical_uri.hpp>

#include "Snapshot.hpp"

#include <ace/Guard_T.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>

namespace tav {

namespace {

const std::int64_t BYTES_PER_MEBIBYTE = 1048576;

// The settings that govern a protocol, or 0 for a code the proxy should never pass.
DataModel::ProtocolSettingsType SettingsType(PROTOS protocol) {
    switch (protocol) {
    case PROTO_HTTP:
    case PROTO_HTTP_PROXY:
        return DataModel::PST_HTTP;
    case PROTO_HTTPS:
        return DataModel::PST_HTTPS;
    case PROTO_SMTP:
    case PROTO_POP3:
    case PROTO_IMAP:
        return DataModel::PST_MAIL;
    case PROTO_SOCKS:
        return DataModel::PST_SOCKS;
    case PROTO_FTP:
        return DataModel::PST_FTP;
    }
    return DataModel::ProtocolSettingsType();
}

} // namespace

void DataModel::SetClock(const std::shared_ptr<const Clock>& clock) {
    Edit edit(*this);
    m_clock = clock;
}

namespace {

bool TimeTableAllows(const DataModel::ClientGroup& group, const Clock& clock) {
    if (!group.GetIsTimeTableEnabled())
        return true;
    const std::tm now = clock.LocalTime(clock.Now());
    const std::size_t slot = 48 * now.tm_wday + 2 * now.tm_hour + (now.tm_min >= 30 ? 1 : 0);
    return slot < group.GetTimeTable().size() && group.GetTimeTable()[slot] == '1';
}

using Step = DataModel::Reason::Step;
using Source = DataModel::Reason::Source;

bool IsPaused(const DataModel::ClientGroup& group, const Clock& clock) {
    return group.GetPausedUntil() > clock.Now();
}

bool SameLocalDay(const Clock& clock, std::int64_t first, std::int64_t second) {
    const std::tm one = clock.LocalTime(first);
    const std::tm other = clock.LocalTime(second);
    return one.tm_year == other.tm_year && one.tm_yday == other.tm_yday;
}

// The extra minutes that hold at `now`: those given on its local day.
std::int32_t ExtraMinutesAt(const Clock& clock, std::int64_t now, std::int32_t minutes, std::int64_t given) {
    return minutes > 0 && given > 0 && SameLocalDay(clock, given, now) ? minutes : 0;
}

// Extra minutes hold outside the time table from the moment they were given.
bool ExtraTimeAllows(std::int32_t extra, std::int64_t given, std::int64_t now) {
    return extra > 0 && now >= given && now < given + std::int64_t(extra) * 60;
}

// The seconds of use today's time limit and the extra minutes allow.
std::int64_t SecondsAllowedToday(const DataModel::ClientGroup& group, const Clock& clock,
                                 std::int32_t extra) {
    return (std::int64_t(group.GetTimeLimit(clock.LocalTime(clock.Now()).tm_wday)) + extra) * 60;
}

bool TimeLimitAllows(const DataModel::ClientGroup& group, const DataModel::Client::Usage& usage,
                     const Clock& clock, std::int32_t extra) {
    return !group.GetIsTimeLimitsEnabled() ||
           usage.TimeToday(clock) <= SecondsAllowedToday(group, clock, extra);
}

bool TrafficLimitAllows(const DataModel::ClientGroup& group, const DataModel::Client::Usage& usage,
                        const Clock& clock) {
    if (!group.GetIsTrafficLimitsEnabled())
        return true;
    const std::int32_t limit = group.GetTrafficLimit(clock.LocalTime(clock.Now()).tm_wday);
    if (limit == EMPTY_VALUE)
        return true;
    return usage.TrafficToday(clock) <= std::int64_t(limit) * BYTES_PER_MEBIBYTE;
}

// The time rule for a client of the group that refuses it now, or Step::None: its time table (outside of
// which extra minutes given today hold from the moment they were given), its time limit and its traffic
// limit.
Step TimeRuleRefusing(const DataModel::ClientGroup& group, const DataModel::Client::Usage& usage,
                      const Clock& clock, std::int32_t extraMinutes, std::int64_t extraGiven) {
    const std::int64_t moment = clock.Now();
    const std::int32_t extra = ExtraMinutesAt(clock, moment, extraMinutes, extraGiven);
    if (!TimeTableAllows(group, clock) && !ExtraTimeAllows(extra, extraGiven, moment))
        return Step::TimeTable;
    if (!TimeLimitAllows(group, usage, clock, extra))
        return Step::TimeLimit;
    if (!TrafficLimitAllows(group, usage, clock))
        return Step::TrafficLimit;
    return Step::None;
}

// The words of HTTP or HTTPS settings, whose types each class gives; none for the other protocols.
const DataModel::BlockedUrlWordManager* WordListOf(const DataModel::ProtocolSettings& settings) {
    switch (settings.GetType()) {
    case DataModel::PST_HTTP:
        return static_cast<const DataModel::HTTPProtocolSettings*>(&settings);
    case DataModel::PST_HTTPS:
        return static_cast<const DataModel::HTTPSProtocolSettings*>(&settings);
    default:
        return nullptr;
    }
}

// The blocked categories of the words of the settings' list found in the address; 0 when none is.
std::uint32_t BlockedWordCategories(const DataModel::ClientGroup& group,
                                    const DataModel::ProtocolSettings& settings, const uri& request) {
    const DataModel::BlockedUrlWordManager* words = WordListOf(settings);
    if (!words || !words->GetIsBlockedUrlWordsEnabled())
        return 0;
    // Every listed word found in the address counts, with every category of its mask; the address is
    // not read when no word has a blocked category.
    const WordIndex& index = words->GetWordIndex();
    const std::uint32_t blocked = group.GetBlockedCategoriesMask();
    return (index.AllCategories() & blocked) == 0 ? 0 : index.Categories(WordText(request)) & blocked;
}

// Decides every reading of an address: its canonical form, and, since a site that reads an escaped slash as a
// separator serves the path of that reading, that reading too; both must pass.
template <class Judge> bool EveryReadingPasses(const uri& address, const Judge& judge) {
    uri spare;
    const uri& request = DecidedForm(address, spare);
    if (!judge(request))
        return false;
    uri separated;
    return !SeparatedForm(request, separated) || judge(separated);
}

} // namespace

const DataModel::Category* DataModel::FindCategory(std::uint32_t mask) const {
    const std::vector<std::string> ids = CategoryBitsToIDs(mask);
    if (ids.empty())
        return nullptr;
    const auto found = m_categories.find(ids.front());
    return found == m_categories.end() ? nullptr : found->second;
}

bool DataModel::IsAllowed(const std::string& clientIP, const uri& request, PROTOS protocol,
                          std::string& message) const {
    const Verdict verdict = Decide(clientIP, request, protocol);
    if (!verdict.GetMessage().empty())
        message = verdict.GetMessage();
    return verdict.IsAllowed();
}

DataModel::Verdict DataModel::Consult(const std::string& clientIP) const {
    Verdict verdict;
    verdict.m_snapshot = Current();
    if (const Snapshot::Member* client = verdict.m_snapshot->Find(clientIP)) {
        verdict.m_group = client->group;
        verdict.m_usage = client->usage.get();
        verdict.m_extraMinutes = client->extraMinutes;
        verdict.m_extraMinutesGiven = client->extraMinutesGiven;
    }
    return verdict;
}

DataModel::Verdict DataModel::Decide(const std::string& clientIP, const uri& address, PROTOS protocol) const {
    Verdict verdict = Consult(clientIP);
    verdict.m_allowed = Judge(verdict, address, protocol, verdict.m_reason);
    if (verdict.m_reason.GetStep() != Reason::Step::None)
        verdict.m_message = verdict.m_reason.Text(*verdict.m_snapshot->clock);
    return verdict;
}

DataModel::Verdict DataModel::DecideSite(const std::string& groupId, const uri& address) const {
    Verdict verdict;
    verdict.m_snapshot = Current();
    const auto group = verdict.m_snapshot->groups.find(groupId);
    if (group == verdict.m_snapshot->groups.end())
        return verdict;
    verdict.m_group = group->second.get();
    const urlfilter::URLFilter& filter = *verdict.m_snapshot->urlFilter;
    verdict.m_allowed = EveryReadingPasses(address, [&](const uri& request) {
        return IsHTTPAllowed(*verdict.m_group, filter, request, verdict.m_reason) != HA_BLOCKED;
    });
    if (verdict.m_reason.GetStep() != Reason::Step::None)
        verdict.m_message = verdict.m_reason.Text(*verdict.m_snapshot->clock);
    return verdict;
}

bool DataModel::Judge(const Verdict& verdict, const uri& address, PROTOS protocol, Reason& reason) const {
    return EveryReadingPasses(
        address, [&](const uri& request) { return JudgeDecided(verdict, request, protocol, reason); });
}

bool DataModel::JudgeDecided(const Verdict& verdict, const uri& request, PROTOS protocol,
                             Reason& reason) const {
    const Snapshot& now = *verdict.m_snapshot;
    if (!now.filtrationOn)
        return true;
    if (!verdict.m_group) {
        reason = Reason(Step::UnknownClient, ProtocolSettingsType());
        return false;
    }
    const ClientGroup& group = *verdict.m_group;
    const Client::Usage& usage = *verdict.m_usage;
    const ProtocolSettingsType type = SettingsType(protocol);
    const ProtocolSettings* settings = Snapshot::SettingsOf(group, type);
    if (!settings) {
        reason = Reason(Step::UnknownProtocol, type);
        return false;
    }
    if (!settings->GetIsNetworkEnabled()) {
        reason = Reason(Step::NetworkOff, type);
        return false;
    }
    // A pause holds for every protocol, whether it is filtered or not.
    const Clock& clock = *now.clock;
    if (IsPaused(group, clock)) {
        reason = Reason(Step::Paused, type, Source::None, 0, nullptr, group.GetPausedUntil());
        return false;
    }
    if (!settings->GetIsFiltrationEnabled())
        return true;
    if ((IsIPAddress(request.host()) || is_ip_host(request.host())) && !settings->GetCanAccessByIP()) {
        reason = Reason(Step::AddressByIP, type);
        return false;
    }
    const Step timeRule =
        TimeRuleRefusing(group, usage, clock, verdict.m_extraMinutes, verdict.m_extraMinutesGiven);
    if (timeRule != Step::None) {
        reason = Reason(timeRule, type);
        return false;
    }
    // The site rules (customer lists, URL database, categories) hold for the secure version of a site too.
    if (type != PST_HTTP && type != PST_HTTPS)
        return true;
    switch (IsHTTPAllowed(group, *now.urlFilter, request, reason)) {
    case HA_BLOCKED:
        return false;
    case HA_ALLOWED:
        return true;
    case HA_NOT_DEFINED:
        break;
    }
    const std::uint32_t words = BlockedWordCategories(group, *settings, request);
    if (words == 0)
        return true;
    reason = Reason(Step::BlockedWord, type, Source::GroupList, words, FindCategory(words));
    return false;
}

DataModel::HAReturnCodes DataModel::IsHTTPAllowed(const ClientGroup& group,
                                                  const urlfilter::URLFilter& filter, const uri& request,
                                                  Reason& reason) const {
    const HTTPProtocolSettings* settings = &Snapshot::HTTPOf(group);
    if (settings->GetIsTrustedSitesEnabled() && settings->GetIsTrustedSitesFixed()) {
        reason = Reason(Step::TrustedOnly, PST_HTTP, Source::GroupList);
        return IsMatchedCustomerSites(false, settings, request) ? HA_ALLOWED : HA_BLOCKED;
    }
    if (settings->GetIsBlockedSitesEnabled() && IsMatchedCustomerSites(true, settings, request)) {
        reason = Reason(Step::BlockedSite, PST_HTTP, Source::GroupList);
        return HA_BLOCKED;
    }
    if (settings->GetIsTrustedSitesEnabled() && IsMatchedCustomerSites(false, settings, request))
        return HA_ALLOWED;
    if (!settings->GetIsInnerBlockedDBEnabled() && !settings->GetIsInnerTrustedDBEnabled())
        return HA_NOT_DEFINED;
    const urlfilter::URLLookupResult found = filter.Lookup(request);
    if (!found.found)
        return HA_NOT_DEFINED;
    if (!found.blocked)
        return settings->GetIsInnerTrustedDBEnabled() ? HA_ALLOWED : HA_NOT_DEFINED;
    const std::uint32_t blocked = found.categories & group.GetBlockedCategoriesMask();
    if (!settings->GetIsInnerBlockedDBEnabled() || blocked == 0)
        return HA_NOT_DEFINED;
    reason = Reason(Step::Category, PST_HTTP, Source::URLDatabase, blocked, FindCategory(blocked));
    return HA_BLOCKED;
}

bool DataModel::IsMatchedCustomerSites(bool blocked, const HTTPProtocolSettings* settings,
                                       const uri& request) {
    return (blocked ? settings->GetBlockedSiteIndex() : settings->GetTrustedSiteIndex()).Matches(request);
}

bool DataModel::IsAllowedCategoryForClientGroup(const std::string& groupId,
                                                const std::string& categoryId) const {
    if (IsBlank(groupId) || IsBlank(categoryId))
        return false;
    const std::shared_ptr<const Snapshot> now = Current();
    const auto group = now->groups.find(groupId);
    if (group == now->groups.end())
        return false;
    const std::int32_t category = ToInt(categoryId);
    return category < 1 || category > 32 ||
           (group->second->GetBlockedCategoriesMask() & (1u << (category - 1))) == 0;
}

std::int32_t DataModel::GetExtraMinutesToday(const Client& client) const {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(m_mutex);
    return ExtraMinutesAt(*m_clock, m_clock->Now(), client.GetExtraMinutes(), client.GetExtraMinutesGiven());
}

std::int32_t DataModel::GetRemainingMinutesToday(const Client& client) const {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(m_mutex);
    const ClientGroup* group = FindClientGroup(client.GetGroupID());
    if (!group || !group->GetIsTimeLimitsEnabled())
        return -1;
    const std::int64_t left = SecondsAllowedToday(*group, *m_clock, GetExtraMinutesToday(client)) -
                              client.GetDailyWorkedTime(*m_clock);
    return static_cast<std::int32_t>(std::max<std::int64_t>(left, 0) / 60);
}

bool DataModel::GatewayAccess::operator==(const GatewayAccess& other) const {
    return everyone == other.everyone && known == other.known && nothing == other.nothing &&
           mail == other.mail && ftp == other.ftp && this->other == other.other;
}

DataModel::GatewayAccess DataModel::GetGatewayAccess() const {
    GatewayAccess access;
    const std::shared_ptr<const Snapshot> now = Current();
    if (!now->filtrationOn) {
        access.everyone = true;
        return access;
    }
    const Clock& clock = *now->clock;
    const auto networked = [](const ClientGroup& group, ProtocolSettingsType type) {
        const ProtocolSettings* settings = Snapshot::SettingsOf(group, type);
        return settings != nullptr && settings->GetIsNetworkEnabled();
    };
    for (const auto& [ip, member] : now->clients) {
        access.known.push_back(ip);
        const ClientGroup& group = *member.group;
        if (IsPaused(group, clock) || TimeRuleRefusing(group, *member.usage, clock, member.extraMinutes,
                                                       member.extraMinutesGiven) != Step::None) {
            access.nothing.push_back(ip);
            continue;
        }
        if (networked(group, PST_MAIL))
            access.mail.push_back(ip);
        if (networked(group, PST_FTP))
            access.ftp.push_back(ip);
        if (group.GetIsOtherTrafficEnabled())
            access.other.push_back(ip);
    }
    for (auto* list : {&access.known, &access.nothing, &access.mail, &access.ftp, &access.other})
        std::sort(list->begin(), list->end());
    return access;
}

void DataModel::TickClientTime(const std::string& clientIP) {
    Consult(clientIP).TickTime();
}

void DataModel::TickClientTraffic(const std::string& clientIP, std::int32_t bytes) {
    Consult(clientIP).TickTraffic(bytes);
}

bool DataModel::IsHTTPContentFiltrationEnabled(const std::string& clientIP) const {
    const Verdict client = Consult(clientIP);
    if (client.m_snapshot->filtrationOn && !client.IsClientKnown())
        throw std::runtime_error("Unknown client: " + TrimBlanks(clientIP));
    return client.IsHTTPContentFiltrationEnabled();
}

DataModel::ContentTypeAction DataModel::IsContentTypeAllowed(const std::string& clientIP,
                                                             const std::string& contentType) const {
    return Consult(clientIP).IsContentTypeAllowed(contentType);
}

bool DataModel::IsInapContentWordsAllowed(const std::string& clientIP, const std::string& text) const {
    return Consult(clientIP).IsInapContentWordsAllowed(text);
}

} // namespace tav
