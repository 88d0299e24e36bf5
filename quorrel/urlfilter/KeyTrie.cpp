#include "KeyTrie.hpp"

#include <boost/archive/basic_archive.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tav::urlfilter {

namespace {

// Text gathered and written in large blocks.
class TextOut {
public:
    explicit TextOut(std::ostream& out) : m_out(out) { m_text.reserve(kBlock + 64); }
    ~TextOut() { Flush(); }
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    TextOut& operator<<(const char* text) {
        m_text += text;
        return Check();
    }
    template <class T> TextOut& operator<<(T number) {
        char digits[24];
        m_text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
        return Check();
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;

    TextOut& Check() {
        if (m_text.size() >= kBlock)
            Flush();
        return *this;
    }
    void Flush() {
        m_out.write(m_text.data(), static_cast<std::streamsize>(m_text.size()));
        m_text.clear();
    }

    std::ostream& m_out;
    std::string m_text;
};

} // namespace

KeyTrie::KeyTrie() {
    m_parents.push_back(kNone);
    m_symbols.push_back('\0');
    m_firstChildren.push_back(kNone);
    m_nextSiblings.push_back(kNone);
}

void KeyTrie::Insert(const std::string& key, const VertexStruct& entry) {
    Vertex vertex = 0;
    for (char symbol : key) {
        Vertex child = m_firstChildren[vertex];
        while (child != kNone && m_symbols[child] != symbol)
            child = m_nextSiblings[child];
        if (child == kNone) {
            child = static_cast<Vertex>(m_parents.size());
            m_parents.push_back(vertex);
            m_symbols.push_back(symbol);
            m_firstChildren.push_back(kNone);
            m_nextSiblings.push_back(m_firstChildren[vertex]);
            m_firstChildren[vertex] = child;
        }
        vertex = child;
    }
    m_entries.emplace_back(vertex, entry);
}

// The archive's header and the graph's class information, the counts, each vertex's entry and each
// edge's endpoints and symbol. The class information of the property types comes with their first
// object; a char is written as a number, negative above 127.
void KeyTrie::Write(std::ostream& out) {
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    TextOut text(out);
    const auto vertices = static_cast<int>(m_parents.size());
    text << std::strlen(boost::archive::BOOST_ARCHIVE_SIGNATURE()) << " "
         << boost::archive::BOOST_ARCHIVE_SIGNATURE() << " "
         << static_cast<unsigned int>(boost::archive::BOOST_ARCHIVE_VERSION()) << " 0 0 " << vertices << " "
         << vertices - 1;
    auto entry = m_entries.begin();
    for (Vertex v = 0; v < m_parents.size(); ++v) {
        VertexStruct data;
        // A key entered twice keeps its last entry.
        for (; entry != m_entries.end() && entry->first == v; ++entry)
            data = entry->second;
        text << (v == 0 ? " 0 0 0 0 " : " ") << int{data.isBlocked} << " " << int{data.isTerminal} << " "
             << data.categoriesMask << (v == 0 ? " 0 0" : "");
    }
    for (Vertex v = 1; v < m_parents.size(); ++v)
        text << " " << m_parents[v] << " " << v << (v == 1 ? " 0 0 " : " ") << short{m_symbols[v]};
    text << "\n";
}

} // namespace tav::urlfilter
