// URLFilter's compact graph and fast reader against the reference, boost's reader and the walker
// over boost's graph: graphs made at random and to the edge, and archives changed byte by byte,
// must load alike and answer every lookup alike.

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>

#include "ReferenceFilter.hpp"

#include <boost/archive/text_oarchive.hpp>
#include <boost/graph/adj_list_serialize.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using tav::uri;
using namespace tav::urlfilter;

namespace {

std::string Serialize(const Graph& graph) {
    std::ostringstream out;
    {
        boost::archive::text_oarchive archive(out);
        archive << graph;
    }
    return out.str();
}

class Differential : public ::testing::Test {
protected:
    // Symbols the keys and requests are made of: boundaries, letters of both cases, a byte above 127.
    static constexpr char kSymbols[] = "ab./A-\xe9";

    char Symbol() { return kSymbols[m_random() % (sizeof kSymbols - 1)]; }
    std::string Text(std::size_t longest) {
        std::string text(m_random() % (longest + 1), ' ');
        for (char& c : text)
            c = Symbol();
        return text;
    }

    // A trie of random keys with random entries, its vertices numbered in a shuffled order so that
    // the root is seldom vertex 0, and some extra edges after the tree's that join ways or close
    // loops, which only later in-edges may do.
    Graph RandomGraph(std::size_t keys, std::size_t longest, std::size_t extra) {
        std::vector<std::vector<std::pair<char, std::size_t>>> children(1);
        for (std::size_t k = 0; k < keys; ++k) {
            std::size_t vertex = 0;
            for (char symbol : Text(longest)) {
                std::size_t next = children.size();
                for (const auto& [s, child] : children[vertex])
                    next = s == symbol ? child : next;
                if (next == children.size()) {
                    children[vertex].emplace_back(symbol, next);
                    children.emplace_back();
                }
                vertex = next;
            }
        }
        std::vector<Vertex> number(children.size());
        for (std::size_t v = 0; v < number.size(); ++v)
            number[v] = v;
        std::shuffle(number.begin(), number.end(), m_random);
        Graph graph(children.size());
        for (std::size_t v = 0; v < children.size(); ++v) {
            for (const auto& [symbol, child] : children[v])
                boost::add_edge(number[v], number[child], symbol, graph);
            if (m_random() % 3 != 0)
                boost::get(VertexPropertyTag(), graph, number[v]) =
                    VertexStruct{m_random() % 2 == 0, true, static_cast<std::uint32_t>(m_random())};
        }
        for (std::size_t e = 0; e < extra; ++e) {
            const Vertex from = m_random() % children.size();
            const char symbol = Symbol();
            bool taken = false;
            for (auto [edge, end] = boost::out_edges(from, graph); edge != end; ++edge)
                taken = taken || boost::get(SymbolPropertyTag(), graph, *edge) == symbol;
            if (!taken)
                boost::add_edge(from, m_random() % children.size(), symbol, graph);
        }
        return graph;
    }

    // The error each filter raises on loading the text, or "loaded".
    std::pair<std::string, std::string> Load(const std::string& text) {
        // A file of the test's own, as tests may run in parallel.
        const std::string path = ::testing::TempDir() + "urlfilter_differential_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
        std::ofstream(path, std::ios::binary) << text;
        const auto load = [&](auto& filter) -> std::string {
            try {
                filter.Load(path);
            } catch (const std::runtime_error& e) {
                return e.what();
            }
            return "loaded";
        };
        return {load(m_filter), load(m_reference)};
    }

    // Loads the text both ways and compares the outcome and `requests` random lookups.
    void Compare(const std::string& text, std::size_t requests, std::size_t longest) {
        const auto [compact, reference] = Load(text);
        ASSERT_EQ(compact, reference) << text;
        for (std::size_t i = 0; i < requests && compact == "loaded"; ++i) {
            uri request;
            const std::string path = Text(longest);
            request.host(Text(longest)).path(m_random() % 4 == 0 ? path : "/" + path);
            const URLLookupResult got = m_filter.Lookup(request);
            const URLLookupResult want = m_reference.Lookup(request);
            ASSERT_TRUE(got.found == want.found && got.blocked == want.blocked &&
                        got.categories == want.categories)
                << "host '" << request.host() << "' path '" << request.path() << "': " << got.found << " "
                << got.blocked << " " << got.categories << " instead of " << want.found << " " << want.blocked
                << " " << want.categories << "\n"
                << text;
        }
    }

    std::mt19937 m_random{20261209};
    URLFilter m_filter;
    ReferenceFilter m_reference;
};

TEST_F(Differential, RandomAndEdgeGraphsAnswerAlike) {
    const struct {
        const char* shape;
        std::size_t graphs, keys, longest, extra;
    } shapes[] = {
        {"small tries", 150, 6, 5, 0},
        {"tries with joined ways and loops", 150, 8, 6, 6},
        {"deep chains", 20, 3, 300, 2},
        {"wide vertices", 20, 400, 2, 0},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.shape);
        for (std::size_t g = 0; g < shape.graphs; ++g)
            Compare(Serialize(RandomGraph(shape.keys, shape.longest, shape.extra)), 200, shape.longest + 2);
    }
}

TEST_F(Differential, ChangedArchivesLoadAlike) {
    static const char kBytes[] = " \n\t0123456789-+x";
    for (int round = 0; round < 3000; ++round) {
        std::string text = Serialize(RandomGraph(3, 3, 1));
        for (std::uint32_t change = 0, changes = 1 + m_random() % 3; change < changes; ++change) {
            const std::size_t at = m_random() % text.size();
            const char byte = kBytes[m_random() % (sizeof kBytes - 1)];
            switch (m_random() % 4) {
            case 0:
                text[at] = byte;
                break;
            case 1:
                text.erase(at, 1);
                break;
            case 2:
                text.insert(at, 1, byte);
                break;
            default:
                // A whole number after a separator, such as an object ID or a tracking flag.
                if (const std::size_t space = text.find(' ', at); space != std::string::npos)
                    text.insert(space, " " + std::to_string(m_random() % 3));
            }
        }
        Compare(text, 20, 5);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Differential, TheBuilderWritesWhatBoostWritesForItsGraph) {
    static const char* const kLabels[] = {"a", "b", "ab", "x-1", "w_w", "test"};
    for (int list = 0; list < 100; ++list) {
        URLGraphBuilder builder;
        for (std::uint32_t site = 0, sites = m_random() % 30; site < sites; ++site) {
            std::string host = kLabels[m_random() % std::size(kLabels)];
            for (std::uint32_t labels = m_random() % 4; labels > 0; --labels)
                host += std::string(".") + kLabels[m_random() % std::size(kLabels)];
            std::string path;
            for (std::uint32_t segments = m_random() % 3; segments > 0; --segments)
                path += "/" + Text(4);
            try {
                builder.Add(host, path, m_random() % 2 == 0, static_cast<std::uint32_t>(m_random()));
            } catch (const std::invalid_argument&) {
                // A host and path drawn twice.
            }
        }
        std::ostringstream written;
        builder.Write(written);
        const std::string text = written.str();
        ASSERT_EQ(text, Serialize(builder.Build()));
        Compare(text, 50, 8);
    }
}

TEST_F(Differential, TheSampleDatabaseAnswersAlike) {
    ASSERT_EQ(
        Load(std::string(std::istreambuf_iterator<char>(std::ifstream(SAMPLE_CFG "/URLFilterDB.bin").rdbuf()),
                         std::istreambuf_iterator<char>())),
        std::make_pair(std::string("loaded"), std::string("loaded")));
    std::ifstream list(SOURCE_CFG "/URLFilterDB.txt");
    std::size_t sites = 0;
    for (std::string line; std::getline(list, line);) {
        std::istringstream words(line);
        std::string kind, site;
        if (!(words >> kind >> site) || kind[0] == '#')
            continue;
        ++sites;
        const std::size_t slash = site.find('/');
        const std::string host = site.substr(0, slash);
        const std::string path = slash == std::string::npos ? "" : site.substr(slash);
        for (const char* prefix : {"", "www.", "x"}) {
            for (const std::string& page : {path, path + "/x", path + ".html", path + "x", std::string("/"),
                                            std::string("/Other"), std::string()}) {
                uri request;
                request.host(std::string(prefix) + host).path(page);
                const URLLookupResult got = m_filter.Lookup(request);
                const URLLookupResult want = m_reference.Lookup(request);
                EXPECT_TRUE(got.found == want.found && got.blocked == want.blocked &&
                            got.categories == want.categories)
                    << request.host() << page;
            }
        }
    }
    EXPECT_GT(sites, 20u);
}

} // namespace
