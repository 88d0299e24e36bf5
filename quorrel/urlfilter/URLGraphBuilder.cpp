#include <quorrel/URLGraphBuilder.hpp>

#include "KeyTrie.hpp"
#include "LowerCase.hpp"

#include <boost/graph/adj_list_serialize.hpp>

#include <ostream>
#include <stdexcept>

namespace tav::urlfilter {

namespace {

void CheckHost(const std::string& host) {
    if (host.empty())
        throw std::invalid_argument("empty host");
    if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string::npos)
        throw std::invalid_argument("empty label in host '" + host + "'");
    for (char c : host) {
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!allowed)
            throw std::invalid_argument("character '" + std::string(1, c) + "' in host '" + host + "'");
    }
}

// A request path always starts with a slash and never holds the query or fragment delimiters.
void CheckPath(const std::string& path) {
    if (!path.empty() && path.front() != '/')
        throw std::invalid_argument("path '" + path + "' does not start with '/'");
    if (path.find_first_of(std::string("?#\0", 3)) != std::string::npos)
        throw std::invalid_argument("path '" + path + "' holds '?', '#' or a zero byte");
}

// The parent domain of a host ("b.c" for "a.b.c"), or an empty string for a single label.
std::string Parent(const std::string& host) {
    const auto dot = host.find('.');
    return dot == std::string::npos ? std::string() : host.substr(dot + 1);
}

// Spells key out from the root, adding the vertices and edges that are missing, and makes its
// last vertex the entry.
void Insert(Graph& graph, const std::string& key, const VertexStruct& entry) {
    Vertex vertex = 0;
    for (char symbol : key) {
        auto [edge, end] = boost::out_edges(vertex, graph);
        while (edge != end && boost::get(SymbolPropertyTag(), graph, *edge) != symbol)
            ++edge;
        if (edge != end) {
            vertex = boost::target(*edge, graph);
        } else {
            const Vertex next = boost::add_vertex(graph);
            boost::add_edge(vertex, next, symbol, graph);
            vertex = next;
        }
    }
    boost::get(VertexPropertyTag(), graph, vertex) = entry;
}

} // namespace

void URLGraphBuilder::Add(const std::string& host, const std::string& path, bool blocked,
                          std::uint32_t categories) {
    const std::string site = LowerCase(host);
    const std::string key = LowerCase(path);
    CheckHost(site);
    CheckPath(key);
    if (!m_hosts[site].emplace(key, VertexStruct{blocked, true, categories}).second)
        throw std::invalid_argument("second entry for '" + site + key + "'");
}

// The lookup settles on the deepest host vertex that ends a key before it looks at the path, and
// a path it cannot follow from there is not found. So a host's own keys must also cover what its
// parent domains cover: the paths it has no entry for, up to the nearest domain with an entry for
// the whole host, whose entry covers all the rest. A whole-host entry is two keys, the host for
// requests without a path and the host followed by "/" for every path.
URLGraphBuilder::Paths URLGraphBuilder::KeysOf(const std::string& host) const {
    Paths keys;
    for (std::string domain = host; !domain.empty(); domain = Parent(domain)) {
        const auto entries = m_hosts.find(domain);
        if (entries == m_hosts.end())
            continue;
        keys.insert(entries->second.begin(), entries->second.end());
        const auto whole = entries->second.find("");
        if (whole != entries->second.end()) {
            keys.emplace("/", whole->second);
            return keys;
        }
    }
    // Without a whole-host entry the host vertex still has to end a key for the paths to be
    // reached; it answers only requests without a path, with a blocked entry of no category,
    // which blocks nothing.
    keys.emplace("", VertexStruct{true, true, 0});
    return keys;
}

template <class Visit> void URLGraphBuilder::ForEachKey(const Visit& visit) const {
    for (const auto& hostEntries : m_hosts) {
        const std::string& host = hostEntries.first;
        const std::string reversed(host.rbegin(), host.rend());
        for (const auto& [path, entry] : KeysOf(host))
            visit(reversed + path, entry);
    }
}

Graph URLGraphBuilder::Build() const {
    Graph graph(1);
    ForEachKey([&](const std::string& key, const VertexStruct& entry) { Insert(graph, key, entry); });
    return graph;
}

void URLGraphBuilder::Write(std::ostream& out) const {
    KeyTrie trie;
    ForEachKey([&](const std::string& key, const VertexStruct& entry) { trie.Insert(key, entry); });
    trie.Write(out);
}

} // namespace tav::urlfilter
