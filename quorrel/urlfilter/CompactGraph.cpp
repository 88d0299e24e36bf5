#include "CompactGraph.hpp"

#include <bitset>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

namespace tav::urlfilter {

namespace {

typedef CompactGraph::Node Node;

constexpr Node kNone = std::numeric_limits<Node>::max();
// A flag beside ArchivedGraph's own while the graph is built: the vertex has several in-edges.
constexpr std::uint8_t kMeeting = 4;

template <class T> void Release(std::vector<T>& items) {
    std::vector<T>().swap(items);
}

// Follows first in-edges from vertex 0 to a vertex without in-edges; none when the way loops.
std::optional<Node> FindRoot(const std::vector<Node>& parents) {
    Node vertex = 0;
    for (std::size_t steps = 0; parents[vertex] != kNone; ++steps) {
        if (steps == parents.size())
            return std::nullopt;
        vertex = parents[vertex];
    }
    return vertex;
}

// Whether following first in-edges leads from every vertex back to the root without a loop. The
// reversed ways are paths from the root, so every vertex is then reachable from it as well.
bool LeadsBackToRoot(const std::vector<Node>& parents, Node root) {
    enum Mark : std::uint8_t { Unknown, OnWay, Leads };
    std::vector<std::uint8_t> marks(parents.size(), Unknown);
    marks[root] = Leads;
    std::vector<Node> way;
    for (Node start = 0; start < parents.size(); ++start) {
        Node vertex = start;
        while (marks[vertex] == Unknown) {
            if (parents[vertex] == kNone)
                return false;
            marks[vertex] = OnWay;
            way.push_back(vertex);
            vertex = parents[vertex];
        }
        if (marks[vertex] == OnWay)
            return false;
        for (Node passed : way)
            marks[passed] = Leads;
        way.clear();
    }
    return true;
}

} // namespace

std::optional<CompactGraph> CompactGraph::Build(ArchivedGraph&& archived) {
    std::vector<std::uint8_t>& flags = archived.flags;
    const auto vertices = static_cast<Node>(flags.size());
    const std::size_t edges = archived.sources.size();
    if (vertices == 0)
        return std::nullopt;

    // The source of each vertex's first in-edge, which the root lacks.
    std::vector<Node> parents(vertices, kNone);
    for (std::size_t e = 0; e < edges; ++e) {
        Node& parent = parents[archived.targets[e]];
        if (parent == kNone)
            parent = archived.sources[e];
        else
            flags[archived.targets[e]] |= kMeeting;
    }
    const std::optional<Node> root = FindRoot(parents);
    if (!root || !LeadsBackToRoot(parents, *root))
        return std::nullopt;

    // Out-edges by source, each vertex's in file order.
    std::vector<std::uint32_t> first(std::size_t{vertices} + 1, 0);
    for (Node source : archived.sources)
        ++first[source + 1];
    for (Node v = 0; v < vertices; ++v)
        first[v + 1] += first[v];
    std::vector<Node> targets(edges);
    std::vector<char> symbols(edges);
    {
        std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
        for (std::size_t e = 0; e < edges; ++e) {
            const std::uint32_t at = next[archived.sources[e]]++;
            targets[at] = archived.targets[e];
            symbols[at] = archived.symbols[e];
        }
    }
    Release(archived.sources);
    Release(archived.targets);
    Release(archived.symbols);

    // Symbol 0 marks the end of a text, and a second edge of one symbol would never be taken.
    for (Node v = 0; v < vertices; ++v) {
        std::bitset<1U << CHAR_BIT> seen;
        seen.set(0);
        for (std::uint32_t e = first[v]; e < first[v + 1]; ++e) {
            const auto symbol = static_cast<unsigned char>(symbols[e]);
            if (seen.test(symbol))
                return std::nullopt;
            seen.set(symbol);
        }
    }

    // Place the nodes' records; the other vertices are folded into the edge that leads to them, so
    // each has exactly one out-edge and, with a single in-edge, lies on one way only.
    std::vector<Node>& nodes = parents;
    std::size_t words = 0;
    std::size_t folded = 0;
    for (Node v = 0; v < vertices; ++v) {
        const std::uint32_t out = first[v + 1] - first[v];
        const bool node = v == *root || (flags[v] & (ArchivedGraph::Terminal | kMeeting)) != 0 || out != 1;
        nodes[v] = node ? static_cast<Node>(words) : kNone;
        words += node ? 2 + SymbolWords(out) + kEdgeWords * out : 0;
        folded += node ? 0 : 1;
        if (words > std::numeric_limits<Node>::max())
            return std::nullopt;
    }

    CompactGraph graph;
    graph.m_root = nodes[*root];
    graph.m_records.resize(words);
    graph.m_strings.reserve(folded);
    for (Node v = 0; v < vertices; ++v) {
        if (nodes[v] == kNone)
            continue;
        const std::uint32_t out = first[v + 1] - first[v];
        std::uint32_t* record = graph.m_records.data() + nodes[v];
        record[0] = (flags[v] & (ArchivedGraph::Terminal | ArchivedGraph::Blocked)) | out << kEdgeCountShift;
        record[1] = archived.masks[v];
        if (out > 0) // a leaf's symbols may be those of a graph without edges, which have no storage
            std::memcpy(record + 2, symbols.data() + first[v], out);
        std::uint32_t* edge = record + 2 + SymbolWords(out);
        for (std::uint32_t e = first[v]; e < first[v + 1]; ++e, edge += kEdgeWords) {
            edge[1] = static_cast<std::uint32_t>(graph.m_strings.size());
            Node target = targets[e];
            for (; nodes[target] == kNone; target = targets[first[target]])
                graph.m_strings.push_back(symbols[first[target]]);
            edge[0] = nodes[target];
            edge[2] = static_cast<std::uint32_t>(graph.m_strings.size());
        }
    }
    return graph;
}

} // namespace tav::urlfilter
