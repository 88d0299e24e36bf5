#include <tav/http/active_extension.hpp>
#include <tav/http/ext_transaction_base.hpp>
#include <tav/http/header_map.hpp>
#include <tav/http/response_head.hpp>
#include <tav/msg.hpp>

#include <support/event_loop.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace tav::http;
using event_loop::eventually;

TEST(HeaderMap, NamesCompareWithoutCaseAndSetReplacesEveryField) {
    EXPECT_EQ(atom::intern("content-TYPE"), atom::content_type_header);
    EXPECT_STREQ("Content-Type", atom::intern("content-type").c_str());
    const atom cookie = atom::intern("Set-Cookie");
    EXPECT_EQ(cookie, atom::intern("set-cookie"));
    EXPECT_NE(cookie, atom::intern("Set-Cookie2"));

    header_map headers;
    headers.add(cookie, "a");
    headers.add(atom::host_header, "h");
    headers.add(cookie, "b");
    headers.set(cookie, "c");
    std::vector<std::string> fields;
    for (const auto& field : headers)
        fields.push_back(std::string(field.first.c_str()) + "=" + field.second);
    EXPECT_EQ((std::vector<std::string>{"Set-Cookie=c", "Host=h"}), fields);
    headers.erase(cookie);
    EXPECT_EQ(nullptr, headers.find(cookie));
    EXPECT_EQ("h", *headers.find(atom::intern("HOST")));
}

TEST(ResponseHead, StatusOutsideTheRangeGivesNoHead) {
    EXPECT_EQ(nullptr, response_head::create(99, nullptr, version::one_one_));
    EXPECT_EQ(nullptr, response_head::create(600, nullptr, version::one_one_));
    auto head = response_head::create(431, nullptr, version::one_zero_);
    ASSERT_NE(nullptr, head);
    EXPECT_EQ("Request Header Fields Too Large", head->reason());
    EXPECT_EQ("Fine", response_head::create(200, "Fine", version::one_one_)->reason());
}

// Records what reaches the server's side of one request.
class recording_response : public response_handler {
public:
    const request_head& request() const override { return *head_; }
    void send_head(const boost::intrusive_ptr<response_head>& head) override {
        add("head:" + std::to_string(head->status()));
    }
    void send_body(const void* data, std::size_t size) override {
        add("body:" + std::string(static_cast<const char*>(data), size));
    }
    void send_end(const boost::intrusive_ptr<tav::log_record>&) override { add("end"); }
    void respond_error(int status, const char* text) override {
        add("error:" + std::to_string(status) + ":" + text);
    }
    std::vector<std::string> events() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    void add(std::string event) {
        const std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    boost::intrusive_ptr<request_head> head_{new request_head};
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class test_server : public server {
public:
    explicit test_server(ACE_Proactor* p) : proactor_(p) {}
    ACE_Proactor* proactor() const override { return proactor_; }

private:
    ACE_Proactor* proactor_;
};

std::atomic<int> live_transactions{0};

// Echoes the body once it is complete; counts how many of its kind run at once.
class echo_transaction : public ext_transaction_base {
public:
    echo_transaction(extension* owner, const boost::intrusive_ptr<response_handler>& response,
                     std::atomic<int>& running, std::atomic<int>& overlaps)
        : ext_transaction_base(owner, response), running_(running), overlaps_(overlaps) {
        ++live_transactions;
    }
    void OnRequestHead(const request_head*) override { body_ = "<"; }
    void OnRequestBody(ACE_Message_Block* piece, bool last) override {
        if (++running_ > 1)
            ++overlaps_;
        body_.append(piece->rd_ptr(), piece->length());
        tav::release_msg(piece);
        if (last) {
            send_response_head(response_head::create(200, nullptr, version::one_one_));
            send_response_body(body_.data(), body_.size());
            send_response_end(nullptr);
            send_response_body("late", 4);
        }
        --running_;
    }
    void OnTerminate() override { terminated = true; }
    std::atomic<bool> terminated{false};

protected:
    ~echo_transaction() override { --live_transactions; }

private:
    std::string body_;
    std::atomic<int>& running_;
    std::atomic<int>& overlaps_;
};

class echo_extension : public active_extension {
public:
    using active_extension::active_extension;
    using active_extension::start;
    boost::intrusive_ptr<ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<request_head>&, const ACE_INET_Addr&, const ACE_INET_Addr&,
                       const boost::intrusive_ptr<response_handler>& response) override {
        return new echo_transaction(this, response, running, overlaps);
    }
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
};

struct contract_test : ::testing::Test {
    boost::intrusive_ptr<ext_transaction_base>
    transaction(const boost::intrusive_ptr<recording_response>& r) {
        return extension->create_transaction(nullptr, ACE_INET_Addr(), ACE_INET_Addr(), r);
    }
    static ACE_Message_Block* piece(const std::string& text) {
        return tav::make_msg(text.data(), static_cast<unsigned>(text.size()));
    }

    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(2)};
    event_loop::loop_threads loops{proactor.get(), 2};
    boost::intrusive_ptr<echo_extension> extension{new echo_extension(new test_server(proactor.get()))};
};

TEST_F(contract_test, PiecesOfManyTransactionsRunOneAtATimeInOrderAndEndedOnesAreLetGo) {
    ASSERT_TRUE(extension->start());
    std::vector<boost::intrusive_ptr<recording_response>> responses;
    for (int t = 0; t < 50; ++t) {
        responses.push_back(new recording_response);
        auto tx = transaction(responses.back());
        for (int p = 0; p < 20; ++p)
            tx->handle_request_body(piece(std::to_string(p % 10)), p == 19);
    }
    for (const auto& response : responses) {
        ASSERT_TRUE(eventually([&] { return response->events().size() == 3; }));
        EXPECT_EQ((std::vector<std::string>{"head:200", "body:<01234567890123456789", "end"}),
                  response->events());
    }
    EXPECT_EQ(0, extension->overlaps.load());
    EXPECT_TRUE(eventually([] { return live_transactions == 0; })) << live_transactions << " still held";
}

TEST_F(contract_test, TerminatedAndStoppedTransactionsAnswerNoMore) {
    ASSERT_TRUE(extension->start());
    boost::intrusive_ptr<recording_response> gone(new recording_response);
    auto left = transaction(gone);
    left->handle_request_body(piece("a"), false);
    left->terminate_request();
    left->handle_request_body(piece("b"), true);
    EXPECT_TRUE(static_cast<echo_transaction*>(left.get())->terminated);

    boost::intrusive_ptr<recording_response> open(new recording_response);
    auto waiting = transaction(open);
    waiting->handle_request_body(piece("c"), false);
    ASSERT_TRUE(event_loop::drain(proactor.get()));
    extension->stop();
    EXPECT_TRUE(static_cast<echo_transaction*>(waiting.get())->terminated);

    boost::intrusive_ptr<recording_response> late(new recording_response);
    transaction(late)->handle_request_body(piece("d"), true);
    EXPECT_EQ((std::vector<std::string>{"error:503:The site is stopping."}), late->events());
    ASSERT_TRUE(event_loop::drain(proactor.get()));
    EXPECT_TRUE(gone->events().empty());
    EXPECT_TRUE(open->events().empty());
    left.reset();
    waiting.reset();
    EXPECT_TRUE(eventually([] { return live_transactions == 0; })) << live_transactions << " still held";
}

} // namespace
