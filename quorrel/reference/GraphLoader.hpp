#pragma once

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraph.hpp>

#include <boost/graph/adj_list_serialize.hpp>
#include <boost/serialization/level.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/version.hpp>

#include <cstdint>
#include <istream>
#include <string>

namespace boost::archive {
class text_iarchive;
} // namespace boost::archive

namespace tav::urlfilter {

// Reads the graph from a boost text archive in the layout that boost's serialization of
// adjacency_list writes, without trusting the file. Boost's own loader sizes a vector from the
// vertex count and indexes it with the edge endpoints unchecked; this one refuses counts that the
// rest of the file is too short to hold and endpoints outside the graph, so memory and time stay
// proportional to the file's size.
class GraphLoader {
public:
    // Reads the graph from the file; false when the file cannot be opened or read as such an
    // archive, and the graph then holds what was read so far.
    static bool Load(const std::string& path, Graph& graph);

    // Called by the archive in place of the graph's own serialization.
    void serialize(boost::archive::text_iarchive& archive, unsigned int version);

private:
    GraphLoader(Graph& graph, std::istream& in, std::streamoff end) : m_graph(graph), m_in(in), m_end(end) {}

    // The most numbers that the unread part of the file can hold.
    std::uintmax_t NumbersLeft() const;

    Graph& m_graph;
    std::istream& m_in;
    std::streamoff m_end;
};

} // namespace tav::urlfilter

// The loader stands in for the graph in the archive, so it takes the graph's class information
// (whether the archive records a class version and tracking for it, and which ones).
namespace boost::serialization {
template <>
struct implementation_level<tav::urlfilter::GraphLoader> : implementation_level<tav::urlfilter::Graph> {};
template <> struct tracking_level<tav::urlfilter::GraphLoader> : tracking_level<tav::urlfilter::Graph> {};
template <> struct version<tav::urlfilter::GraphLoader> : version<tav::urlfilter::Graph> {};
} // namespace boost::serialization
