#include "CompactGraph.hpp"

#include <bitset>
#include <climits>
#include <limits>
#include <utility>

namespace tav::urlfilter {

namespace {

typedef CompactGraph::Node Node;
typedef ArchivedGraph::Vertex ArchivedVertex;

constexpr Node kNone = ArchivedGraph::kNoParent;
// Flags beside ArchivedGraph's own while the graph is built: the vertex has several in-edges; it
// is a node.
constexpr std::uint8_t kMeeting = 4;
constexpr std::uint8_t kNode = 8;

// Follows first in-edges from vertex 0 to a vertex without in-edges; none when the way loops.
std::optional<Node> FindRoot(const std::vector<ArchivedVertex>& vertices) {
    Node vertex = 0;
    for (std::size_t steps = 0; vertices[vertex].parent != kNone; ++steps) {
        if (steps == vertices.size())
            return std::nullopt;
        vertex = vertices[vertex].parent;
    }
    return vertex;
}

// Whether following first in-edges leads from every vertex back to the root without a loop. The
// reversed ways are paths from the root, so every vertex is then reachable from it as well.
bool LeadsBackToRoot(const std::vector<ArchivedVertex>& vertices, Node root) {
    // In a graph numbered in the order its vertices were added, every first in-edge but the root's
    // comes from a lower number, so no way loops and every way ends at the root.
    bool descending = true;
    for (Node v = 0; v < vertices.size() && descending; ++v)
        descending = v == root || vertices[v].parent < v;
    if (descending)
        return true;
    // Otherwise each way is followed up to a vertex seen before, and marked again from its start
    // if it leads.
    enum Mark : std::uint8_t { Unknown, OnWay, Leads };
    std::vector<std::uint8_t> marks(vertices.size(), Unknown);
    marks[root] = Leads;
    for (Node start = 0; start < vertices.size(); ++start) {
        Node vertex = start;
        while (marks[vertex] == Unknown) {
            if (vertices[vertex].parent == kNone)
                return false;
            marks[vertex] = OnWay;
            vertex = vertices[vertex].parent;
        }
        if (marks[vertex] == OnWay)
            return false;
        for (vertex = start; marks[vertex] == OnWay; vertex = vertices[vertex].parent)
            marks[vertex] = Leads;
    }
    return true;
}

// Whether no two of the symbols are the same.
bool Distinct(const unsigned char* symbols, std::uint32_t count) {
    std::bitset<1U << CHAR_BIT> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (seen.test(symbols[i]))
            return false;
        seen.set(symbols[i]);
    }
    return true;
}

} // namespace

std::optional<CompactGraph> CompactGraph::Build(ArchivedGraph&& archived) {
    std::vector<ArchivedVertex>& vertices = archived.vertices;
    if (vertices.empty())
        return std::nullopt;
    for (const ArchivedGraph::Edge& edge : archived.laterInEdges)
        vertices[edge.target].flags |= kMeeting;
    const std::optional<Node> root = FindRoot(vertices);
    if (!root || !LeadsBackToRoot(vertices, *root))
        return std::nullopt;

    // Place the nodes' records; the other vertices are folded into the edge that leads to them, so
    // each has exactly one out-edge and, with a single in-edge, lies on one way only.
    std::size_t words = 0;
    std::size_t folded = 0;
    for (Node v = 0; v < vertices.size(); ++v) {
        ArchivedVertex& vertex = vertices[v];
        if (v != *root && (vertex.flags & (ArchivedGraph::Terminal | kMeeting)) == 0 &&
            vertex.outEdges == 1) {
            ++folded;
            continue;
        }
        vertex.flags |= kNode;
        vertex.record = static_cast<Node>(words);
        words += 2 + SymbolWords(vertex.outEdges) + kEdgeWords * vertex.outEdges;
        if (words > std::numeric_limits<Node>::max())
            return std::nullopt;
    }

    CompactGraph graph;
    graph.m_root = vertices[*root].record;
    graph.m_records.resize(words);
    graph.m_strings.resize(folded);
    for (const ArchivedVertex& vertex : vertices) {
        if ((vertex.flags & kNode) != 0) {
            std::uint32_t* record = graph.m_records.data() + vertex.record;
            record[0] = (vertex.flags & (ArchivedGraph::Terminal | ArchivedGraph::Blocked)) |
                        std::uint32_t{vertex.outEdges} << kEdgeCountShift;
            record[1] = vertex.mask;
        }
    }

    // Every in-edge of a node ends an edge of the compact graph, which starts at the nearest node
    // above it and has the symbols of the folded vertices between them as its string. The edges of
    // a record are filled from its last. Symbol 0 marks the end of a text.
    std::size_t strings = 0;
    const auto link = [&](Node source, char symbol, Node target) {
        std::size_t end = strings;
        for (Node v = source; (vertices[v].flags & kNode) == 0; v = vertices[v].parent)
            ++end;
        std::size_t at = end;
        Node v = source;
        for (; (vertices[v].flags & kNode) == 0 && symbol != '\0'; v = vertices[v].parent) {
            graph.m_strings[--at] = symbol;
            symbol = vertices[v].symbol;
        }
        if (symbol == '\0')
            return false;
        ArchivedVertex& from = vertices[v];
        std::uint32_t* record = graph.m_records.data() + from.record;
        const std::uint32_t index = --from.outEdges;
        reinterpret_cast<char*>(record + 2)[index] = symbol;
        std::uint32_t* edge = record + 2 + SymbolWords(record[0] >> kEdgeCountShift) + kEdgeWords * index;
        edge[0] = vertices[target].record;
        edge[1] = static_cast<std::uint32_t>(strings);
        edge[2] = static_cast<std::uint32_t>(end);
        strings = end;
        return true;
    };
    for (Node v = 0; v < vertices.size(); ++v) {
        if (v != *root && (vertices[v].flags & kNode) != 0 &&
            !link(vertices[v].parent, vertices[v].symbol, v))
            return std::nullopt;
    }
    for (const ArchivedGraph::Edge& edge : archived.laterInEdges) {
        if (!link(edge.source, edge.symbol, edge.target))
            return std::nullopt;
    }

    // A second edge of one symbol would never be taken.
    for (const ArchivedVertex& vertex : vertices) {
        if ((vertex.flags & kNode) == 0)
            continue;
        const std::uint32_t* record = graph.m_records.data() + vertex.record;
        if (!Distinct(reinterpret_cast<const unsigned char*>(record + 2), record[0] >> kEdgeCountShift))
            return std::nullopt;
    }
    return graph;
}

} // namespace tav::urlfilter
