#pragma once

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraph.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tav::urlfilter {

// The trie of the database's keys in flat arrays, built key by key as boost's graph would be: a
// vertex is numbered when a key first needs it, with the edge that leads to it, so that vertex v is
// the target of edge v - 1. Writes the text archive that boost writes for that graph, byte for
// byte, without holding boost's graph.
class KeyTrie {
public:
    KeyTrie();

    // Spells key out from the root, adding the vertices that are missing, and makes its last vertex
    // the entry.
    void Insert(const std::string& key, const VertexStruct& entry);

    // Puts the entries in vertex order as it writes.
    void Write(std::ostream& out);

private:
    typedef std::uint32_t Vertex;
    static constexpr Vertex kNone = 0; // the root is nobody's child

    std::vector<Vertex> m_parents;
    std::vector<char> m_symbols; // of the edge into each vertex
    std::vector<Vertex> m_firstChildren;
    std::vector<Vertex> m_nextSiblings;
    std::vector<std::pair<Vertex, VertexStruct>> m_entries;
};

} // namespace tav::urlfilter
