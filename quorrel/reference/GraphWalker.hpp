#pragma once

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraph.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tav::urlfilter {

// Spells a text out along the graph from a start vertex, one character at a time, and keeps the
// way it came. When the text can go no further it falls back to the deepest vertex on that way
// that ends a key at a boundary: the character after it is the end of the text, a dot or a slash,
// or the character that led into it is a slash.
class GraphWalker {
public:
    enum class Status { Continue, Match, Fail };

    GraphWalker(const Graph& graph, Vertex start);

    // Takes the next character; 0 marks the end of the text. After Match, GetMatch() is the vertex.
    Status Step(char symbol);
    Vertex GetMatch() const { return m_match; }

    // Steps through text and then the end marker until the first answer that is not Continue;
    // the vertex matched, if any.
    std::optional<Vertex> Find(const std::string& text);

private:
    Vertex Current() const { return m_steps.empty() ? m_start : m_steps.back().second; }

    const Graph& m_graph;
    Vertex m_start;
    std::vector<std::pair<char, Vertex>> m_steps; // (symbol, vertex it led to)
    Vertex m_match;
};

} // namespace tav::urlfilter
