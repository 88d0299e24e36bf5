#pragma once

#include <quorrel/Base.hpp>

namespace tav {

// A site category of the URL database; category ID n is bit n-1 of a categories mask.
class QUORREL_EXPORT Category : public Base {
public:
    Category(const std::string& id, const std::string& name);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }

private:
    std::string m_id;
    std::string m_name;
};

} // namespace tav
