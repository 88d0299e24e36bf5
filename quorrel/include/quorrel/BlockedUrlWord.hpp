#pragma once

#include <quorrel/DataModel.hpp>

namespace tav {

// A word that blocks URLs containing it on pages of the categories in its mask.
class QUORREL_EXPORT DataModel::BlockedUrlWord : public DataModel::Base {
public:
    explicit BlockedUrlWord(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetWord() const { return m_word; }
    void SetWord(const std::string& word) {
        m_word = word;
        m_foldedWord = FoldCase(word, false);
    }
    // The word as it is looked for: in lower case.
    const std::string& GetFoldedWord() const { return m_foldedWord; }
    std::int32_t GetCategoriesMask() const { return m_categoriesMask; }
    void SetCategoriesMask(std::int32_t mask) { m_categoriesMask = mask; }

private:
    std::string m_id;
    std::string m_word;
    std::string m_foldedWord;
    std::int32_t m_categoriesMask;
};

inline const std::string& DataModel::SortKey(const BlockedUrlWord& word) {
    return word.GetWord();
}

} // namespace tav
