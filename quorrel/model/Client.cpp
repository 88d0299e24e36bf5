#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

} // namespace tav
