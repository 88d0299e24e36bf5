#include "ReferenceFilter.hpp"

#include "GraphLoader.hpp"
#include "GraphWalker.hpp"
#include "LowerCase.hpp"

#include <bitset>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tav::urlfilter {

namespace {

bool HasInEdges(const Graph& graph, Vertex vertex) {
    const auto [first, last] = boost::in_edges(vertex, graph);
    return first != last;
}

Vertex FirstParent(const Graph& graph, Vertex vertex) {
    return boost::source(*boost::in_edges(vertex, graph).first, graph);
}

// Follows first in-edges from vertex 0 to a vertex without in-edges; none when the way loops.
std::optional<Vertex> FindRoot(const Graph& graph) {
    Vertex vertex = 0;
    for (std::size_t steps = 0; HasInEdges(graph, vertex); ++steps) {
        if (steps == boost::num_vertices(graph))
            return std::nullopt;
        vertex = FirstParent(graph, vertex);
    }
    return vertex;
}

// Whether following first in-edges leads from every vertex back to the root without a loop. The
// reversed ways are paths from the root, so every vertex is then reachable from it as well.
bool LeadsBackToRoot(const Graph& graph, Vertex root) {
    enum class Mark : char { Unknown, OnWay, Leads };
    std::vector<Mark> marks(boost::num_vertices(graph), Mark::Unknown);
    marks[root] = Mark::Leads;
    std::vector<Vertex> way;
    for (Vertex start = 0; start < marks.size(); ++start) {
        Vertex vertex = start;
        while (marks[vertex] == Mark::Unknown) {
            if (!HasInEdges(graph, vertex))
                return false;
            marks[vertex] = Mark::OnWay;
            way.push_back(vertex);
            vertex = FirstParent(graph, vertex);
        }
        if (marks[vertex] == Mark::OnWay)
            return false;
        for (Vertex passed : way)
            marks[passed] = Mark::Leads;
        way.clear();
    }
    return true;
}

// Whether every out-edge of a vertex has its own symbol, and none has 0, the end-of-text marker.
bool HasDistinctSymbols(const Graph& graph) {
    for (Vertex vertex = 0; vertex < boost::num_vertices(graph); ++vertex) {
        std::bitset<1U << CHAR_BIT> seen;
        seen.set(0);
        for (auto [edge, end] = boost::out_edges(vertex, graph); edge != end; ++edge) {
            const auto symbol = static_cast<unsigned char>(boost::get(SymbolPropertyTag(), graph, *edge));
            if (seen.test(symbol))
                return false;
            seen.set(symbol);
        }
    }
    return true;
}

// Reads the graph and checks it; its root.
std::uint32_t ReadGraph(const std::string& path, Graph& graph) {
    const std::runtime_error problem("Problem with loading " + path);
    if (!GraphLoader::Load(path, graph))
        throw problem;
    if (boost::num_vertices(graph) == 0)
        throw std::runtime_error("No vertices in the graph");
    const std::optional<Vertex> root = FindRoot(graph);
    if (!root || !LeadsBackToRoot(graph, *root) || !HasDistinctSymbols(graph))
        throw problem;
    return static_cast<std::uint32_t>(*root);
}

} // namespace

void ReferenceFilter::Load(const std::string& path) {
    Clear();
    // Read in place: the graph type has no move, and its swap copies the whole graph twice.
    try {
        m_root = ReadGraph(path, m_graph);
    } catch (...) {
        m_graph.clear();
        throw;
    }
}

void ReferenceFilter::Clear() {
    m_graph.clear();
    m_root = 0;
}

URLLookupResult ReferenceFilter::Lookup(const uri& request) const {
    if (boost::num_vertices(m_graph) == 0)
        return {};
    const std::string& host = request.host();
    const std::optional<Vertex> site =
        GraphWalker(m_graph, m_root).Find(std::string(host.rbegin(), host.rend()));
    if (!site)
        return {};
    std::optional<Vertex> entry = site;
    if (!request.path().empty())
        entry = GraphWalker(m_graph, *site).Find(LowerCase(request.path()));
    if (!entry)
        return {};
    const VertexStruct& data = boost::get(VertexPropertyTag(), m_graph, *entry);
    return {true, data.isBlocked, data.categoriesMask};
}

} // namespace tav::urlfilter
