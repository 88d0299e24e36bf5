#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

namespace tav {

DataModel::Category::Category(const std::string& id, const std::string& name)
    : Base(nullptr), m_id(id), m_name(name) {}

Ret DataModel::Category::Validate(bool) const {
    if (m_id.empty())
        return Problem("Empty ID");
    return Problem(m_name.empty() ? "Empty Name" : "");
}

namespace {
const PolicyFields<DataModel::Category>& Fields() {
    static const PolicyFields<DataModel::Category> fields{
        TextField(u"id", &DataModel::Category::GetID, &DataModel::Category::SetID),
        TextField(u"name", &DataModel::Category::GetName, &DataModel::Category::SetName),
    };
    return fields;
}
} // namespace

Ret DataModel::Category::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::Category::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
