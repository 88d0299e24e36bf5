#pragma once

#include <quorrel/export.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tav {

// A list of words with their categories, found in a text all at once: an Aho-Corasick automaton in one
// flat table, which reads the text once whatever the number of words. ASCII letters match in either case,
// as FoldCase folds them; other bytes as they are.
class QUORREL_EXPORT WordIndex {
public:
    WordIndex() = default;
    explicit WordIndex(const std::vector<std::pair<std::string, std::uint32_t>>& words);

    // The categories of every word found anywhere in the text, OR-ed; an empty word is in every text.
    std::uint32_t Categories(std::string_view text) const;
    // The categories of all the words, OR-ed: the most that Categories can give.
    std::uint32_t AllCategories() const;

private:
    struct Automaton;
    // Shared by copies of the index, as it never changes once built.
    std::shared_ptr<const Automaton> m_automaton;
};

} // namespace tav
