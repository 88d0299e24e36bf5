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
// A node's out-edges are contiguous, in file order, each a first symbol, the rest of its string
// and the node it leads to.
class CompactGraph {
public:
    typedef std::uint32_t Node;

    // Checks what the lookup relies on and folds the graph; none when the graph has no root, a
    // vertex the root does not reach by first in-edges, or a vertex with two out-edges of one
    // symbol or one of symbol 0. Takes the archived graph's memory as it goes.
    static std::optional<CompactGraph> Build(ArchivedGraph&& archived);

    Node Root() const { return m_root; }
    bool IsBlocked(Node node) const { return (m_flags[node] & ArchivedGraph::Blocked) != 0; }
    std::uint32_t Categories(Node node) const { return m_masks[node]; }

    // Spells text out from `start` as far as the graph follows it, and answers the deepest entry
    // passed on the way, not `start` itself, that ends a key at a boundary: the character after it
    // is the end of the text, a dot or a slash, or the one before it is a slash. `text` gives the
    // character at each position, and 0 past the end.
    template <class Text> std::optional<Node> Find(Node start, const Text& text) const;

private:
    CompactGraph() = default;

    std::optional<Node> Edge(Node node, char symbol) const {
        const std::uint32_t count = m_edges[node + 1] - m_edges[node];
        const char* first = m_symbols.data() + m_edges[node];
        const void* found = count == 0 ? nullptr : std::memchr(first, symbol, count);
        if (found == nullptr)
            return std::nullopt;
        return m_edges[node] + static_cast<Node>(static_cast<const char*>(found) - first);
    }
    static bool IsBoundary(char c) { return c == '\0' || c == '.' || c == '/'; }

    Node m_root = 0;
    std::vector<std::uint8_t> m_flags;  // per node, ArchivedGraph's
    std::vector<std::uint32_t> m_masks; // per node
    std::vector<std::uint32_t> m_edges; // per node, its first out-edge; one more for the end
    std::vector<char> m_symbols;        // per edge
    std::vector<Node> m_targets;        // per edge
    std::vector<std::uint32_t> m_rests; // per edge, where the rest of its string starts; one more
    std::string m_strings;
};

template <class Text>
std::optional<CompactGraph::Node> CompactGraph::Find(Node start, const Text& text) const {
    std::optional<Node> found;
    Node node = start;
    for (std::size_t at = 0;;) {
        const char next = text[at];
        if (at > 0 && (m_flags[node] & ArchivedGraph::Terminal) != 0 &&
            (IsBoundary(next) || text[at - 1] == '/'))
            found = node;
        const std::optional<Node> edge = next == '\0' ? std::nullopt : Edge(node, next);
        if (!edge)
            return found;
        ++at;
        // The vertices folded into the edge hold no entry: a text that parts from the string ends
        // the walk with what was found before it.
        for (std::uint32_t rest = m_rests[*edge]; rest < m_rests[*edge + 1]; ++rest, ++at) {
            if (text[at] != m_strings[rest])
                return found;
        }
        node = m_targets[*edge];
    }
}

} // namespace tav::urlfilter
