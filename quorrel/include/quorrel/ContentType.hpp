#pragma once

#include <quorrel/ListEntity.hpp>

namespace tav {

// A rule for answers whose MIME type starts with the given type.
class QUORREL_EXPORT ContentType : public ListEntity<ContentType> {
public:
    explicit ContentType(DataModel* owner) : ListEntity(owner) {}

    const std::string& GetType() const { return GetText(); }
    void SetType(const std::string& type) { SetText(type); }
    // The type as it is compared: in lower case.
    const std::string& GetFoldedType() const { return GetFoldedText(); }
    const std::string& GetDescription() const { return m_description; }
    void SetDescription(const std::string& description) { m_description = description; }
    ContentTypeAction GetAction() const { return m_action; }
    void SetAction(ContentTypeAction action) { m_action = action; }

private:
    friend class ListEntity<ContentType>;
    struct Kind;

    std::string m_description;
    ContentTypeAction m_action = PassingThrough;
};

inline const std::string& ModelTypes::SortKey(const ContentType& type) {
    return type.GetType();
}

} // namespace tav
