#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tav::urlfilter {

// The graph as an archive lists it: each vertex's entry, and the edges in file order.
struct ArchivedGraph {
    enum : std::uint8_t { Terminal = 1, Blocked = 2 };

    std::vector<std::uint8_t> flags;  // per vertex
    std::vector<std::uint32_t> masks; // per vertex, its categories
    std::vector<std::uint32_t> sources;
    std::vector<std::uint32_t> targets;
    std::vector<char> symbols;
};

// Reads the graph from the text archive that boost's serialization of the graph type writes, and
// accepts and refuses what boost's own text_iarchive does. Numbers are read as std::istream reads
// them in the classic locale (white space before them, a sign, overflow refused, a negative number
// wrapped for an unsigned field); class information comes with the first object of each class,
// and a tracked object carries an ID, where an ID seen before stands for an object that is not
// read again. Counts that the rest of the file cannot hold are refused before anything is
// allocated for them, and the file is read in blocks, never whole.
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
    bool ReadVertex(ArchivedGraph& graph);
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

    // A decimal number after white space, as num_get reads it: its sign and magnitude, false without
    // digits or when the magnitude exceeds `limit` (for a negative number, `negativeLimit`).
    bool Integer(bool& negative, std::uint64_t& magnitude, std::uint64_t limit, std::uint64_t negativeLimit);
    template <class T> bool Number(T& value);
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
