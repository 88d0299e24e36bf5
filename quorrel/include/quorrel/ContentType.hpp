#pragma once

#include <quorrel/DataModel.hpp>

namespace tav {

// A rule for answers whose MIME type starts with the given type.
class QUORREL_EXPORT DataModel::ContentType : public DataModel::Base {
public:
    explicit ContentType(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetType() const { return m_type; }
    void SetType(const std::string& type) {
        m_type = type;
        m_foldedType = FoldCase(type, false);
    }
    // The type as it is compared: in lower case.
    const std::string& GetFoldedType() const { return m_foldedType; }
    const std::string& GetDescription() const { return m_description; }
    void SetDescription(const std::string& description) { m_description = description; }
    ContentTypeAction GetAction() const { return m_action; }
    void SetAction(ContentTypeAction action) { m_action = action; }

private:
    std::string m_id;
    std::string m_type;
    std::string m_foldedType;
    std::string m_description;
    ContentTypeAction m_action;
};

inline const std::string& DataModel::SortKey(const ContentType& type) {
    return type.GetType();
}

} // namespace tav
