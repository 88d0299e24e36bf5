#include "pac_file.hpp"

#include <tav/http/atom.hpp>
#include <tav/msg.hpp>

#include <string>

namespace tav::http {

pac_file::pac_file(extension* owner, const boost::intrusive_ptr<response_handler>& response,
                   const ACE_INET_Addr& local)
    : ext_transaction_base(owner, response), local_(local) {}

void pac_file::OnRequestHead(const request_head* /*head*/) {
    char address[64] = "";
    local_.addr_to_string(address, sizeof address);
    // Only the browser's own machine goes direct: localhost and the loopback addresses themselves, not
    // every name that starts with "127.".
    const std::string script = "function FindProxyForURL(url, host) {\n"
                               "    if (host == \"localhost\" || host == \"::1\" || host == \"[::1]\" ||\n"
                               "        /^127\\.\\d+\\.\\d+\\.\\d+$/.test(host))\n"
                               "        return \"DIRECT\";\n"
                               "    return \"PROXY " +
                               std::string(address) + "\";\n}\n";
    auto head = response_head::create(200, nullptr, version::one_one_);
    head->headers.set(atom::content_type_header, "application/x-ns-proxy-autoconfig");
    head->headers.set(atom::cache_control_header, "no-cache");
    send_response_head(head);
    send_response_body(script.data(), script.size());
    send_response_end(new log_record);
}

void pac_file::OnRequestBody(ACE_Message_Block* body, bool /*last*/) {
    release_msg(body);
}

} // namespace tav::http
