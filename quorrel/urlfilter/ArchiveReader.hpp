#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace tav::urlfilter {

// The graph as an archive lists it: each vertex's entry, first in-edge and number of out-edges,
// which for a tree says all of its edges, and the in-edges after a vertex's first, in file order.
struct ArchivedGraph {
    enum : std::uint8_t { Terminal = 1, Blocked = 2 };
    static constexpr std::uint32_t kNoParent = UINT32_MAX;

    struct Vertex {
        std::uint32_t mask = 0;           // its categories
        std::uint32_t parent = kNoParent; // the source of its first in-edge
        std::uint32_t record = 0;         // left to CompactGraph, which places the vertex there
        std::uint8_t flags = 0;
        std::uint8_t outEdges = 0;
        char symbol = 0; // of its first in-edge
    };
    struct Edge {
        std::uint32_t source = 0;
        std::uint32_t target = 0;
        char symbol = 0;
    };

    std::vector<Vertex> vertices;
    std::vector<Edge> laterInEdges;
};

// Reads the graph from the text archive that boost's serialization of the graph type writes, and
// accepts and refuses what boost's own text_iarchive does, but for a vertex with more out-edges
// than there are symbols besides 0, which no graph of the database has. Numbers are read as
// std::istream reads them in the classic locale (white space before them, a sign, overflow
// refused, a negative number wrapped for an unsigned field); class information comes with the
// first object of each class, and a tracked object carries an ID, where an ID seen before stands
// for an object that is not read again. Counts that the rest of the file cannot hold are refused
// before anything is allocated for them, and the file is read in blocks, never whole.
class ArchiveReader {
public:
    // False when the file cannot be opened, is no such archive, or changes while it is read.
    static bool Read(const std::string& path, ArchivedGraph& graph);

    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

private:
    // What the archive knows of a class: whether its class information has been read, and whether
    // its objects carry IDs.
    struct Class {
        bool known = false;
        bool tracked = false;
    };
    enum class Object { Bad, Reference, Present };

    ArchiveReader(int fd, std::uint64_t size);

    bool ReadGraph(ArchivedGraph& graph);
    bool ReadHeader();
    bool ReadVertex(ArchivedGraph::Vertex& vertex);
    bool ReadEdge(ArchivedGraph& graph, std::uint32_t vertices);
    // Reads what precedes an object of the class: its class information the first time, and its ID
    // when the class is tracked.
    Object Start(Class& c);

    // The next byte, or -1 at the end of the file or on a read error.
    int Peek() {
        if (m_pos == m_end && !Refill())
            return -1;
        return static_cast<unsigned char>(*m_pos);
    }
    bool Refill();
    std::uint64_t Offset() const { return m_base + static_cast<std::uint64_t>(m_pos - m_buffer.data()); }

    // A decimal number after white space, as num_get reads it, for a field of type T.
    template <class T> bool Number(T& value);
    void SkipSpace();
    // The magnitude of a number, false without digits or when it exceeds `limit`.
    template <std::uint64_t limit> bool Digits(std::uint64_t& magnitude);
    bool Bool(bool& value);
    bool Char(char& value);

    int m_fd;
    std::uint64_t m_size;
    std::vector<char> m_buffer;
    const char* m_pos = nullptr;
    const char* m_end = nullptr;
    std::uint64_t m_base = 0; // the file offset of the buffer's first byte
    bool m_failed = false;    // a read of the file failed
    Class m_graph;
    Class m_vertexProperty;
    Class m_entry;
    Class m_noProperty;
    Class m_edgeProperty;
    std::uint64_t m_trackedObjects = 0;
};

} // namespace tav::urlfilter
