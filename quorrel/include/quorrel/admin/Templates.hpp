#pragma once

// The functions the page modules share to read templates and fill their placeholders.
//
// A placeholder is filled either with text (FillText: a value from a request or from the policy, escaped
// for HTML so that it reads as text in element content and in quoted attribute values) or with markup
// (FillMarkup: HTML that the modules build themselves, inserted as it is). FillText is the one place where
// the administration escapes.

#include <quorrel/export.hpp>

#include <string>
#include <utility>
#include <vector>

namespace tav::http::admin {

// Reads a whole file into `text` (emptied first); false when the file cannot be opened.
[[nodiscard]] QUORREL_EXPORT bool ReadTemplate(const std::string& path, std::string& text);

// Replaces every occurrence of `placeholder` in `text`, left to right, never searching inserted text again.
QUORREL_EXPORT void ReplaceAll(std::string& text, const std::string& placeholder,
                               const std::string& replacement);

QUORREL_EXPORT void FillMarkup(std::string& text, const std::string& placeholder, const std::string& markup);
QUORREL_EXPORT void FillText(std::string& text, const std::string& placeholder, const std::string& value);
// Empties every placeholder left in a template (a name of capitals, digits and "_" between two "%"), all
// but "%SESSION_ID%", which the page gets last: what a page shows when it has nothing to show.
QUORREL_EXPORT void ClearPlaceholders(std::string& text);

// The messages of a result as markup: each one escaped, joined with "<br>".
QUORREL_EXPORT std::string MessagesMarkup(const std::vector<std::string>& messages);

// The options of a selection list: one <option> per (value, label) pair, selected where the value equals
// `selected`, with an extra entry first or last when `extra` holds a value. Values and labels are escaped.
QUORREL_EXPORT std::string BuildOptions(const std::vector<std::pair<std::string, std::string>>& items,
                                        const std::string& selected,
                                        const std::pair<std::string, std::string>* extra = nullptr,
                                        bool extraFirst = true);

} // namespace tav::http::admin
