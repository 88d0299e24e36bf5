#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"
#include "Usage.hpp"

#include <algorithm>
#include <limits>

namespace tav {

DataModel::Client::Client(DataModel* owner) : Base(owner), m_pGroup(nullptr) {}

DataModel::Client::UsageHandle::UsageHandle() : record(std::make_shared<Usage>()) {}

DataModel::Client::UsageHandle::UsageHandle(const UsageHandle& other) : record(std::make_shared<Usage>()) {
    const Usage::Counts counts = other.record->Get();
    record->Update([&counts](Usage::Counts& own) { own = counts; });
}

DataModel::Client::UsageHandle& DataModel::Client::UsageHandle::operator=(const UsageHandle& other) {
    if (record != other.record) {
        const Usage::Counts counts = other.record->Get();
        record->Update([&counts](Usage::Counts& own) { own = counts; });
    }
    return *this;
}

DataModel::Client::UsageHandle::~UsageHandle() = default;

std::int32_t DataModel::Client::GetDailyWorkedTime() const {
    return m_usage.record->Get().time;
}

void DataModel::Client::SetDailyWorkedTime(std::int32_t seconds) {
    m_usage.record->Update([seconds](Usage::Counts& counts) { counts.time = seconds; });
}

std::int64_t DataModel::Client::GetDailyWorkedTimeLastUpdate() const {
    return m_usage.record->Get().timeUpdated;
}

void DataModel::Client::SetDailyWorkedTimeLastUpdate(std::int64_t time) {
    m_usage.record->Update([time](Usage::Counts& counts) { counts.timeUpdated = time; });
}

std::int32_t DataModel::Client::GetDailyWorkedTraffic() const {
    return m_usage.record->Get().traffic;
}

void DataModel::Client::SetDailyWorkedTraffic(std::int32_t bytes) {
    m_usage.record->Update([bytes](Usage::Counts& counts) { counts.traffic = bytes; });
}

std::int64_t DataModel::Client::GetDailyWorkedTrafficLastUpdate() const {
    return m_usage.record->Get().trafficUpdated;
}

void DataModel::Client::SetDailyWorkedTrafficLastUpdate(std::int64_t time) {
    m_usage.record->Update([time](Usage::Counts& counts) { counts.trafficUpdated = time; });
}

void DataModel::Client::SetGroupID(const std::string& groupId) {
    m_groupId = groupId;
    m_pGroup = m_pOwner ? m_pOwner->FindClientGroup(groupId) : nullptr;
}

std::string DataModel::Client::GetDisplayName() const {
    return IsBlank(m_login) ? m_ip : m_login + " (" + m_ip + ")";
}

Ret DataModel::Client::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_ip))
        problems.emplace_back("Empty IP");
    else if (!IsIPAddress(m_ip))
        problems.emplace_back("Bad IP");
    if (IsBlank(m_groupId) || m_groupId == "0")
        problems.emplace_back("Empty Group");
    else if (!m_pGroup)
        problems.emplace_back("Can not find the Client Group with ID = " + m_groupId);
    if (m_extraMinutes < 0 || m_extraMinutes > EXTRA_MINUTES_MAX)
        problems.emplace_back("The extra minutes value must be between the 0 and 1440");
    if (m_extraMinutesGiven < 0)
        problems.emplace_back("The extra minutes given value must be bigger or equals 0");
    return Problems(problems);
}

namespace {
const PolicyFields<DataModel::Client>& Fields() {
    using C = DataModel::Client;
    static const PolicyFields<C> fields{
        TextField(u"id", &C::GetID, &C::SetID),
        TextField(u"ip", &C::GetIP, &C::SetIP),
        TextField(u"groupid", &C::GetGroupID, &C::SetGroupID),
        TextField(u"login", &C::GetLogin, &C::SetLogin),
        TextField(u"password", &C::GetPassword, &C::SetPassword),
        IntField(u"dailyworkedtime", &C::GetDailyWorkedTime, &C::SetDailyWorkedTime),
        IntField(u"dailyworkedtimelastupdate", &C::GetDailyWorkedTimeLastUpdate,
                 &C::SetDailyWorkedTimeLastUpdate),
        IntField(u"dailyworkedtraffic", &C::GetDailyWorkedTraffic, &C::SetDailyWorkedTraffic),
        IntField(u"dailyworkedtrafficlastupdate", &C::GetDailyWorkedTrafficLastUpdate,
                 &C::SetDailyWorkedTrafficLastUpdate),
        WhenSet(IntField(u"extraminutes", &C::GetExtraMinutes, &C::SetExtraMinutes)),
        WhenSet(TimeField(u"extraminutesgiven", &C::GetExtraMinutesGiven, &C::SetExtraMinutesGiven)),
    };
    return fields;
}
} // namespace

// The group ID resolves at once, so the groups must be loaded first. A client is keyed by its IP
// whatever its stored ID says.
Ret DataModel::Client::Load(const PolicyNode& record) {
    const Ret read = ReadFields(*this, record, Fields());
    m_id = m_ip;
    return read.IsOK() ? Validate(false) : read;
}

void DataModel::Client::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

namespace {

// Ticks closer together than this count as continuous use.
const std::int64_t PAUSE_SECONDS = 300;

bool SameDay(const Clock& clock, std::int64_t first, std::int64_t second) {
    return clock.LocalTime(first).tm_yday == clock.LocalTime(second).tm_yday;
}

std::int32_t Today(const Clock& clock, std::int64_t now, std::int32_t counter, std::int64_t lastUpdate) {
    return lastUpdate != 0 && SameDay(clock, lastUpdate, now) ? counter : 0;
}

std::int32_t SaturatedSum(std::int64_t sum) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(std::max<std::int64_t>(sum, INT32_MIN),
                                                            std::numeric_limits<std::int32_t>::max()));
}

} // namespace

std::int32_t DataModel::Client::Usage::TimeToday(const Clock& clock) const {
    const Counts counts = Get();
    return Today(clock, clock.Now(), counts.time, counts.timeUpdated);
}

std::int32_t DataModel::Client::Usage::TrafficToday(const Clock& clock) const {
    const Counts counts = Get();
    return Today(clock, clock.Now(), counts.traffic, counts.trafficUpdated);
}

void DataModel::Client::Usage::TickTime(const Clock& clock) {
    const std::int64_t now = clock.Now();
    Update([&](Counts& counts) {
        if (counts.timeUpdated == 0) {
            counts.time = 0;
        } else {
            const std::int64_t elapsed = now - counts.timeUpdated;
            if (SameDay(clock, counts.timeUpdated, now)) {
                if (elapsed < PAUSE_SECONDS)
                    counts.time = SaturatedSum(std::int64_t(counts.time) + elapsed);
            } else if (elapsed <= PAUSE_SECONDS) {
                // The use went on over midnight: today holds the part after it.
                const std::tm local = clock.LocalTime(now);
                counts.time = local.tm_min * 60 + local.tm_sec;
            } else {
                counts.time = 0;
            }
        }
        counts.timeUpdated = now;
    });
}

void DataModel::Client::Usage::TickTraffic(const Clock& clock, std::int32_t bytes) {
    const std::int64_t now = clock.Now();
    Update([&](Counts& counts) {
        counts.traffic =
            SaturatedSum(std::int64_t(Today(clock, now, counts.traffic, counts.trafficUpdated)) + bytes);
        counts.trafficUpdated = now;
    });
}

std::int32_t DataModel::Client::GetDailyWorkedTime(const Clock& clock) const {
    return m_usage.record->TimeToday(clock);
}

std::int32_t DataModel::Client::GetDailyWorkedTraffic(const Clock& clock) const {
    return m_usage.record->TrafficToday(clock);
}

void DataModel::Client::TickTime(const Clock& clock) {
    m_usage.record->TickTime(clock);
}

void DataModel::Client::TickTraffic(const Clock& clock, std::int32_t bytes) {
    m_usage.record->TickTraffic(clock, bytes);
}

} // namespace tav
