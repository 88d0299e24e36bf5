#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

namespace {
const PolicyFields<DataModel::InapContentWord>& Fields() {
    using W = DataModel::InapContentWord;
    static const PolicyFields<W> fields{
        TextField(u"id", &W::GetID, &W::SetID),
        TextField(u"word", &W::GetWord, &W::SetWord),
    };
    return fields;
}
} // namespace

Ret DataModel::InapContentWord::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::InapContentWord::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
