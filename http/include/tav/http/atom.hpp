#pragma once

// tav::http::atom - the name of a header field.
//
// Header names compare without regard to letter case, so the library hands out one atom per name:
// intern() gives the same atom (one pointer comparison) for "Content-Type" and "content-type", whose text
// is the spelling first interned (the well-known names below keep their usual spelling). Interned names
// live as long as the library; intern() may be called from any thread.

#include <tav/atom.hpp>
#include <tav/http/export.hpp>

#include <string_view>

namespace tav::http {

class TAV_HTTP_EXPORT atom : public tav::atom {
public:
    atom() = default;

    // The atom of a header name. Throws std::bad_alloc when a new name cannot be stored.
    static atom intern(std::string_view name);
    // An atom of its own for a name that must not grow the table, such as a field name a client made up:
    // equal only to copies of itself.
    static atom make_private(std::string_view name);

    static const atom cache_control_header;
    static const atom connection_header;
    static const atom content_length_header;
    static const atom content_type_header;
    static const atom date_header;
    static const atom expect_header;
    static const atom host_header;
    static const atom keep_alive_header;
    static const atom proxy_connection_header;
    static const atom server_header;
    static const atom transfer_encoding_header;
    static const atom user_agent_header;

private:
    explicit atom(array_type text) : tav::atom(std::move(text)) {}
};

} // namespace tav::http
