#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

#include <algorithm>
#include <limits>

namespace tav {

DataModel::Client::Client(DataModel* owner)
    : Base(owner), m_pGroup(nullptr), m_dailyWorkedTime(0), m_dailyWorkedTimeLastUpdate(0),
      m_dailyWorkedTraffic(0), m_dailyWorkedTrafficLastUpdate(0) {}

void DataModel::Client::SetGroupID(const std::string& groupId) {
    m_groupId = groupId;
    m_pGroup = m_pOwner ? m_pOwner->FindClientGroup(groupId) : nullptr;
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
    };
    return fields;
}
} // namespace

// The group ID resolves at once, so the groups must be loaded first. A client is keyed by its IP
// whatever its stored ID says.
Ret DataModel::Client::Load(const xercesc::DOMElement* element) {
    ReadFields(*this, element, Fields());
    m_id = m_ip;
    return Validate(false);
}

void DataModel::Client::Save(xercesc::DOMDocument* document, xercesc::DOMElement* element) const {
    WriteFields(*this, document, element, Fields());
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

std::int32_t DataModel::Client::GetDailyWorkedTime(const Clock& clock) const {
    return Today(clock, clock.Now(), m_dailyWorkedTime, m_dailyWorkedTimeLastUpdate);
}

std::int32_t DataModel::Client::GetDailyWorkedTraffic(const Clock& clock) const {
    return Today(clock, clock.Now(), m_dailyWorkedTraffic, m_dailyWorkedTrafficLastUpdate);
}

void DataModel::Client::TickTime(const Clock& clock) {
    const std::int64_t now = clock.Now();
    if (m_dailyWorkedTimeLastUpdate == 0) {
        m_dailyWorkedTime = 0;
    } else {
        const std::int64_t elapsed = now - m_dailyWorkedTimeLastUpdate;
        if (SameDay(clock, m_dailyWorkedTimeLastUpdate, now)) {
            if (elapsed < PAUSE_SECONDS)
                m_dailyWorkedTime = SaturatedSum(std::int64_t(m_dailyWorkedTime) + elapsed);
        } else if (elapsed <= PAUSE_SECONDS) {
            // The use went on over midnight: today holds the part after it.
            const std::tm local = clock.LocalTime(now);
            m_dailyWorkedTime = local.tm_min * 60 + local.tm_sec;
        } else {
            m_dailyWorkedTime = 0;
        }
    }
    m_dailyWorkedTimeLastUpdate = now;
}

void DataModel::Client::TickTraffic(const Clock& clock, std::int32_t bytes) {
    const std::int64_t now = clock.Now();
    m_dailyWorkedTraffic = SaturatedSum(
        std::int64_t(Today(clock, now, m_dailyWorkedTraffic, m_dailyWorkedTrafficLastUpdate)) + bytes);
    m_dailyWorkedTrafficLastUpdate = now;
}

} // namespace tav
