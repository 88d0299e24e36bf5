#include "SiteListReader.hpp"

#include <sstream>
#include <stdexcept>

void SiteListReader::Read(std::istream& in) {
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        try {
            ReadEntry(line.substr(0, line.find('#')));
        } catch (const std::exception& e) {
            throw std::runtime_error("line " + std::to_string(number) + ": " + e.what());
        }
    }
    if (in.bad())
        throw std::runtime_error("cannot read the list");
}

void SiteListReader::ReadEntry(const std::string& line) {
    std::istringstream words(line);
    std::string kind;
    std::string site;
    std::string categories;
    std::string extra;
    if (!(words >> kind))
        return;
    words >> site >> categories >> extra;
    if (kind != "trusted" && kind != "blocked")
        throw std::runtime_error("unknown kind '" + kind + "', expected trusted or blocked");
    if (site.empty())
        throw std::runtime_error("no site after '" + kind + "'");
    if (!extra.empty())
        throw std::runtime_error("unexpected '" + extra + "' after the categories");
    const bool blocked = kind == "blocked";
    if (blocked && categories.empty())
        throw std::runtime_error("a blocked site needs its categories");
    if (!blocked && !categories.empty())
        throw std::runtime_error("a trusted site takes no categories");
    const auto slash = site.find('/');
    const std::string path = slash == std::string::npos ? std::string() : site.substr(slash);
    m_builder.Add(site.substr(0, slash), path, blocked, blocked ? ParseCategories(categories) : 0);
}

std::uint32_t SiteListReader::ParseCategories(const std::string& text) {
    std::uint32_t mask = 0;
    for (std::size_t start = 0; start != std::string::npos;) {
        const std::size_t comma = text.find(',', start);
        const std::string id = text.substr(start, comma - start);
        const bool digits =
            !id.empty() && id.size() <= 2 && id.find_first_not_of("0123456789") == std::string::npos;
        const int value = digits ? std::stoi(id) : 0;
        if (value < 1 || value > 32)
            throw std::runtime_error("category '" + id + "' is not a number from 1 to 32");
        mask |= std::uint32_t{1} << (value - 1);
        start = comma == std::string::npos ? comma : comma + 1;
    }
    return mask;
}
