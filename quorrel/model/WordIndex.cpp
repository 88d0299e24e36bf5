#include <quorrel/WordIndex.hpp>

#include <algorithm>
#include <array>
#include <cstddef>

namespace tav {

// The automaton's states are rows of one table, the root's first. A row holds, for each byte class,
// where the next state's row starts, then the categories of the words that end where the state is
// reached. Bytes of no word share class 0, and an ASCII letter shares its class with its other case.
struct WordIndex::Automaton {
    std::array<std::uint16_t, 256> classes{};
    std::uint32_t width = 1; // byte classes
    std::vector<std::uint32_t> rows;
    std::uint32_t all = 0;
    std::size_t longest = 0; // bytes of the longest word

    std::uint32_t Column(char c) const { return classes[static_cast<unsigned char>(c)]; }
};

WordIndex::WordIndex(const std::vector<std::pair<std::string, std::uint32_t>>& words) {
    auto automaton = std::make_shared<Automaton>();
    Automaton& a = *automaton;
    for (const auto& word : words)
        for (const char c : word.first) {
            const auto byte = static_cast<unsigned char>(c);
            if (a.classes[byte] != 0)
                continue;
            a.classes[byte] = static_cast<std::uint16_t>(a.width++);
            // The cases of an ASCII letter differ in bit 5 alone.
            if (static_cast<unsigned char>((byte | 0x20) - 'a') < 26)
                a.classes[byte ^ 0x20] = a.classes[byte];
        }
    const std::uint32_t stride = a.width + 1;
    std::vector<std::uint32_t>& rows = a.rows;
    rows.assign(stride, 0);

    // The trie of the words. No edge of it leads to the root, so 0 marks an edge it lacks.
    for (const auto& [word, categories] : words) {
        std::uint32_t state = 0;
        for (const char c : word) {
            const std::size_t edge = state + a.Column(c);
            if (rows[edge] == 0) {
                rows[edge] = static_cast<std::uint32_t>(rows.size());
                rows.resize(rows.size() + stride, 0);
            }
            state = rows[edge];
        }
        rows[state + a.width] |= categories;
        a.all |= categories;
        a.longest = std::max(a.longest, word.size());
    }

    // Breadth first, so that shorter states come first: each state falls back to the longest proper
    // suffix of its text that is a state too, takes the edges it lacks from there and the categories
    // found there as well.
    std::vector<std::uint32_t> fallback(rows.size() / stride, 0);
    std::vector<std::uint32_t> queue{0};
    for (std::size_t next = 0; next < queue.size(); ++next) {
        const std::uint32_t state = queue[next];
        const std::uint32_t back = fallback[state / stride];
        for (std::uint32_t column = 0; column < a.width; ++column) {
            const std::uint32_t inherited = state == 0 ? 0 : rows[back + column];
            std::uint32_t& child = rows[state + column];
            if (child == 0) {
                child = inherited;
                continue;
            }
            fallback[child / stride] = inherited;
            rows[child + a.width] |= rows[inherited + a.width];
            queue.push_back(child);
        }
    }
    m_automaton = std::move(automaton);
}

std::uint32_t WordIndex::Categories(std::string_view text) const {
    if (m_automaton == nullptr)
        return 0;
    const Automaton& a = *m_automaton;
    const std::uint32_t* rows = a.rows.data();
    // Each byte's step waits for the one before, so two walks go side by side: one over the first half
    // of the text, and one from far enough before the middle to read whole every word that ends after
    // it. Each starts at the root.
    const std::size_t half = text.size() / 2;
    const std::size_t second = half - std::min(half, a.longest > 0 ? a.longest - 1 : 0);
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t found = rows[a.width];
    for (std::size_t at = 0; second + at < text.size(); ++at) {
        if (at < half) {
            first = rows[first + a.Column(text[at])];
            found |= rows[first + a.width];
        }
        last = rows[last + a.Column(text[second + at])];
        found |= rows[last + a.width];
    }
    return found;
}

std::uint32_t WordIndex::AllCategories() const {
    return m_automaton == nullptr ? 0 : m_automaton->all;
}

} // namespace tav
