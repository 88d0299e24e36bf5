#include <quorrel/DataModel.hpp>

namespace tav {

BlockedUrlWordManager::~BlockedUrlWordManager() = default;

void DataModel::BlockedUrlWordManager::SetWords(const ModelTypes::BlockedUrlWords& words) {
    m_words.Set(words);
    std::vector<std::pair<std::string, std::uint32_t>> folded;
    folded.reserve(words.size());
    for (const auto& word : words)
        folded.emplace_back(word->GetFoldedWord(), static_cast<std::uint32_t>(word->GetCategoriesMask()));
    m_wordIndex = WordIndex(folded);
}

} // namespace tav
