#pragma once

#include <quorrel/ListEntity.hpp>

#include <cstdint>

namespace tav {

// A word that blocks URLs containing it on pages of the categories in its mask.
class QUORREL_EXPORT BlockedUrlWord : public ListEntity<BlockedUrlWord> {
public:
    explicit BlockedUrlWord(DataModel* owner) : ListEntity(owner) {}

    const std::string& GetWord() const { return GetText(); }
    void SetWord(const std::string& word) { SetText(word); }
    // The word as it is looked for: in lower case.
    const std::string& GetFoldedWord() const { return GetFoldedText(); }
    std::int32_t GetCategoriesMask() const { return m_categoriesMask; }
    void SetCategoriesMask(std::int32_t mask) { m_categoriesMask = mask; }

private:
    friend class ListEntity<BlockedUrlWord>;
    struct Kind;

    std::int32_t m_categoriesMask = 0;
};

inline const std::string& ModelTypes::SortKey(const BlockedUrlWord& word) {
    return word.GetWord();
}

} // namespace tav
