#pragma once

#include <quorrel/Ret.hpp>
#include <quorrel/export.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tav {

// The search and YouTube hosts whose traffic a group's safe search or YouTube restriction re-points, and the
// safe address of each: the table that the service reads once at start from a file an administrator may
// extend (cfg/safesearch.txt). One rule a line, fields separated by white space, `#` to the end of a line a
// comment:
//
//     KIND HOST MODERATE-ADDRESS STRICT-ADDRESS [MODERATE-PARAMETER STRICT-PARAMETER]
//
// KIND is `search` (the group's safe search level applies) or `youtube` (its YouTube restriction applies).
// HOST is a host name, or NAME.* for a site's country domains: NAME, a dot, then either a top-level domain
// of letters alone (google.com, google.de, google.cat) or a label of two or three letters and a two-letter
// country code (google.co.uk, google.com.au); never more labels, so google.example.com is not matched. A
// host name wins over a pattern; patterns are tried in the order of the file. The addresses are host names,
// resolved as any other; the parameters, NAME=VALUE or `-` for none, go into the query of plain http://
// requests. Host names compare in lower case without a trailing dot. A loaded table is never changed: it
// is shared, as a whole, by every thread that reads it.
class QUORREL_EXPORT SafeSearch {
public:
    enum class Kind { Search, YouTube };
    // The levels of the group's settings.
    static constexpr std::int32_t LEVEL_OFF = 0;
    static constexpr std::int32_t LEVEL_MODERATE = 1;
    static constexpr std::int32_t LEVEL_STRICT = 2;

    struct Rule {
        Kind kind = Kind::Search;
        // As listed, in lower case: a host name or NAME.*.
        std::string host;
        // For the moderate and the strict level; a parameter is empty for none.
        std::array<std::string, 2> addresses;
        std::array<std::string, 2> parameters;
    };

    // Where a request to a listed host goes instead, and what it carries there.
    struct Redirect {
        // The safe address; empty when nothing changes.
        std::string address;
        // NAME=VALUE set in the query of a plain http:// request; empty for none.
        std::string parameter;
        // The value of the YouTube-Restrict field (Moderate or Strict) for a youtube rule; empty otherwise.
        std::string youTubeRestrict;
        Kind kind = Kind::Search;
        std::int32_t level = LEVEL_OFF;

        explicit operator bool() const { return !address.empty(); }
        // The query with the parameter set: every pair of the same name (in any letter case) taken out, the
        // parameter added last. Without a parameter, the query as it is.
        std::string Query(const std::string& query) const;
    };

    // Reads the table from the file, replacing what was loaded. A line that cannot be read is skipped and
    // named in the result ("FILE:LINE: what is wrong"), whose code is then Ret::ERR, while every good line is
    // kept; a file that cannot be read leaves the table empty.
    Ret Load(const std::string& path);

    // The rule of the host, or null.
    const Rule* Find(const std::string& host) const;
    // Where a request to the host goes at the given levels (above LEVEL_STRICT counts as strict): nothing for
    // a host the table does not list, or with the level of its rule's kind LEVEL_OFF or below.
    Redirect For(const std::string& host, std::int32_t searchLevel, std::int32_t youTubeLevel) const;
    std::size_t Size() const { return m_rules.size(); }

    // "moderate" or "strict", for messages; a level above LEVEL_STRICT is strict.
    static const char* LevelName(std::int32_t level);

private:
    // Reads one line's fields into a rule; empty, or what is wrong.
    static std::string ReadRule(const std::vector<std::string>& fields, Rule& rule);

    std::vector<Rule> m_rules;
    // Host names, and the NAME of each NAME.* pattern in the file's order, with the index of their rule.
    std::map<std::string, std::size_t> m_hosts;
    std::vector<std::pair<std::string, std::size_t>> m_patterns;
};

} // namespace tav
