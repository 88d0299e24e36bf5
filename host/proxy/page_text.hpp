#pragma once

// The text of a page as the word check reads it: in the policy's own code page, windows-1251, so that the
// policy's words (Cyrillic ones included) are found in it whatever the page was written in. A page in UTF-8,
// as its Content-Type or its own <meta> says, or that says nothing and is valid UTF-8, is converted with
// iconv; a character that windows-1251 lacks becomes '?'. A page in windows-1251 or another charset is taken
// as it is. A pure function; safe on any thread.

#include <string>

namespace tav::http {

class page_text {
public:
    // The text to check, from the answer's Content-Type value and its decoded body.
    static std::string to_check(const std::string& content_type, const std::string& body);
};

} // namespace tav::http
