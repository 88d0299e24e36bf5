#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::Category::Category(const std::string& id, const std::string& name)
    : Base(nullptr), m_id(id), m_name(name) {}

Ret DataModel::Category::Validate(bool) const {
    if (m_id.empty())
        return Problem("Empty ID");
    return Problem(m_name.empty() ? "Empty Name" : "");
}

} // namespace tav
