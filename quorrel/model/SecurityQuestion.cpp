#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

namespace {
const PolicyFields<DataModel::SecurityQuestion>& Fields() {
    using Q = DataModel::SecurityQuestion;
    static const PolicyFields<Q> fields{
        TextField(u"id", &Q::GetID, &Q::SetID),
        TextField(u"question", &Q::GetQuestion, &Q::SetQuestion),
    };
    return fields;
}
} // namespace

Ret DataModel::SecurityQuestion::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::SecurityQuestion::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
