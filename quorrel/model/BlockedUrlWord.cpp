#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

namespace {
const PolicyFields<DataModel::BlockedUrlWord>& Fields() {
    using W = DataModel::BlockedUrlWord;
    static const PolicyFields<W> fields{
        TextField(u"id", &W::GetID, &W::SetID),
        TextField(u"word", &W::GetWord, &W::SetWord),
        IntField(u"categoriesmask", &W::GetCategoriesMask, &W::SetCategoriesMask, 16),
    };
    return fields;
}
} // namespace

Ret DataModel::BlockedUrlWord::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::BlockedUrlWord::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
