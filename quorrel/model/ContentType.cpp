#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::ContentType::ContentType(DataModel* owner) : Base(owner), m_action(PassingThrough) {}

Ret DataModel::ContentType::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_type))
        problems.emplace_back("Empty Type");
    if (m_action != PassingThrough && m_action != Preventing && m_action != Filtering)
        problems.emplace_back("Not valid Action");
    return Problems(problems);
}

} // namespace tav
