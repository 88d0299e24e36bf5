#pragma once

#include <quorrel/ListEntity.hpp>

namespace tav {

// A word that marks page content as inappropriate.
class QUORREL_EXPORT InapContentWord : public ListEntity<InapContentWord> {
public:
    explicit InapContentWord(DataModel* owner) : ListEntity(owner) {}

    const std::string& GetWord() const { return GetText(); }
    void SetWord(const std::string& word) { SetText(word); }
    // The word as it is looked for: in lower case.
    const std::string& GetFoldedWord() const { return GetFoldedText(); }

private:
    friend class ListEntity<InapContentWord>;
    struct Kind;
};

inline const std::string& ModelTypes::SortKey(const InapContentWord& word) {
    return word.GetWord();
}

} // namespace tav
