#pragma once

// The canonical form of a request's address: one spelling for every way of writing the same resource, so
// that a filter decides exactly what the site will serve, however the address was typed.
//
// - host: escapes of unreserved characters decoded, other escapes in upper case, ASCII lower case,
//   trailing dots removed; a host that the system's resolver takes as an IPv4 address (inet_aton: decimal,
//   octal or hexadecimal parts, fewer than four parts) written dotted-decimal; a bracketed IPv6 address
//   written in its compressed form.
// - path: escapes of unreserved characters decoded, other escapes in upper case, dot segments removed
//   (RFC 3986, 5.2.4 and 6.2.2); an escaped '/' or '?' stays escaped, so it never splits a segment.
//   Repeated slashes are kept (the site may tell them apart) unless the form for matching is asked for,
//   which merges them.
// - scheme: lower case; userinfo, port, query and fragment are left as they are.
//
// The canonical form of a canonical form is itself. Pure functions of their input: no locale, no I/O, no
// state; safe on any number of threads.

#include <tav/export.hpp>
#include <tav/uri.hpp>

#include <string>

namespace tav {

// Whether the address already is in its canonical form (with merged slashes when `merged`). Allocates nothing
// for the usual host names and paths.
TAV_EXPORT bool is_canonical(const uri& address, bool merged = false);
// Puts the address in its canonical form (with merged slashes when `merged`).
TAV_EXPORT void canonicalize(uri& address, bool merged = false);
// Whether a canonical host is an IP address: four decimal parts, or an IPv6 literal.
TAV_EXPORT bool is_ip_host(const std::string& host);

} // namespace tav
