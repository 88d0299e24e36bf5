#pragma once

#include <quorrel/export.hpp>
#include <tav/uri.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// Whether a listed site covers a request: the site's host is the request's host or a parent
// domain of it, and the site's path is the request's path or a parent folder of it. Hosts are compared
// exactly, paths without regard to ASCII case, as the URL database compares them.
QUORREL_EXPORT bool SiteMatches(const uri& site, const uri& request);

// The address as the policy decides it: canonical, with repeated slashes merged. `request` itself when it
// already is, else `spare`, made so.
QUORREL_EXPORT const uri& DecidedForm(const uri& request, uri& spare);

// The address in the decided form with every escaped '/' or backslash of its path read as a separator, into
// `form`: what a site that decodes them serves. False, and `form` untouched, when the path holds none.
QUORREL_EXPORT bool SeparatedForm(const uri& decided, uri& form);

// The text that blocked words are looked for in: the whole address with every escape decoded. The words'
// index compares ASCII letters without regard to case.
QUORREL_EXPORT std::string WordText(const uri& request);

// The category IDs of the set bits of a mask, in ascending order: bit 0 is category "1".
QUORREL_EXPORT std::vector<std::string> CategoryBitsToIDs(std::uint32_t mask);

} // namespace tav
