#pragma once

// tav::urlfilter::ReferenceFilter - the URL category database as boost reads it: the archive read by
// boost's own text_iarchive into the boost graph, walked with a stack of steps, character by
// character. Slow and large, it is kept as the reference that URLFilter's compact form is tested
// against: both must accept the same files and answer every lookup alike.

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraph.hpp>

#include <boost/graph/adjacency_list.hpp>

#include <cstdint>
#include <string>

namespace tav::urlfilter {

class ReferenceFilter {
public:
    // As URLFilter::Load, with the same messages.
    void Load(const std::string& path);
    void Clear();
    URLLookupResult Lookup(const uri& request) const;

    const Graph& GetGraph() const { return m_graph; }
    std::uint32_t GetRoot() const { return m_root; }

private:
    Graph m_graph;
    std::uint32_t m_root = 0;
};

} // namespace tav::urlfilter
