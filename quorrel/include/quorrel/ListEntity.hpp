#pragma once

#include <quorrel/Base.hpp>

#include <string>

namespace tav {

// An entry of one of the policy's plain lists: the words blocked in addresses, the words of pages, the
// content types and the security questions. Each has an ID and the text it is known by, which is also kept
// in lower case where entries are looked for by it. `Entity` is the entry's class, whose private
// `Entity::Kind`, defined in the model's sources, gives the rest: the record's fields, the name of the text
// in messages, how the text is folded and the checks of what the class adds.
template <class Entity> class QUORREL_EXPORT ListEntity : public Base {
public:
    // Reads the ID, the text and the kind's fields from the record, then validates the entry.
    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    // A blank ID (unless skipped) or text is a problem, then whatever the kind checks.
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }

protected:
    explicit ListEntity(DataModel* owner) : Base(owner) {}

    const std::string& GetText() const { return m_text; }
    // Stores the text and, for a kind that folds it, its lower case form.
    void SetText(const std::string& text);
    // The text as it is looked for; empty for a kind that does not fold it.
    const std::string& GetFoldedText() const { return m_foldedText; }

private:
    std::string m_id;
    std::string m_text;
    std::string m_foldedText;
};

} // namespace tav
