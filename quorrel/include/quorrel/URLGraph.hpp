#pragma once

// The graph of the URL category database as its file holds it: boost's adjacency list, written with
// boost's text archive. URLGraphBuilder builds it; URLFilter reads the file into a compact form of its own.

#include <boost/graph/adjacency_list.hpp>

#include <cstdint>

namespace tav::urlfilter {

struct VertexPropertyTag {
    typedef boost::vertex_property_tag kind;
};

struct SymbolPropertyTag {
    typedef boost::edge_property_tag kind;
};

// What a vertex of the graph carries. Only a terminal vertex is an entry.
struct VertexStruct {
    bool isBlocked = false; // true: the blocked database; false: the trusted one
    bool isTerminal = false;
    std::uint32_t categoriesMask = 0; // bit k-1 set: category ID k

    template <class Archive> void serialize(Archive& archive, const unsigned int /*version*/) {
        // Formatting would take the line for a declaration of references.
        // clang-format off
        archive & isBlocked & isTerminal & categoriesMask;
        // clang-format on
    }
};

// Out-edges keep the order they were added in, which is the order a vertex's edges are tried.
typedef boost::adjacency_list<boost::listS, boost::vecS, boost::bidirectionalS,
                              boost::property<VertexPropertyTag, VertexStruct>,
                              boost::property<SymbolPropertyTag, char>>
    Graph;
typedef boost::graph_traits<Graph>::vertex_descriptor Vertex;

} // namespace tav::urlfilter
