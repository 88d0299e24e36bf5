#pragma once

#include "ArchiveReader.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tav::urlfilter {

// The graph of the URL database in flat arrays, read-only. Each run of vertices that only lead on
// (one in-edge, one out-edge, no entry) is folded into its edge as a string of symbols, so the
// graph keeps only the root, the entries and the vertices where ways meet or part: its nodes.
// A node's out-edges, whose first symbols differ, are each a first symbol, the rest of its string and
// the node it leads to.
//
// A node is a record of words that holds all a walk reads of it, so that a step costs few cache
// lines even when the graph is far larger than the caches: its flags and number of out-edges, its
// categories, the first symbols of its edges packed four to a word, then per edge the node it leads
// to and where the rest of its string starts and ends. A node is known by where its record starts.
class CompactGraph {
public:
    typedef std::uint32_t Node;

    // Checks what the lookup relies on and folds the graph; none when the graph has no root, a
    // vertex the root does not reach by first in-edges, or a vertex with two out-edges of one
    // symbol or one of symbol 0, or when the records would not fit 32-bit positions. Works in the
    // archived graph's own vertices.
    static std::optional<CompactGraph> Build(ArchivedGraph&& archived);

    Node Root() const { return m_root; }
    bool IsBlocked(Node node) const { return (m_records[node] & ArchivedGraph::Blocked) != 0; }
    std::uint32_t Categories(Node node) const { return m_records[node + 1]; }

    // Spells text out from `start` as far as the graph follows it, and answers the deepest entry
    // passed on the way, not `start` itself, that ends a key at a boundary: the character after it
    // is the end of the text, a dot or a slash, or the one before it is a slash. `text` gives the
    // character at each position, and 0 past the end.
    template <class Text> std::optional<Node> Find(Node start, const Text& text) const;

private:
    static constexpr unsigned kEdgeCountShift = 8; // below it, the flags
    static constexpr std::uint32_t kEdgeWords = 3;

    CompactGraph() = default;

    static std::size_t SymbolWords(std::uint32_t edges) { return (edges + 3) / 4; }
    // The words of the edge that leaves the node with that first symbol, or null.
    const std::uint32_t* Edge(Node node, char symbol) const {
        const std::uint32_t* record = m_records.data() + node;
        const std::uint32_t count = record[0] >> kEdgeCountShift;
        const auto* symbols = reinterpret_cast<const char*>(record + 2);
        const void* found = count == 0 ? nullptr : std::memchr(symbols, symbol, count);
        if (found == nullptr)
            return nullptr;
        const auto index = static_cast<std::size_t>(static_cast<const char*>(found) - symbols);
        return record + 2 + SymbolWords(count) + kEdgeWords * index;
    }
    static bool IsBoundary(char c) { return c == '\0' || c == '.' || c == '/'; }

    Node m_root = 0;
    std::vector<std::uint32_t> m_records;
    std::string m_strings;
};

template <class Text>
std::optional<CompactGraph::Node> CompactGraph::Find(Node start, const Text& text) const {
    std::optional<Node> found;
    Node node = start;
    for (std::size_t at = 0;;) {
        const char next = text[at];
        if (at > 0 && (m_records[node] & ArchivedGraph::Terminal) != 0 &&
            (IsBoundary(next) || text[at - 1] == '/'))
            found = node;
        const std::uint32_t* edge = next == '\0' ? nullptr : Edge(node, next);
        if (edge == nullptr)
            return found;
        ++at;
        // The vertices folded into the edge hold no entry: a text that parts from the string ends
        // the walk with what was found before it.
        for (std::uint32_t rest = edge[1]; rest < edge[2]; ++rest, ++at) {
            if (text[at] != m_strings[rest])
                return found;
        }
        node = edge[0];
    }
}

} // namespace tav::urlfilter
