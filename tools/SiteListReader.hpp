#pragma once

// Reads the source list of the URL category database into a URLGraphBuilder. One entry a line:
//
//     blocked casino.example/poker 6,5
//     trusted kids.example
//
// the kind (trusted or blocked), the site (a host, optionally followed by a path that starts with
// "/"), and for a blocked site its category IDs (1 to 32, separated by commas). Words are
// separated by blanks; "#" starts a comment that runs to the end of the line; blank lines are
// skipped.

#include <quorrel/URLGraphBuilder.hpp>

#include <cstdint>
#include <istream>
#include <string>

class SiteListReader {
public:
    explicit SiteListReader(tav::urlfilter::URLGraphBuilder& builder) : m_builder(builder) {}

    // Adds every entry of the list; throws std::runtime_error "line N: <what is wrong>" at the
    // first bad line.
    void Read(std::istream& in);

private:
    void ReadEntry(const std::string& line);
    static std::uint32_t ParseCategories(const std::string& text);

    tav::urlfilter::URLGraphBuilder& m_builder;
};
