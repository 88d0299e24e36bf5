#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::BlockedUrlWord::BlockedUrlWord(DataModel* owner) : Base(owner), m_categoriesMask(0) {}

Ret DataModel::BlockedUrlWord::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_word))
        problems.emplace_back("Empty Word");
    if (m_categoriesMask == 0)
        problems.emplace_back("At least one Category must be selected");
    return Problems(problems);
}

} // namespace tav
