#include "GraphWalker.hpp"

namespace tav::urlfilter {

namespace {

bool IsBoundary(char symbol) {
    return symbol == '\0' || symbol == '.' || symbol == '/';
}

} // namespace

GraphWalker::GraphWalker(const Graph& graph, Vertex start) : m_graph(graph), m_start(start), m_match(start) {}

GraphWalker::Status GraphWalker::Step(char symbol) {
    for (auto [edge, end] = boost::out_edges(Current(), m_graph); edge != end; ++edge) {
        if (boost::get(SymbolPropertyTag(), m_graph, *edge) == symbol) {
            m_steps.emplace_back(symbol, boost::target(*edge, m_graph));
            return Status::Continue;
        }
    }
    while (!m_steps.empty()) {
        const auto [led, vertex] = m_steps.back();
        if (boost::get(VertexPropertyTag(), m_graph, vertex).isTerminal &&
            (IsBoundary(symbol) || led == '/')) {
            m_match = vertex;
            return Status::Match;
        }
        symbol = led;
        m_steps.pop_back();
    }
    return Status::Fail;
}

std::optional<Vertex> GraphWalker::Find(const std::string& text) {
    Status status = Status::Continue;
    for (auto symbol = text.begin(); status == Status::Continue && symbol != text.end(); ++symbol)
        status = Step(*symbol);
    if (status == Status::Continue)
        status = Step('\0');
    if (status == Status::Match)
        return m_match;
    return std::nullopt;
}

} // namespace tav::urlfilter
