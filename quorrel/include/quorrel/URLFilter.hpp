#pragma once

// tav::urlfilter::URLFilter - the URL category database: a character graph (a trie) read once
// from a file and only searched afterwards. The file holds boost's graph (<quorrel/URLGraph.hpp>); the
// filter holds the graph in a compact form of its own.
//
// A key is a site's host written backwards followed by a path in lower case, one character per
// edge from the root. The vertex where a key ends is an entry: a trusted or a blocked site with
// its categories. Matching stops only at label and segment boundaries, so an entry for a host
// covers its sub-domains and an entry for a path covers everything below it.
//
// Load is not thread-safe; once loaded, Lookup may run on several threads at once.

#include <quorrel/export.hpp>
#include <tav/uri.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace tav::urlfilter {

struct URLLookupResult {
    bool found = false;
    bool blocked = false;         // the entry's isBlocked
    std::uint32_t categories = 0; // the entry's categoriesMask
};

class CompactGraph;

class QUORREL_EXPORT URLFilter {
public:
    // Reads the graph from a boost text archive and checks that the lookup can rely on it. Throws
    // std::runtime_error "Problem with loading <path>" when the file cannot be read, does not hold
    // a well-formed graph or changes while it is read, and "No vertices in the graph" for an empty
    // one. A failed load leaves the database empty.
    void Load(const std::string& path);
    void Clear();

    // The entry that covers the request's host and path; query, port and the rest are not consulted.
    // Finds nothing in an empty database. Allocates nothing.
    URLLookupResult Lookup(const uri& request) const;

    const std::string& GetPath() const { return m_path; }

private:
    std::string m_path;
    // Shared by copies of the filter, as it never changes once loaded.
    std::shared_ptr<const CompactGraph> m_graph;
};

} // namespace tav::urlfilter
