#pragma once

#include <quorrel/DataModel.hpp>

namespace tav {

// Settings that carry a list of words blocked in URLs.
class QUORREL_EXPORT DataModel::BlockedUrlWordManager {
public:
    virtual ~BlockedUrlWordManager();

    virtual const BlockedUrlWords& GetWords() const = 0;
    // Replaces the list by a copy of the given one; the word objects are shared.
    virtual void SetWords(const BlockedUrlWords& words) = 0;
    virtual bool GetIsBlockedUrlWordsEnabled() const = 0;
    virtual void SetIsBlockedUrlWordsEnabled(bool enabled) = 0;

protected:
    BlockedUrlWordManager() = default;
    BlockedUrlWordManager(const BlockedUrlWordManager&) = default;
    BlockedUrlWordManager& operator=(const BlockedUrlWordManager&) = default;
};

} // namespace tav
