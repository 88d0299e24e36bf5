#include <quorrel/URLFilter.hpp>

#include "ArchiveReader.hpp"
#include "CompactGraph.hpp"
#include "LowerCase.hpp"

#include <stdexcept>

namespace tav::urlfilter {

namespace {

// The host backwards, as keys spell it.
class ReversedHost {
public:
    explicit ReversedHost(const std::string& host) : m_host(host) {}
    char operator[](std::size_t at) const {
        return at < m_host.size() ? m_host[m_host.size() - 1 - at] : '\0';
    }

private:
    const std::string& m_host;
};

// The path in lower case, as keys spell it.
class LoweredPath {
public:
    explicit LoweredPath(const std::string& path) : m_path(path) {}
    char operator[](std::size_t at) const { return at < m_path.size() ? LowerCase(m_path[at]) : '\0'; }

private:
    const std::string& m_path;
};

} // namespace

void URLFilter::Load(const std::string& path) {
    Clear();
    m_path = path;
    ArchivedGraph archived;
    if (!ArchiveReader::Read(path, archived))
        throw std::runtime_error("Problem with loading " + path);
    if (archived.vertices.empty())
        throw std::runtime_error("No vertices in the graph");
    std::optional<CompactGraph> graph = CompactGraph::Build(std::move(archived));
    if (!graph)
        throw std::runtime_error("Problem with loading " + path);
    m_graph = std::make_shared<const CompactGraph>(std::move(*graph));
}

void URLFilter::Clear() {
    m_path.clear();
    m_graph.reset();
}

URLLookupResult URLFilter::Lookup(const uri& request) const {
    if (!m_graph)
        return {};
    const std::optional<CompactGraph::Node> site =
        m_graph->Find(m_graph->Root(), ReversedHost(request.host()));
    if (!site)
        return {};
    std::optional<CompactGraph::Node> entry = site;
    if (!request.path().empty())
        entry = m_graph->Find(*site, LoweredPath(request.path()));
    if (!entry)
        return {};
    return {true, m_graph->IsBlocked(*entry), m_graph->Categories(*entry)};
}

} // namespace tav::urlfilter
