#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::InapContentWord::InapContentWord(DataModel* owner) : Base(owner) {}

Ret DataModel::InapContentWord::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_word))
        problems.emplace_back("Empty Word");
    return Problems(problems);
}

} // namespace tav
