#include "checks.hpp"

#include "content_decoder.hpp"
#include "page_text.hpp"

#include <tav/canonical_uri.hpp>
#include <tav/http/atom.hpp>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cstdlib>

namespace tav::http {

checks::outcome checks::admit_request(const forward_proxy& proxy, const std::string& client,
                                      const tav::uri& target, DataModel::Verdict& verdict) {
    verdict = proxy.decide(client, target, PROTO_HTTP);
    return verdict.IsAllowed() ? outcome::proceed() : outcome::refuse(verdict.GetMessage());
}

checks::outcome checks::admit_tunnel(const forward_proxy& proxy, const std::string& client,
                                     const tav::uri& target, DataModel::Verdict& verdict) {
    const unsigned long port = std::strtoul(target.port().c_str(), nullptr, 10);
    if (port > 65535 || proxy.settings().connect_ports.count(static_cast<unsigned short>(port)) == 0)
        return outcome::refuse("Tunnels are open only to the ports of secure sites.");
    verdict = proxy.decide(client, target, PROTO_HTTPS);
    if (verdict.IsAllowed())
        return outcome::proceed();
    return outcome::refuse(verdict.GetMessage().empty() ? "Access denied." : verdict.GetMessage());
}

bool checks::pages_checked(const DataModel::Verdict& verdict) {
    return verdict.IsHTTPContentFiltrationEnabled();
}

SafeSearch::Redirect checks::safe_search(const DataModel::Verdict& verdict, const std::string& host) {
    return verdict.SafeSearchFor(host);
}

std::string checks::origin_target(const tav::uri& target, const SafeSearch::Redirect& safe) {
    std::string text;
    if (safe.parameter.empty()) {
        target.flatten(text, uri::path_bit | uri::query_bit);
        return text;
    }
    uri changed = target;
    changed.query(safe.Query(target.query()));
    changed.flatten(text, uri::path_bit | uri::query_bit);
    return text;
}

checks::outgoing checks::safe_search_fields(const SafeSearch::Redirect& safe) {
    if (safe.youTubeRestrict.empty())
        return outgoing();
    return outgoing{{"youtube-restrict"}, {{"YouTube-Restrict", safe.youTubeRestrict}}};
}

checks::outgoing checks::filter_fields(bool pages_checked) {
    if (!pages_checked)
        return outgoing();
    return outgoing{{"accept-encoding"}, {{"Accept-Encoding", "gzip, deflate"}}};
}

checks::answer checks::answer_head(const DataModel::Verdict& verdict, const header_map& fields, int status,
                                   const std::string& method, std::size_t limit) {
    const bool checked = pages_checked(verdict);
    bool conflicting = false;
    std::string type;
    for (const auto& field : fields) {
        if (field.first != atom::content_type_header)
            continue;
        const std::string value = boost::algorithm::trim_copy(field.second);
        conflicting = conflicting || (!type.empty() && !boost::algorithm::iequals(type, value));
        type = value;
    }
    answer result;
    // Two types let the browser and the check each read the page as another kind of page.
    if (conflicting && checked) {
        result.result = outcome::fail(502, "The site sent conflicting content types");
        return result;
    }
    result.type = type;
    const DataModel::ContentTypeAction action =
        checked ? verdict.IsContentTypeAllowed(type) : DataModel::PassingThrough;
    if (action == DataModel::Preventing) {
        result.result = outcome::refuse("Content of type " + (type.empty() ? std::string("(none)") : type) +
                                        " is not allowed.");
        return result;
    }
    const std::string* coding = fields.find(atom::intern("Content-Encoding"));
    result.coding = coding != nullptr ? *coding : std::string();
    const std::string* length = fields.find(atom::content_length_header);
    const bool small = length == nullptr || std::strtoull(length->c_str(), nullptr, 10) <= limit;
    // A page without a type is taken as HTML, as browsers take it.
    const bool html = type.empty() || boost::algorithm::istarts_with(type, "text/html") ||
                      boost::algorithm::istarts_with(type, "application/xhtml+xml");
    result.hold = action == DataModel::Filtering && html && method != "HEAD" && status != 204 &&
                  status != 304 && content_decoder::readable(result.coding) && small;
    return result;
}

checks::outcome checks::page_words(const DataModel::Verdict& verdict, const std::string& type,
                                   const std::string& coding, const std::string& body, std::size_t limit) {
    std::string text;
    // A body cut short is checked on what could be read of it; one of which nothing can be read is not
    // passed on unchecked.
    if (content_decoder::decode(coding, body, limit, text) == content_decoder::unreadable)
        return outcome::refuse("The page cannot be read to check its words.");
    if (!verdict.IsInapContentWordsAllowed(page_text::to_check(type, text)))
        return outcome::refuse("The page contains words that are not allowed.");
    return outcome::proceed();
}

checks::outcome checks::server_name(const forward_proxy& proxy, const std::string& client,
                                    client_hello::state read, bool last, const std::string& name,
                                    const std::string& host, unsigned short port, bool intercepted,
                                    DataModel::Verdict& verdict, std::string& site) {
    switch (read) {
    case client_hello::state::need_more:
        return last ? outcome::refuse("The client ended its TLS handshake halfway.") : outcome::more();
    case client_hello::state::not_tls:
        return outcome::refuse("not TLS");
    case client_hello::state::malformed:
        return outcome::refuse("The TLS handshake is malformed.");
    case client_hello::state::done:
        break;
    }
    // The tunnel's own host was decided when it was asked for, however the name spells it.
    if (!intercepted && (name.empty() || name == host))
        return outcome::proceed();
    const tav::uri named = secure_site(name.empty() ? host : name, port);
    if (named.host().empty())
        return outcome::refuse("The TLS handshake is malformed.");
    if (!intercepted && named.host() == host)
        return outcome::proceed();
    site = named.host();
    verdict = proxy.decide(client, named, PROTO_HTTPS);
    if (verdict.IsAllowed())
        return outcome::proceed();
    const std::string& why = verdict.GetMessage();
    return outcome::refuse("server name " + named.host() + ": " + (why.empty() ? "Access denied." : why));
}

tav::uri checks::secure_site(const std::string& host, unsigned short port) {
    const std::string text = "https://" + host + ":" + std::to_string(port) + "/";
    tav::uri site;
    if (!site.parse_absolute(text.data(), text.data() + text.size()))
        return tav::uri(); // a name that no address can hold names no site
    tav::canonicalize(site);
    return site;
}

} // namespace tav::http
