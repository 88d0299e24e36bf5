#pragma once

// tav::urlfilter::URLGraphBuilder - builds the graph of the URL category database from a list of
// entries and writes it as the text archive that URLFilter::Load reads.
//
// An entry is a trusted or blocked site with its categories: a whole host, or one path of a host
// and everything below it. The graph answers a lookup with the entry of the deepest host that
// covers the request, the host itself or a parent domain, and among that host's entries the one
// with the longest path that covers the request's path. A path covers itself, the paths below it
// ("/a" covers "/a/b") and itself followed by a dot ("/a.html"), but not "/ab".

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraph.hpp>
#include <quorrel/export.hpp>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

namespace tav::urlfilter {

class QUORREL_EXPORT URLGraphBuilder {
public:
    // Adds an entry for the host, or with a non-empty path for that path of it. Both are taken in
    // lower case, as requests are compared. Throws std::invalid_argument for a host or path that no
    // request could match, and for a second entry with the same host and path.
    void Add(const std::string& host, const std::string& path, bool blocked, std::uint32_t categories);

    // The graph of every entry added, as boost's graph type: vertex 0 is the root, and the order of
    // vertices and edges depends only on the entries, not on the order they were added in.
    Graph Build() const;

    // Writes what boost's text output archive writes for the built graph, byte for byte, without
    // building boost's graph.
    void Write(std::ostream& out) const;

private:
    // The entries of one host by path; the empty path stands for the whole host.
    typedef std::map<std::string, VertexStruct> Paths;

    // Every path key of a host: its own entries and those it takes from its parent domains.
    Paths KeysOf(const std::string& host) const;
    // Calls visit(key, entry) for every key of the graph, in the order that numbers its vertices.
    template <class Visit> void ForEachKey(const Visit& visit) const;

    std::map<std::string, Paths> m_hosts;
};

} // namespace tav::urlfilter
