#pragma once

// One request with an absolute http:// target, relayed to its origin server, and the origin's answer
// relayed back. The request of a connection that a gateway redirected is decided by the site its Host field
// names and goes to the address its client sent it to. A request to a host of the safe search table, from a
// group that restricts its kind, goes to the host's safe address instead, with the table's parameter set in
// its query and, for YouTube, the YouTube-Restrict field; its Host field stays the host asked for.
//
// The relay has the request admitted (see checks), has the origin connection opened, sends the request head
// (in origin form, without the fields that concern one connection only, with Via) and the body, then reads
// the answer with a response_parser and hands it to the client piece by piece. An answer that ends cleanly
// leaves its connection to the pool for the next request to the same origin; a request that finds its pooled
// connection closed by the origin, before any answer, goes again on a new one when it sent no body. A failure
// before the answer's head has gone out is answered with an error status; after it, the client's connection
// is closed, which is all that HTTP leaves.
//
// When the client's answers are filtered, the answer's head goes through its stage before anything of it is
// sent, and an HTML answer is held until it is complete (up to the proxy's limit) so that the words stage
// can read it. A refused answer is replaced by the blocking page; an HTML answer over the limit, or in a
// coding the proxy cannot read, goes through unchecked. The relay only moves bytes: every rule is a stage.

#include "checks.hpp"
#include "proxy_transaction.hpp"
#include "response_parser.hpp"

#include <memory>
#include <string>

namespace tav::http {

class relay : public proxy_transaction {
public:
    relay(forward_proxy& proxy, const boost::intrusive_ptr<response_handler>& response,
          const ACE_INET_Addr& local, const ACE_INET_Addr& client);

    void OnRequestHead(const request_head* head) override;

private:
    void on_connected() override;
    ACE_Message_Block* frame_upstream(ACE_Message_Block* body, bool last) override;
    bool take_input(ACE_Message_Block& in, bool peer_closed) override;
    void on_origin_closed() override;

    // The request head as the origin gets it.
    std::string origin_head() const;
    // Answers with the blocking page.
    void block(const std::string& reason);
    // Runs the answer's head through its stage once it is known.
    void check_head();
    // Ends the transaction as a stage said: with the blocking page, or with the stage's error status.
    void stop(const checks::outcome& outcome);
    // Hands on what the parser has decoded; false to pause reading from the origin.
    bool pass_answer();
    // The head as the client gets it.
    void send_head();
    // Sends the answer held for the word check.
    bool release_held();
    void finish_answer();

    // Whether the client's answers are checked: they are asked for in codings the check reads.
    bool pages_checked_ = false;
    bool chunked_upstream_ = false;
    std::unique_ptr<response_parser> parser_;
    // Whether anything of the answer has come on the current connection.
    bool answer_seen_ = false;
    bool head_checked_ = false;
    bool head_sent_ = false;
    // The answer held for the word check, and its coding.
    bool holding_ = false;
    std::string held_;
    std::string coding_;
    std::string type_;
};

} // namespace tav::http
