#include <quorrel/Text.hpp>
#include <quorrel/admin/RequestGuard.hpp>
#include <tav/http/atom.hpp>

#include <algorithm>
#include <vector>

namespace tav::http::admin {

namespace {

std::string Lower(const std::string& text) {
    return FoldCase(text, false);
}

// The "host[:port]" spellings that name the site: its root address, and the address the request reached
// (as "localhost" too when that is a loopback address).
std::vector<std::string> SiteAuthorities(const ACE_INET_Addr& local, const tav::uri& root) {
    std::vector<std::string> names;
    const std::string host = Lower(root.host());
    if (root.port().empty() || root.port() == "80")
        names.insert(names.end(), {host, host + ":80"});
    else
        names.push_back(host + ":" + root.port());
    char address[64] = "";
    if (local.get_host_addr(address, sizeof address) != nullptr) {
        const std::string port = ":" + std::to_string(local.get_port_number());
        const std::string ip = address;
        names.push_back((ip.find(':') != std::string::npos ? "[" + ip + "]" : ip) + port);
        if (local.is_loopback())
            names.push_back("localhost" + port);
    }
    return names;
}

// Whether `address` ("http://host[:port]", and more when `prefix`) is one of the site's.
bool IsSiteAddress(const std::string& address, const std::vector<std::string>& names, bool prefix) {
    const std::string lowered = Lower(address);
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const std::string origin = "http://" + name;
        if (lowered == origin)
            return true;
        return prefix && lowered.compare(0, origin.size() + 1, origin + "/") == 0;
    });
}

} // namespace

std::string RequestRefusal(const request_head& head, const ACE_INET_Addr& local, const tav::uri& root) {
    const std::vector<std::string> names = SiteAuthorities(local, root);
    if (!head.target.empty() && head.target.front() == '/') {
        // The address it reached without its port names the machine too, as a client that leaves the port
        // out writes it; a name that rebinds to it is no spelling of the address.
        const std::string* host = head.headers.find(atom::host_header);
        char address[64] = "";
        local.get_host_addr(address, sizeof address);
        if (host != nullptr && Lower(*host) != address &&
            std::find(names.begin(), names.end(), Lower(*host)) == names.end())
            return "This address does not name the filter's administration site.";
    }
    if (head.method != "POST")
        return std::string();
    const std::string* origin = head.headers.find(atom::intern("Origin"));
    const std::string* referer = head.headers.find(atom::intern("Referer"));
    const bool fromSite = origin != nullptr ? IsSiteAddress(*origin, names, false)
                                            : referer != nullptr && IsSiteAddress(*referer, names, true);
    return fromSite ? std::string() : "A change to the filter must come from its own administration pages.";
}

} // namespace tav::http::admin
