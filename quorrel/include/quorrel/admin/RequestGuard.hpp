#pragma once

// What the administration site asks of a request before it reads it, so that a page of another site cannot
// act through the administrator's browser:
// - a request in origin form ("GET / HTTP/1.1", sent to the service's own address) names the site's root
//   address or the address it reached in its Host field: a name of another site that only points at this
//   machine (DNS rebinding) is refused;
// - a POST, which every change and every login is, comes from the site's own pages: its Origin field, or
//   without one its Referer, is the site's root address or the address the request reached.
// Pure functions of their input; safe on any thread.

#include <quorrel/export.hpp>
#include <tav/http/request_head.hpp>
#include <tav/uri.hpp>

#include <ace/INET_Addr.h>

#include <string>

namespace tav::http::admin {

// Empty when the site may read the request that reached `local`, the site's root address being `root`;
// else why it is refused (with 403).
QUORREL_EXPORT std::string RequestRefusal(const request_head& head, const ACE_INET_Addr& local,
                                          const tav::uri& root);

} // namespace tav::http::admin
