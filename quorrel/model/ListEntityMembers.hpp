#pragma once

#include <quorrel/BlockedUrlWord.hpp>
#include <quorrel/ContentType.hpp>
#include <quorrel/InapContentWord.hpp>
#include <quorrel/ListEntity.hpp>
#include <quorrel/SecurityQuestion.hpp>
#include <quorrel/Text.hpp>

#include "PolicyField.hpp"

#include <string>
#include <vector>

// The members of ListEntity. The source of each kind of entry defines its Entity::Kind, includes this header
// and instantiates ListEntity<Entity> there. A kind has:
//   name       the text in the message of a blank one ("Empty " + name);
//   folding    whether the text is kept in lower case too, and with which letters;
//   Fields()   the record's fields in the order of the file, with the ID and the text;
//   Check()    adds the problems of what the class adds to the ID and the text.
namespace tav {

// How an entry's text is folded for looking it up: not at all, or as FoldCase does, without or with the
// Cyrillic letters.
enum class TextFolding { None, Latin, Cyrillic };

// Each kind's source instantiates its own.
extern template class ListEntity<BlockedUrlWord>;
extern template class ListEntity<ContentType>;
extern template class ListEntity<InapContentWord>;
extern template class ListEntity<SecurityQuestion>;

template <class Entity> Ret ListEntity<Entity>::Load(const PolicyNode& record) {
    return LoadRecord(static_cast<Entity&>(*this), record, Entity::Kind::Fields());
}

template <class Entity> void ListEntity<Entity>::Save(PolicyNode& record) const {
    WriteFields(static_cast<const Entity&>(*this), record, Entity::Kind::Fields());
}

template <class Entity> Ret ListEntity<Entity>::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && IsBlank(m_id))
        problems.emplace_back("Empty ID");
    if (IsBlank(m_text))
        problems.emplace_back(std::string("Empty ") + Entity::Kind::name);
    Entity::Kind::Check(static_cast<const Entity&>(*this), problems);
    return Problems(problems);
}

template <class Entity> void ListEntity<Entity>::SetText(const std::string& text) {
    m_text = text;
    constexpr TextFolding folding = Entity::Kind::folding;
    if constexpr (folding != TextFolding::None)
        m_foldedText = FoldCase(text, folding == TextFolding::Cyrillic);
}

} // namespace tav
