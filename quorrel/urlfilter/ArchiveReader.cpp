#include "ArchiveReader.hpp"

#include <boost/archive/basic_archive.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

namespace tav::urlfilter {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

// White space and digits as the classic locale has them.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Unchanged(const struct stat& before, const struct stat& after) {
    return before.st_dev == after.st_dev && before.st_ino == after.st_ino &&
           before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec &&
           before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

} // namespace

bool ArchiveReader::Read(const std::string& path, ArchivedGraph& graph) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat before {};
    struct stat after {};
    bool read = ::fstat(fd, &before) == 0;
    if (read) {
        ArchiveReader reader(fd, before.st_size > 0 ? static_cast<std::uint64_t>(before.st_size) : 0);
        read = reader.ReadGraph(graph) && !reader.m_failed;
    }
    // A file replaced or rewritten while it was read may have given a mix of two databases.
    read = read && ::fstat(fd, &after) == 0 && Unchanged(before, after);
    ::close(fd);
    return read;
}

// One byte more than a block, for the 0 that Refill puts after the data.
ArchiveReader::ArchiveReader(int fd, std::uint64_t size) : m_fd(fd), m_size(size), m_buffer(kBlockSize + 1) {
    m_pos = m_end = m_buffer.data();
}

bool ArchiveReader::ReadGraph(ArchivedGraph& graph) {
    if (!ReadHeader() || Start(m_graph) == Object::Bad)
        return false;
    unsigned int vertices = 0;
    unsigned int edges = 0;
    if (!Number(vertices) || !Number(edges))
        return false;
    // A vertex takes at least one number of the file (the ID of an object read before) and an edge
    // three (its endpoints and its symbol); every number but the last a separator after it.
    const std::uint64_t at = Offset();
    const std::uint64_t numbersLeft = at < m_size ? (m_size - at + 1) / 2 : 0;
    if (std::uint64_t{vertices} + 3 * std::uint64_t{edges} > numbersLeft)
        return false;
    graph.vertices.resize(vertices);
    for (ArchivedGraph::Vertex& vertex : graph.vertices) {
        if (!ReadVertex(vertex))
            return false;
    }
    for (unsigned int i = 0; i < edges; ++i) {
        if (!ReadEdge(graph, vertices))
            return false;
    }
    // The graph's own property, which stores nothing.
    return Start(m_noProperty) != Object::Bad;
}

// The signature's length, one separating character, the signature and the version of the library
// that wrote the archive, which must not be later than this one.
bool ArchiveReader::ReadHeader() {
    const char* const signature = boost::archive::BOOST_ARCHIVE_SIGNATURE();
    unsigned long length = 0;
    if (!Number(length) || length != std::strlen(signature) || Peek() < 0)
        return false;
    ++m_pos;
    for (const char* c = signature; *c != '\0'; ++c) {
        if (Peek() != static_cast<unsigned char>(*c))
            return false;
        ++m_pos;
    }
    unsigned short version = 0;
    return Number(version) && version <= static_cast<unsigned int>(boost::archive::BOOST_ARCHIVE_VERSION());
}

// A vertex's property: the entry and then the empty rest of the property list. A property or an
// entry that refers to one read before leaves the vertex without an entry.
bool ArchiveReader::ReadVertex(ArchivedGraph::Vertex& vertex) {
    const Object property = Start(m_vertexProperty);
    if (property == Object::Bad)
        return false;
    if (property == Object::Present) {
        const Object entry = Start(m_entry);
        if (entry == Object::Bad)
            return false;
        if (entry == Object::Present) {
            bool blocked = false;
            bool terminal = false;
            if (!Bool(blocked) || !Bool(terminal) || !Number(vertex.mask))
                return false;
            vertex.flags = static_cast<std::uint8_t>((terminal ? ArchivedGraph::Terminal : 0) |
                                                     (blocked ? ArchivedGraph::Blocked : 0));
        }
        if (Start(m_noProperty) == Object::Bad)
            return false;
    }
    return true;
}

// An edge's endpoints and its property: the symbol and the empty rest of the list. A property that
// refers to one read before leaves the symbol 0.
bool ArchiveReader::ReadEdge(ArchivedGraph& graph, std::uint32_t vertices) {
    int source = 0;
    int target = 0;
    if (!Number(source) || !Number(target) || source < 0 || target < 0 ||
        static_cast<std::uint32_t>(source) >= vertices || static_cast<std::uint32_t>(target) >= vertices)
        return false;
    char symbol = 0;
    const Object property = Start(m_edgeProperty);
    if (property == Object::Bad ||
        (property == Object::Present && (!Char(symbol) || Start(m_noProperty) == Object::Bad)))
        return false;
    const auto from = static_cast<std::uint32_t>(source);
    const auto to = static_cast<std::uint32_t>(target);
    // A vertex has at most one out-edge for each symbol but 0.
    std::uint8_t& outEdges = graph.vertices[from].outEdges;
    if (outEdges == UCHAR_MAX)
        return false;
    ++outEdges;
    ArchivedGraph::Vertex& reached = graph.vertices[to];
    if (reached.parent == ArchivedGraph::kNoParent) {
        reached.parent = from;
        reached.symbol = symbol;
    } else {
        graph.laterInEdges.push_back({from, to, symbol});
    }
    return true;
}

ArchiveReader::Object ArchiveReader::Start(Class& c) {
    if (!c.known) {
        bool tracked = false;
        unsigned int version = 0;
        if (!Bool(tracked) || !Number(version))
            return Object::Bad;
        c = Class{true, tracked};
    }
    if (!c.tracked)
        return Object::Present;
    unsigned int id = 0;
    if (!Number(id))
        return Object::Bad;
    if (id < m_trackedObjects)
        return Object::Reference;
    ++m_trackedObjects;
    return Object::Present;
}

// Puts a 0 after the data, which is neither white space nor a digit, so that a scan for either stops
// at the end of the block without comparing positions.
bool ArchiveReader::Refill() {
    m_base += static_cast<std::uint64_t>(m_end - m_buffer.data());
    ssize_t got = 0;
    do
        got = ::read(m_fd, m_buffer.data(), kBlockSize);
    while (got < 0 && errno == EINTR);
    m_failed = m_failed || got < 0;
    const std::size_t size = got > 0 ? static_cast<std::size_t>(got) : 0;
    m_buffer[size] = '\0';
    m_pos = m_buffer.data();
    m_end = m_pos + size;
    return size > 0;
}

inline void ArchiveReader::SkipSpace() {
    for (;;) {
        while (IsSpace(*m_pos))
            ++m_pos;
        if (m_pos != m_end || !Refill())
            return;
    }
}

template <std::uint64_t limit> inline bool ArchiveReader::Digits(std::uint64_t& magnitude) {
    if (!IsDigit(*m_pos))
        return false;
    bool overflow = false;
    magnitude = 0;
    do {
        const char* at = m_pos;
        for (; IsDigit(*at); ++at) {
            const auto digit = static_cast<unsigned>(*at - '0');
            overflow = overflow || magnitude > limit / 10 || (magnitude == limit / 10 && digit > limit % 10);
            magnitude = magnitude * 10 + digit;
        }
        m_pos = at;
    } while (m_pos == m_end && Refill());
    return !overflow;
}

// A number for a field of type T: its sign and magnitude, the magnitude no more than T holds (for a
// negative number, its lowest value). An unsigned field takes a negative number as its wrapped value.
template <class T> inline bool ArchiveReader::Number(T& value) {
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    constexpr std::uint64_t negativeMax = std::numeric_limits<T>::is_signed ? max + 1 : max;
    SkipSpace();
    const bool negative = *m_pos == '-';
    if ((*m_pos == '+' || *m_pos == '-') && ++m_pos == m_end)
        Refill();
    std::uint64_t magnitude = 0;
    if (!(negative ? Digits<negativeMax>(magnitude) : Digits<max>(magnitude)))
        return false;
    value = static_cast<T>(negative ? 0 - magnitude : magnitude);
    return true;
}

// Read as a long, which must be 0 or 1.
bool ArchiveReader::Bool(bool& value) {
    long number = 0;
    if (!Number(number) || (number != 0 && number != 1))
        return false;
    value = number == 1;
    return true;
}

// Read as a short and cut to its low byte.
bool ArchiveReader::Char(char& value) {
    long number = 0;
    if (!Number(number) || number < SHRT_MIN || number > SHRT_MAX)
        return false;
    value = static_cast<char>(static_cast<short>(number));
    return true;
}

} // namespace tav::urlfilter
