#include "page_text.hpp"

#include <boost/algorithm/string/case_conv.hpp>

#include <iconv.h>

#include <cerrno>

namespace tav::http {

namespace {

// The charset named after "charset=" in the text, in lower case; empty when none is named.
std::string charset_in(const std::string& text) {
    const std::string lower = boost::algorithm::to_lower_copy(text);
    const std::size_t at = lower.find("charset=");
    if (at == std::string::npos)
        return std::string();
    std::size_t from = at + 8;
    if (from < lower.size() && (lower[from] == '"' || lower[from] == '\''))
        ++from;
    const std::size_t end = lower.find_first_of("\"'; \t\r\n>/", from);
    return lower.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The bytes of the UTF-8 sequence that starts with `lead`, or 1 for a byte that starts none.
std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    return lead >= 0xC2 ? 2 : 1;
}

bool valid_utf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t size = lead < 0x80 ? 1 : sequence_length(lead);
        if (lead >= 0x80 && size == 1)
            return false;
        if (at + size > text.size())
            return false;
        for (std::size_t next = 1; next < size; ++next)
            if ((static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80)
                return false;
        at += size;
    }
    return true;
}

std::string utf8_to_windows_1251(const std::string& text) {
    const iconv_t convert = iconv_open("WINDOWS-1251", "UTF-8");
    if (convert == reinterpret_cast<iconv_t>(-1))
        return text;
    std::string out;
    out.reserve(text.size());
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char buffer[4096];
    while (in_left > 0) {
        char* next = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t done = iconv(convert, &in, &in_left, &next, &room);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        if (errno != EILSEQ)
            break; // a sequence cut off at the end
        out += '?';
        const std::size_t skip = std::min(in_left, sequence_length(static_cast<unsigned char>(*in)));
        in += skip;
        in_left -= skip;
    }
    iconv_close(convert);
    return out;
}

} // namespace

std::string page_text::to_check(const std::string& content_type, const std::string& body) {
    std::string charset = charset_in(content_type);
    if (charset.empty())
        charset = charset_in(body.substr(0, 1024));
    const bool utf8 = charset == "utf-8" || charset == "utf8" || (charset.empty() && valid_utf8(body));
    return utf8 ? utf8_to_windows_1251(body) : body;
}

} // namespace tav::http
