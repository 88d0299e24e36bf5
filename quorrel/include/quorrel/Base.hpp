#pragma once

#include <quorrel/ModelTypes.hpp>
#include <quorrel/Ret.hpp>

#include <string>
#include <vector>

namespace tav {

// Root of every policy entity: knows the model that created it (null for free-standing ones).
class QUORREL_EXPORT Base : public ModelTypes {
public:
    virtual ~Base();
    // Reads the entity from its record element of the policy file, then validates it.
    virtual Ret Load(const PolicyNode& record) = 0;
    // Appends the entity's values to its record element.
    virtual void Save(PolicyNode& record) const = 0;
    // Collects every problem of the fields; skipping the ID check lets new records through.
    virtual Ret Validate(bool skipIdCheck) const = 0;

    DataModel* GetOwner() const { return m_pOwner; }

protected:
    explicit Base(DataModel* owner) : m_pOwner(owner) {}
    Base(const Base&) = default;
    Base& operator=(const Base&) = default;

    // The result of a validation: failed when at least one problem was found.
    static Ret Problems(const std::vector<std::string>& problems);
    // The same for classes that stop at their first problem; an empty text means none.
    static Ret Problem(const std::string& problem);

    DataModel* m_pOwner;
};

} // namespace tav
