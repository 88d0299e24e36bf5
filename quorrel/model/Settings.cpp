#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::Settings::Settings(DataModel* owner)
    : Base(owner), m_isFiltrationOn(false), m_isRunAtStartup(true) {}

std::string DataModel::Settings::GetSecurityQuestionID() const {
    return m_securityQuestion ? m_securityQuestion->GetID() : std::string();
}

void DataModel::Settings::SetSecurityQuestionID(const std::string& id) {
    m_securityQuestion = m_pOwner ? m_pOwner->FindSecurityQuestion(id) : nullptr;
}

Ret DataModel::Settings::Validate(bool) const {
    std::vector<std::string> problems;
    if (m_securityQuestion && IsBlank(m_securityAnswer))
        problems.emplace_back("Empty Security Answer");
    return Problems(problems);
}

} // namespace tav
