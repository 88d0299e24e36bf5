#pragma once

// Text made safe to stand in an HTML page.

#include <tav/http/export.hpp>

#include <string>
#include <string_view>

namespace tav::http {

// The text with & < > " and ' written as character references, so that it reads as text both in element
// content and inside a quoted attribute value.
TAV_HTTP_EXPORT std::string escape_html(std::string_view text);

} // namespace tav::http
