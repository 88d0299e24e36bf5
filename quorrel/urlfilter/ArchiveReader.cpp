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

ArchiveReader::ArchiveReader(int fd, std::uint64_t size) : m_fd(fd), m_size(size), m_buffer(kBlockSize) {
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
    graph.flags.reserve(vertices);
    graph.masks.reserve(vertices);
    graph.sources.reserve(edges);
    graph.targets.reserve(edges);
    graph.symbols.reserve(edges);
    for (unsigned int i = 0; i < vertices; ++i) {
        if (!ReadVertex(graph))
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
bool ArchiveReader::ReadVertex(ArchivedGraph& graph) {
    std::uint8_t flags = 0;
    std::uint32_t mask = 0;
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
            if (!Bool(blocked) || !Bool(terminal) || !Number(mask))
                return false;
            flags = static_cast<std::uint8_t>((terminal ? ArchivedGraph::Terminal : 0) |
                                              (blocked ? ArchivedGraph::Blocked : 0));
        }
        if (Start(m_noProperty) == Object::Bad)
            return false;
    }
    graph.flags.push_back(flags);
    graph.masks.push_back(mask);
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
    graph.sources.push_back(static_cast<std::uint32_t>(source));
    graph.targets.push_back(static_cast<std::uint32_t>(target));
    graph.symbols.push_back(symbol);
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

bool ArchiveReader::Refill() {
    m_base += static_cast<std::uint64_t>(m_end - m_buffer.data());
    m_pos = m_end = m_buffer.data();
    for (;;) {
        const ssize_t got = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (got > 0) {
            m_end = m_pos + got;
            return true;
        }
        if (got < 0 && errno == EINTR)
            continue;
        m_failed = m_failed || got < 0;
        return false;
    }
}

bool ArchiveReader::Integer(bool& negative, std::uint64_t& magnitude, std::uint64_t limit,
                            std::uint64_t negativeLimit) {
    int c = Peek();
    while (c == ' ' || (c >= '\t' && c <= '\r')) {
        ++m_pos;
        c = Peek();
    }
    negative = c == '-';
    if (c == '+' || c == '-') {
        ++m_pos;
        c = Peek();
    }
    if (c < '0' || c > '9')
        return false;
    const std::uint64_t bound = negative ? negativeLimit : limit;
    bool overflow = false;
    magnitude = 0;
    do {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (bound - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
        ++m_pos;
        c = Peek();
    } while (c >= '0' && c <= '9');
    return !overflow;
}

// A number for a field of type T. An unsigned field takes a negative number as its wrapped value.
template <class T> bool ArchiveReader::Number(T& value) {
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!Integer(negative, magnitude, max, std::numeric_limits<T>::is_signed ? max + 1 : max))
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
