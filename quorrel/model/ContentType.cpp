#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

namespace {
const PolicyFields<DataModel::ContentType>& Fields() {
    using C = DataModel::ContentType;
    static const PolicyFields<C> fields{
        TextField(u"id", &C::GetID, &C::SetID),
        TextField(u"type", &C::GetType, &C::SetType),
        TextField(u"description", &C::GetDescription, &C::SetDescription),
        IntField(u"action", &C::GetAction, &C::SetAction),
    };
    return fields;
}
} // namespace

Ret DataModel::ContentType::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::ContentType::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
