#include "CompactGraph.hpp"

#include <bitset>
#include <climits>
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

    // Number the nodes; the other vertices are folded into the edge that leads to them, so each
    // has exactly one out-edge and, with a single in-edge, lies on one way only.
    std::vector<Node>& nodes = parents;
    Node count = 0;
    std::size_t keptEdges = 0;
    for (Node v = 0; v < vertices; ++v) {
        const bool node = v == *root || (flags[v] & (ArchivedGraph::Terminal | kMeeting)) != 0 ||
                          first[v + 1] - first[v] != 1;
        nodes[v] = node ? count++ : kNone;
        keptEdges += node ? first[v + 1] - first[v] : 0;
    }

    CompactGraph graph;
    graph.m_root = nodes[*root];
    graph.m_flags.reserve(count);
    graph.m_masks.reserve(count);
    graph.m_edges.reserve(std::size_t{count} + 1);
    graph.m_symbols.reserve(keptEdges);
    graph.m_targets.reserve(keptEdges);
    graph.m_rests.reserve(keptEdges + 1);
    graph.m_strings.reserve(vertices - count);
    for (Node v = 0; v < vertices; ++v) {
        if (nodes[v] == kNone)
            continue;
        graph.m_flags.push_back(flags[v] & (ArchivedGraph::Terminal | ArchivedGraph::Blocked));
        graph.m_masks.push_back(archived.masks[v]);
        graph.m_edges.push_back(static_cast<std::uint32_t>(graph.m_symbols.size()));
        for (std::uint32_t e = first[v]; e < first[v + 1]; ++e) {
            graph.m_symbols.push_back(symbols[e]);
            graph.m_rests.push_back(static_cast<std::uint32_t>(graph.m_strings.size()));
            Node target = targets[e];
            for (; nodes[target] == kNone; target = targets[first[target]])
                graph.m_strings.push_back(symbols[first[target]]);
            graph.m_targets.push_back(nodes[target]);
        }
    }
    graph.m_edges.push_back(static_cast<std::uint32_t>(graph.m_symbols.size()));
    graph.m_rests.push_back(static_cast<std::uint32_t>(graph.m_strings.size()));
    return graph;
}

} // namespace tav::urlfilter
