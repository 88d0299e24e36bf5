#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>

#include "ReferenceFilter.hpp"

#include <boost/archive/text_oarchive.hpp>
#include <boost/graph/adj_list_serialize.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

using tav::uri;
using namespace tav::urlfilter;

namespace {

// A file of the running test's own, so that tests may run in parallel.
std::string TempPath(const std::string& name) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "urlfilter_test_" + test->test_suite_name() + "_" + test->name() + "_" +
           name;
}

std::string WriteFile(const std::string& name, const std::string& text) {
    std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string Serialize(const Graph& graph) {
    std::ostringstream out;
    {
        boost::archive::text_oarchive archive(out);
        archive << graph;
    }
    return out.str();
}

std::string Written(const URLGraphBuilder& builder) {
    std::ostringstream out;
    builder.Write(out);
    return out.str();
}

URLFilter Loaded(const URLGraphBuilder& builder) {
    URLFilter filter;
    filter.Load(WriteFile("built.bin", Written(builder)));
    return filter;
}

// "not found", or the entry's kind and categories mask, such as "blocked 32".
std::string Find(const URLFilter& filter, const uri& request) {
    const URLLookupResult result = filter.Lookup(request);
    if (!result.found)
        return result.blocked || result.categories != 0 ? "not found, with data" : "not found";
    return (result.blocked ? "blocked " : "trusted ") + std::to_string(result.categories);
}

std::string Find(const URLFilter& filter, const std::string& host, const std::string& path) {
    uri request;
    request.host(host).path(path);
    return Find(filter, request);
}

// The text of the error that loading the file raises, or "loaded".
std::string LoadError(const std::string& path) {
    URLFilter filter;
    try {
        filter.Load(path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "loaded";
}

const std::string kArchive = "archive.bin";

std::string LoadText(const std::string& text) {
    return LoadError(WriteFile(kArchive, text));
}

std::string Problem() {
    return "Problem with loading " + TempPath(kArchive);
}

// The text boost writes for a root and one entry joined by 'a' (97), field by field: the header
// with the library version; the graph's class information (tracking, version); the vertex and
// edge counts; the root's property after the class information of property<>, VertexStruct and
// no_property; the entry's property; the edge's endpoints, the symbol property's class
// information and the symbol.
struct TwoVertices {
    std::string version = "18";
    std::string counts = "2 1";
    std::string root = "0 0 0 0 0 0 0 0 0";
    std::string entry = "1 1 1";
    std::string edge = "0 1 0 0 97";

    std::string Text() const {
        return "22 serialization::archive " + version + " 0 0 " + counts + " " + root + " " + entry + " " +
               edge + "\n";
    }
};

std::string With(std::string TwoVertices::*field, const std::string& value) {
    TwoVertices archive;
    archive.*field = value;
    return archive.Text();
}

typedef std::vector<std::tuple<Vertex, Vertex, char>> Edges;

Graph MakeGraph(std::size_t vertices, const Edges& edges) {
    Graph graph(vertices);
    for (const auto& [source, target, symbol] : edges)
        boost::add_edge(source, target, symbol, graph);
    return graph;
}

} // namespace

TEST(URLFilterLookup, HostKeyWithSlashCoversEveryPathOfTheHostAndItsSubdomains) {
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 1);
    builder.Add("h.t", "/", true, 2);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "h.t", "/x/y"), "blocked 2");
    EXPECT_EQ(Find(filter, "h.t", "/"), "blocked 2");
    EXPECT_EQ(Find(filter, "w.h.t", "/x"), "blocked 2");
    EXPECT_EQ(Find(filter, "a.b.h.t", "/x"), "blocked 2");
    EXPECT_EQ(Find(filter, "h.t", ""), "blocked 1");
    EXPECT_EQ(Find(filter, "w.h.t", ""), "blocked 1");
    EXPECT_EQ(Find(filter, "xh.t", "/x"), "not found");
    EXPECT_EQ(Find(filter, "h.tx", "/x"), "not found");
    EXPECT_EQ(Find(filter, "t", "/x"), "not found");
    // A path without its leading slash, and an empty host, are not found.
    EXPECT_EQ(Find(filter, "h.t", "x"), "not found");
    EXPECT_EQ(Find(filter, "h.t", "x/y"), "not found");
    EXPECT_EQ(Find(filter, "", "/"), "not found");
    EXPECT_EQ(Find(filter, "", ""), "not found");
}

TEST(URLFilterLookup, PathKeyCoversItsSegmentAndWhatFollowsASlashOrADot) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/a", true, 4);
    const URLFilter filter = Loaded(builder);

    for (const char* path : {"/a", "/a/", "/a/b", "/a.html", "/a/b/c.d"})
        EXPECT_EQ(Find(filter, "h.t", path), "blocked 4") << path;
    for (const char* path : {"/ab", "/b", "/", "a", "//a"})
        EXPECT_EQ(Find(filter, "h.t", path), "not found") << path;
    // The host vertex ends a key so that the path is reached; alone it blocks no category.
    EXPECT_EQ(Find(filter, "h.t", ""), "blocked 0");
}

TEST(URLFilterLookup, PathsAreComparedInLowerCaseAndHostsUnchanged) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/Docs", false, 0);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "h.t", "/DOCS/Index.HTML"), "trusted 0");
    EXPECT_EQ(Find(filter, "h.t", "/docs"), "trusted 0");
    EXPECT_EQ(Find(filter, "H.T", "/docs"), "not found");
    EXPECT_EQ(Find(filter, "h.T", "/docs"), "not found");
}

TEST(URLFilterLookup, LongestPathWinsAndShorterOnesCoverTheRest) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/a", true, 1);
    builder.Add("h.t", "/a/b/c", false, 0);
    builder.Add("h.t", "/a/bc", true, 2);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "h.t", "/a/b/c/d"), "trusted 0");
    EXPECT_EQ(Find(filter, "h.t", "/a/b/c.html"), "trusted 0");
    EXPECT_EQ(Find(filter, "h.t", "/a/b/cd"), "blocked 1");
    EXPECT_EQ(Find(filter, "h.t", "/a/b"), "blocked 1");
    EXPECT_EQ(Find(filter, "h.t", "/a/bc/x"), "blocked 2");
    EXPECT_EQ(Find(filter, "h.t", "/a/bcd"), "blocked 1");
}

TEST(URLFilterLookup, DeepestHostWins) {
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 32);
    builder.Add("kids.h.t", "", false, 0);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "kids.h.t", "/x"), "trusted 0");
    EXPECT_EQ(Find(filter, "a.kids.h.t", "/x"), "trusted 0");
    EXPECT_EQ(Find(filter, "kid.h.t", "/x"), "blocked 32");
    EXPECT_EQ(Find(filter, "xkids.h.t", "/x"), "blocked 32");
    EXPECT_EQ(Find(filter, "h.t", "/x"), "blocked 32");
}

TEST(URLFilterLookup, SubdomainWithPathEntriesKeepsWhatItsParentCovers) {
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 32);
    builder.Add("h.t", "/kids", false, 0);
    builder.Add("a.h.t", "/casino", true, 16);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "a.h.t", "/casino/x"), "blocked 16");
    EXPECT_EQ(Find(filter, "b.a.h.t", "/casino"), "blocked 16");
    EXPECT_EQ(Find(filter, "a.h.t", "/other"), "blocked 32");
    EXPECT_EQ(Find(filter, "a.h.t", "/kids/x"), "trusted 0");
    EXPECT_EQ(Find(filter, "a.h.t", ""), "blocked 32");
    EXPECT_EQ(Find(filter, "h.t", "/casino"), "blocked 32");
}

TEST(URLFilterLookup, WholeHostEntryHidesItsParentsPaths) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/casino", true, 32);
    builder.Add("kids.h.t", "", false, 0);
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "kids.h.t", "/casino"), "trusted 0");
    EXPECT_EQ(Find(filter, "other.h.t", "/casino"), "blocked 32");
    EXPECT_EQ(Find(filter, "other.h.t", "/news"), "not found");
}

TEST(URLFilterLookup, ReadsOnlyTheHostAndThePath) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/a", true, 8);
    const URLFilter filter = Loaded(builder);

    const std::string text = "FTP://user@W.H.T:2121/A/b?q=/x#frag";
    uri request;
    ASSERT_TRUE(request.parse_absolute(text.data(), text.data() + text.size()));
    EXPECT_EQ(Find(filter, request), "blocked 8");
    request.path("/b?a");
    EXPECT_EQ(Find(filter, request), "not found");
}

TEST(URLFilterLookup, PathBytesAbove127AreSymbolsLikeAnyOther) {
    URLGraphBuilder builder;
    builder.Add("h.t", "/caf\xc3\xa9", true, 2);
    const std::string text = Written(builder);
    EXPECT_NE(text.find(" -61"), std::string::npos) << text;
    const URLFilter filter = Loaded(builder);

    EXPECT_EQ(Find(filter, "h.t", "/CAF\xc3\xa9/menu"), "blocked 2");
    EXPECT_EQ(Find(filter, "h.t", "/caf\xc3\xa8"), "not found");
}

TEST(URLGraphBuilder, RefusesKeysThatNoRequestCouldMatch) {
    URLGraphBuilder builder;
    for (const char* host : {"", ".h.t", "h.t.", "h..t", "h t", "h.t:80", "h/t", "[::1]"})
        EXPECT_THROW(builder.Add(host, "", true, 1), std::invalid_argument) << host;
    for (const std::string& path :
         std::vector<std::string>{"a", "a/b", "/a?b", "/a#b", std::string("/a\0b", 4)})
        EXPECT_THROW(builder.Add("h.t", path, true, 1), std::invalid_argument) << path;
    EXPECT_EQ(boost::num_vertices(builder.Build()), 1u);
}

TEST(URLGraphBuilder, RefusesASecondEntryForTheSameHostAndPath) {
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 1);
    builder.Add("h.t", "/", true, 2);
    builder.Add("h.t", "/a", true, 2);
    EXPECT_THROW(builder.Add("h.t", "", false, 0), std::invalid_argument);
    EXPECT_THROW(builder.Add("H.T", "", false, 0), std::invalid_argument);
    EXPECT_THROW(builder.Add("h.t", "/A", false, 0), std::invalid_argument);
    EXPECT_NO_THROW(builder.Add("w.h.t", "/a", false, 0));
}

TEST(URLGraphBuilder, OutputDependsOnlyOnTheEntries) {
    URLGraphBuilder forward;
    forward.Add("b.t", "/x", true, 1);
    forward.Add("a.t", "", false, 0);
    forward.Add("B.T", "/y", true, 2);
    URLGraphBuilder backward;
    backward.Add("b.t", "/y", true, 2);
    backward.Add("A.t", "", false, 0);
    backward.Add("b.t", "/X", true, 1);
    EXPECT_EQ(Written(forward), Written(backward));

    const Graph graph = forward.Build();
    EXPECT_EQ(boost::in_degree(0, graph), 0u);
    EXPECT_EQ(boost::num_vertices(graph), boost::num_edges(graph) + 1);
}

TEST(URLFilterArchive, HandWrittenArchiveIsWhatBoostWrites) {
    Graph graph = MakeGraph(2, {{0, 1, 'a'}});
    boost::get(VertexPropertyTag(), graph, 1) = VertexStruct{true, true, 1};
    EXPECT_EQ(TwoVertices().Text(), Serialize(graph));
    EXPECT_EQ(LoadText(TwoVertices().Text()), "loaded");
}

TEST(URLFilterArchive, ReadsWhatBoostWritesAndWritesItBackUnchanged) {
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 1);
    builder.Add("w.h.t", "/a/b", false, 0);
    builder.Add("z.example", "/\xff", true, 0xffffffffU);
    const std::string text = Written(builder);
    EXPECT_EQ(text, Serialize(builder.Build()));
    EXPECT_EQ(text.rfind("22 serialization::archive 18 ", 0), 0u) << text;

    EXPECT_EQ(Loaded(builder).GetPath(), TempPath("built.bin"));
    ReferenceFilter reference;
    reference.Load(TempPath("built.bin"));
    EXPECT_EQ(Serialize(reference.GetGraph()), text);
    EXPECT_EQ(reference.GetRoot(), 0u);
}

TEST(URLFilterArchive, RootNeedNotBeTheFirstVertex) {
    // h.t spelled backwards with a slash after it: root 4 -t-> 3 -.-> 2 -h-> 1 -/-> 0.
    Graph graph = MakeGraph(5, {{4, 3, 't'}, {3, 2, '.'}, {2, 1, 'h'}, {1, 0, '/'}});
    boost::get(VertexPropertyTag(), graph, 1) = VertexStruct{false, true, 0};
    boost::get(VertexPropertyTag(), graph, 0) = VertexStruct{true, true, 64};
    URLFilter filter;
    filter.Load(WriteFile(kArchive, Serialize(graph)));

    EXPECT_EQ(Find(filter, "w.h.t", "/x"), "blocked 64");
    EXPECT_EQ(Find(filter, "h.t", ""), "trusted 0");
}

TEST(URLFilterArchive, TrackedPropertyMayBeAReferenceToOneReadBefore) {
    // The root's property is marked as tracked (class information "1 0") and gets object ID 0; the
    // entry's property is then the single number 0, a reference that boost leaves unread, so the
    // entry has no data. With a new ID, 1, it is read.
    TwoVertices archive;
    archive.root = "1 0 0 0 0 0 1 64 0 0";
    for (const auto& [entry, found] :
         {std::pair<std::string, std::string>{"0", "not found"}, {"1 1 1 7", "blocked 7"}}) {
        archive.entry = entry;
        URLFilter filter;
        filter.Load(WriteFile(kArchive, archive.Text()));
        EXPECT_EQ(Find(filter, "a", ""), found) << entry;
    }
    ReferenceFilter reference;
    archive.entry = "0";
    reference.Load(WriteFile(kArchive, archive.Text()));
    EXPECT_FALSE(boost::get(VertexPropertyTag(), reference.GetGraph(), 1).isTerminal);
    EXPECT_EQ(boost::get(VertexPropertyTag(), reference.GetGraph(), 0).categoriesMask, 64u);
}

TEST(URLFilterArchive, OlderLibraryVersionsLoadAndLaterOnesAreRefused) {
    for (const char* version : {"4", "17", "18"})
        EXPECT_EQ(LoadText(With(&TwoVertices::version, version)), "loaded") << version;
    for (const char* version : {"19", "99", "65554", "-1"})
        EXPECT_EQ(LoadText(With(&TwoVertices::version, version)), Problem()) << version;
}

TEST(URLFilterLoad, MissingOrUnreadableFileNamesThePath) {
    EXPECT_EQ(LoadError("cfg/URLFilterDB.bin"), "Problem with loading cfg/URLFilterDB.bin");
    EXPECT_EQ(LoadError(TempPath("missing.bin")), "Problem with loading " + TempPath("missing.bin"));
    EXPECT_EQ(LoadError(::testing::TempDir()), "Problem with loading " + ::testing::TempDir());
}

TEST(URLFilterLoad, FilesThatAreNoArchiveAreRefused) {
    for (const std::string text : {"", "\n", "hello", "22 serialization::archiv 18 0 0 2 1",
                                   "22 serialization:archive 18", "4000000000 serialization::archive 18",
                                   "-1 serialization::archive 18", "23 serialization::archive 18"})
        EXPECT_EQ(LoadText(text), Problem()) << text;
}

TEST(URLFilterLoad, ArchiveWithoutVerticesIsRefused) {
    EXPECT_EQ(LoadText(Serialize(Graph())), "No vertices in the graph");
}

TEST(URLFilterLoad, EveryTruncationIsRefused) {
    const std::string text = TwoVertices().Text();
    // Cut inside the last number, the symbol, the text is still a complete archive.
    for (std::size_t size = 0; size < text.rfind(' ') + 1; ++size)
        EXPECT_EQ(LoadText(text.substr(0, size)), Problem()) << text.substr(0, size);
}

TEST(URLFilterLoad, CountsTheFileCannotHoldAreRefused) {
    for (const char* counts :
         {"4294967295 1", "2 4294967295", "4294967296 1", "-1 1", "3 1", "2 2", "1000 0"})
        EXPECT_EQ(LoadText(With(&TwoVertices::counts, counts)), Problem()) << counts;
}

TEST(URLFilterLoad, EdgesOutsideTheGraphAreRefused) {
    for (const char* edge :
         {"0 2 0 0 97", "2 0 0 0 97", "-1 1 0 0 97", "0 -2147483648 0 0 97", "0 2147483648 0 0 97"})
        EXPECT_EQ(LoadText(With(&TwoVertices::edge, edge)), Problem()) << edge;
}

TEST(URLFilterLoad, BadFieldValuesAreRefused) {
    EXPECT_EQ(LoadText(With(&TwoVertices::entry, "2 1 1")), Problem());
    EXPECT_EQ(LoadText(With(&TwoVertices::entry, "1 1 4294967296")), Problem());
    EXPECT_EQ(LoadText(With(&TwoVertices::entry, "1 x 1")), Problem());
}

TEST(URLFilterLoad, SymbolZeroIsRefused) {
    EXPECT_EQ(LoadText(With(&TwoVertices::edge, "0 1 0 0 0")), Problem());
    // Boost keeps the low byte of the number it reads for a char.
    EXPECT_EQ(LoadText(With(&TwoVertices::edge, "0 1 0 0 256")), Problem());
}

TEST(URLFilterLoad, TwoEdgesWithOneSymbolFromOneVertexAreRefused) {
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{0, 1, 'a'}, {0, 2, 'a'}}))), Problem());
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{0, 1, 'a'}, {1, 2, 'a'}}))), "loaded");
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{0, 1, 'a'}, {0, 2, 'b'}}))), "loaded");
}

TEST(URLFilterLoad, VerticesTheRootDoesNotReachAreRefused) {
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{0, 1, 'a'}}))), Problem());
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{1, 2, 'a'}}))), Problem());
    EXPECT_EQ(LoadText(Serialize(MakeGraph(4, {{0, 1, 'a'}, {2, 3, 'b'}, {3, 2, 'c'}}))), Problem());
}

TEST(URLFilterLoad, FirstInEdgesThatLoopAreRefused) {
    // Every vertex has an in-edge, so the search for the root goes round.
    EXPECT_EQ(LoadText(Serialize(MakeGraph(2, {{0, 1, 'a'}, {1, 0, 'b'}}))), Problem());
    Edges ring;
    for (Vertex vertex = 0; vertex < 5000; ++vertex)
        ring.emplace_back(vertex, (vertex + 1) % 5000, 'a');
    EXPECT_EQ(LoadText(Serialize(MakeGraph(5000, ring))), Problem());
    // Reachable from the root, but the first in-edges of 2 and 3 lead to each other.
    EXPECT_EQ(LoadText(Serialize(MakeGraph(4, {{0, 1, 'a'}, {3, 2, 'c'}, {2, 3, 'd'}, {1, 2, 'b'}}))),
              Problem());
    // A later in-edge may close a loop: only the first one leads back.
    EXPECT_EQ(LoadText(Serialize(MakeGraph(3, {{0, 1, 'a'}, {1, 2, 'b'}, {2, 1, 'c'}}))), "loaded");
}

TEST(URLFilterLoad, FailedLoadOrClearLeavesAnEmptyFilterThatFindsNothing) {
    EXPECT_EQ(Find(URLFilter(), "h.t", "/"), "not found");
    URLGraphBuilder builder;
    builder.Add("h.t", "", true, 1);
    URLFilter filter = Loaded(builder);
    ASSERT_EQ(Find(filter, "h.t", "/"), "blocked 1");
    const std::string path = WriteFile(kArchive, With(&TwoVertices::edge, "0 2 0 0 97"));

    EXPECT_THROW(filter.Load(path), std::runtime_error);
    EXPECT_EQ(Find(filter, "h.t", "/"), "not found");
    EXPECT_EQ(filter.GetPath(), path);

    filter = Loaded(builder);
    filter.Clear();
    EXPECT_EQ(Find(filter, "h.t", "/"), "not found");
    EXPECT_EQ(filter.GetPath(), "");
}
