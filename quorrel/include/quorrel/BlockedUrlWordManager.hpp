#pragma once

#include <quorrel/ModelTypes.hpp>
#include <quorrel/SharedValue.hpp>
#include <quorrel/WordIndex.hpp>

namespace tav {

// Settings that carry a list of words blocked in URLs, with its switch.
class QUORREL_EXPORT BlockedUrlWordManager {
public:
    virtual ~BlockedUrlWordManager();

    const ModelTypes::BlockedUrlWords& GetWords() const { return m_words.Get(); }
    // Replaces the list by a copy of the given one, the word objects shared, and indexes it.
    void SetWords(const ModelTypes::BlockedUrlWords& words);
    // The folded words with their categories, to be found in a request's WordText; kept with the list.
    const WordIndex& GetWordIndex() const { return m_wordIndex; }
    bool GetIsBlockedUrlWordsEnabled() const { return m_isBlockedUrlWordsEnabled; }
    void SetIsBlockedUrlWordsEnabled(bool enabled) { m_isBlockedUrlWordsEnabled = enabled; }

protected:
    BlockedUrlWordManager() = default;
    BlockedUrlWordManager(const BlockedUrlWordManager&) = default;
    BlockedUrlWordManager& operator=(const BlockedUrlWordManager&) = default;

private:
    SharedValue<ModelTypes::BlockedUrlWords> m_words;
    WordIndex m_wordIndex;
    bool m_isBlockedUrlWordsEnabled = false;
};

} // namespace tav
