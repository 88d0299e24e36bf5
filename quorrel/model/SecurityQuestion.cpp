#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::SecurityQuestion::SecurityQuestion(DataModel* owner) : Base(owner) {}

Ret DataModel::SecurityQuestion::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_question))
        problems.emplace_back("Empty Question");
    return Problems(problems);
}

} // namespace tav
