// Loads arbitrary bytes as a URL category database file, with URLFilter and with the reference that
// boost reads. Both must fail alike, with one of the two messages, or load graphs that answer every
// lookup alike; neither may crash, hang or use memory beyond what the input's size explains.

#include <quorrel/URLFilter.hpp>
#include <support/temp_folder.hpp>

#include "ReferenceFilter.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using tav::urlfilter::ReferenceFilter;
using tav::urlfilter::URLFilter;
using tav::urlfilter::URLLookupResult;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The file each input is written to, removed when the fuzzer exits.
class InputFile {
public:
    const std::string& Write(const std::uint8_t* data, std::size_t size) const {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return m_path;
    }

private:
    const support::temp_folder m_folder{"urlfilter-fuzz"};
    const std::string m_path = (m_folder / "input").string();
};

void CheckLookup(const URLFilter& filter, const ReferenceFilter& reference, const std::string& host,
                 const std::string& path) {
    tav::uri request;
    request.host(host).path(path);
    const URLLookupResult result = filter.Lookup(request);
    const URLLookupResult expected = reference.Lookup(request);
    require(result.found || (!result.blocked && result.categories == 0));
    require(result.found == expected.found && result.blocked == expected.blocked &&
            result.categories == expected.categories);
}

// The message that loading raises, or "loaded".
template <class Filter> std::string Load(Filter& filter, const std::string& path) {
    try {
        filter.Load(path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "loaded";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const InputFile file;
    const std::string& path = file.Write(data, size);

    URLFilter filter;
    ReferenceFilter reference;
    const std::string outcome = Load(filter, path);
    require(outcome == Load(reference, path));
    if (outcome != "loaded") {
        require(outcome == "Problem with loading " + path || outcome == "No vertices in the graph");
        return 0;
    }
    CheckLookup(filter, reference, "", "");
    CheckLookup(filter, reference, "h.t", "/");
    CheckLookup(filter, reference, "a.b.example", "/x/y.html");
    // The input's own text as host and path reaches into the keys it spells.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t half = size / 2;
    CheckLookup(filter, reference, text.substr(0, half), text.substr(half));
    CheckLookup(filter, reference, text, "");
    return 0;
}
