#include <quorrel/DataModel.hpp>

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

} // namespace tav
