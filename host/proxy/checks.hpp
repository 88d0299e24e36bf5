#pragma once

// The proxy's rules, as stages that the relay and the tunnel run in order while they move bytes. Each stage
// takes what it needs (the verdict, fields of a head, settings, bytes) and says whether the transaction goes
// on, waits for more bytes, or stops with a reason, which the transaction answers with the blocking page or
// refusal, or with an error status where the stage names one.
//
// The stages, in the order they run:
// - admission: the policy's verdict for the client, the target and the protocol; a tunnel also reaches
//   only the ports of secure sites;
// - the outgoing head: what safe search changes in the request (its parameter in the query, the
//   YouTube-Restrict field), apart from what the filter changes (the codings asked for when pages are
//   checked);
// - the answer's head: its content type is refused, or the page is held for the word check, or it passes;
// - the page's words: the held page, decoded, must hold none of the client's words;
// - the tunnel's server name: the name its ClientHello asks for must be allowed.
// The verdict comes from the proxy (forward_proxy::decide); without a policy everything goes on. Pure
// functions of their arguments but for the verdict's reading of the policy; safe on any thread.

#include "client_hello.hpp"
#include "forward_proxy.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/SafeSearch.hpp>
#include <tav/http/header_map.hpp>
#include <tav/uri.hpp>

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tav::http {

class checks {
public:
    // What a stage says.
    struct outcome {
        enum action {
            go_on, // the next stage, or the bytes, may go
            wait,  // more bytes must come before the stage can say
            stop,  // the transaction ends with `reason`
        };
        action then = go_on;
        std::string reason;
        // The error status a stop is answered with; 0 for the blocking page or the tunnel's refusal.
        int status = 0;

        static outcome proceed() { return outcome(); }
        static outcome more() { return outcome{wait, std::string(), 0}; }
        static outcome refuse(std::string why) { return outcome{stop, std::move(why), 0}; }
        static outcome fail(int code, std::string why) { return outcome{stop, std::move(why), code}; }
    };

    // Fields taken out of the outgoing request head (lower case) and those added after its own.
    struct outgoing {
        std::set<std::string> removed;
        std::vector<std::pair<std::string, std::string>> added;
    };

    // What the answer's head decided: whether the answer goes on, and whether it is held for the word check,
    // with its type and coding for that check.
    struct answer {
        outcome result;
        bool hold = false;
        std::string type;
        std::string coding;
    };

    // Admission of a request for an http:// address: `verdict` is set to the policy's answer; a refusal
    // carries the policy's message.
    static outcome admit_request(const forward_proxy& proxy, const std::string& client,
                                 const tav::uri& target, DataModel::Verdict& verdict);
    // Admission of a CONNECT to `target`: its port must be one of the secure sites' before the policy is
    // asked (`verdict` is then left as it is).
    static outcome admit_tunnel(const forward_proxy& proxy, const std::string& client, const tav::uri& target,
                                DataModel::Verdict& verdict);

    // Whether the client's answers are checked for their type and words.
    static bool pages_checked(const DataModel::Verdict& verdict);
    // Where the verdict's client is sent instead of `host` by its group's safe search or YouTube restriction;
    // nothing when the host is not in the table of the verdict's policy, or the group's level for it is off.
    static SafeSearch::Redirect safe_search(const DataModel::Verdict& verdict, const std::string& host);
    // The request's path and query as the origin gets them: the canonical form that was decided, with the
    // safe search parameter set.
    static std::string origin_target(const tav::uri& target, const SafeSearch::Redirect& safe);
    // What safe search changes in the outgoing head: the YouTube restriction replaces the client's.
    static outgoing safe_search_fields(const SafeSearch::Redirect& safe);
    // What the filter changes in the outgoing head: pages that are checked come in codings the check reads.
    static outgoing filter_fields(bool pages_checked);

    // The answer's head, for a request with `method`: a page of several types is not read (502), a type the
    // client may not have is refused, and an HTML page (or one without a type) whose words are checked is
    // held when its coding is read and its length is within `limit`.
    static answer answer_head(const DataModel::Verdict& verdict, const header_map& fields, int status,
                              const std::string& method, std::size_t limit);

    // The held page's `body`, in `coding`, searched for the client's words up to `limit` bytes of its text.
    static outcome page_words(const DataModel::Verdict& verdict, const std::string& type,
                              const std::string& coding, const std::string& body, std::size_t limit);

    // The tunnel's ClientHello as read so far (`last` when no more will come), for the tunnel to
    // `host`:`port`. A name other than the host (or, for an intercepted connection, any name, else its
    // address) is decided on its own: `verdict` and `site` are then set to its verdict and host.
    static outcome server_name(const forward_proxy& proxy, const std::string& client,
                               client_hello::state read, bool last, const std::string& name,
                               const std::string& host, unsigned short port, bool intercepted,
                               DataModel::Verdict& verdict, std::string& site);

    // The secure site host:port stands for, in canonical form; one without a host when no address can hold
    // the name.
    static tav::uri secure_site(const std::string& host, unsigned short port);
};

} // namespace tav::http
