#pragma once

#include <quorrel/DataModel.hpp>

namespace tav {

// A word that marks page content as inappropriate.
class QUORREL_EXPORT DataModel::InapContentWord : public DataModel::Base {
public:
    explicit InapContentWord(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetWord() const { return m_word; }
    void SetWord(const std::string& word) {
        m_word = word;
        m_foldedWord = FoldCase(word, true);
    }
    // The word as it is looked for: in lower case.
    const std::string& GetFoldedWord() const { return m_foldedWord; }

private:
    std::string m_id;
    std::string m_word;
    std::string m_foldedWord;
};

inline const std::string& DataModel::SortKey(const InapContentWord& word) {
    return word.GetWord();
}

} // namespace tav
