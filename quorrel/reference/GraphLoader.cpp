#include "GraphLoader.hpp"

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/basic_archive.hpp>
#include <boost/archive/text_iarchive.hpp>

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace tav::urlfilter {

bool GraphLoader::Load(const std::string& path, Graph& graph) {
    std::ifstream in(path);
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0);
    // The archive reads the signature's length from the file and allocates that much before it
    // compares the signature, so a file must give the right length first.
    std::size_t signatureLength = 0;
    if (!(in >> signatureLength) || signatureLength != std::strlen(boost::archive::BOOST_ARCHIVE_SIGNATURE()))
        return false;
    in.seekg(0);
    try {
        boost::archive::text_iarchive archive(in);
        GraphLoader loader(graph, in, end);
        archive >> loader;
    } catch (const boost::archive::archive_exception&) {
        return false;
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

void GraphLoader::serialize(boost::archive::text_iarchive& archive, const unsigned int /*version*/) {
    unsigned int vertices = 0;
    unsigned int edges = 0;
    archive >> vertices >> edges;
    // A vertex takes at least one number of the file (a reference to a property read before) and an
    // edge at least three (its endpoints and its symbol).
    if (std::uintmax_t{vertices} + 3 * std::uintmax_t{edges} > NumbersLeft())
        throw std::runtime_error("more vertices or edges than the file can hold");

    // Assigning Graph(vertices) would copy it, as the graph type has no move. Adding the vertices
    // one by one into boost's vertex vector, reserved first, touches their memory only once.
    m_graph.clear();
    m_graph.m_vertices.reserve(vertices);
    for (unsigned int i = 0; i < vertices; ++i)
        archive >> boost::get(boost::vertex_all_t(), m_graph, boost::add_vertex(m_graph));
    for (unsigned int i = 0; i < edges; ++i) {
        int source = 0;
        int target = 0;
        archive >> source >> target;
        if (source < 0 || target < 0 || static_cast<unsigned int>(source) >= vertices ||
            static_cast<unsigned int>(target) >= vertices)
            throw std::runtime_error("an edge leads outside the graph");
        const auto edge =
            boost::add_edge(static_cast<Vertex>(source), static_cast<Vertex>(target), m_graph).first;
        archive >> boost::get(boost::edge_all_t(), m_graph, edge);
    }
    archive >> boost::get_property(m_graph, boost::graph_all_t());
}

std::uintmax_t GraphLoader::NumbersLeft() const {
    const std::streamoff at = m_in.tellg();
    if (at < 0 || at > m_end)
        return 0;
    // Every number but the last needs a separator after it.
    return static_cast<std::uintmax_t>(m_end - at + 1) / 2;
}

} // namespace tav::urlfilter
