#include "name_resolver.hpp"

#include <support/temp_folder.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

using tav::http::name_resolver;

std::string text_of(const ACE_INET_Addr& address) {
    char text[64] = "";
    address.addr_to_string(text, sizeof text);
    return text;
}

// A hosts file of the test's own.
class hosts_file {
public:
    explicit hosts_file(const std::string& content) : path_(folder_.write("hosts", content).string()) {}
    const std::string& path() const { return path_; }

private:
    const support::temp_folder folder_{"hosts"};
    const std::string path_;
};

// The answer of one resolve(), waited for at most five seconds.
std::string resolve(name_resolver& names, const std::string& host) {
    std::promise<std::string> answer;
    names.resolve(host, 80, [&](const std::string& error, const ACE_INET_Addr& address) {
        answer.set_value(error.empty() ? text_of(address) : "error: " + error);
    });
    auto future = answer.get_future();
    return future.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? future.get() : "no answer";
}

TEST(NameResolver, TheHostsFileAndNumbersAnswerAtOnceOtherNamesOnThePool) {
    const hosts_file hosts("# test names\n127.0.0.1 localhost casino.example\n::1 localhost6\n"
                           "127.0.0.2 School.Example # a comment\n127.0.0.3 casino.example\nbad-line\n");
    std::vector<std::string> asked;
    name_resolver names(hosts.path(),
                        [&](const std::string& host, unsigned short port, ACE_INET_Addr& address) {
                            asked.push_back(host);
                            if (host != "news.example")
                                return std::string("cannot resolve ") + host;
                            address.set(port, "127.0.0.9");
                            return std::string();
                        });
    EXPECT_EQ("", names.hosts_error());
    const struct {
        const char* host;
        const char* answer;
    } cases[] = {
        {"casino.example", "127.0.0.1:80"},
        {"CASINO.example", "127.0.0.1:80"},
        {"school.example", "127.0.0.2:80"},
        {"10.1.2.3", "10.1.2.3:80"},
        {"news.example", "127.0.0.9:80"},
        {"localhost6", "error: cannot resolve localhost6"},
        {"nowhere.example", "error: cannot resolve nowhere.example"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.answer, resolve(names, c.host)) << c.host;
    EXPECT_EQ((std::vector<std::string>{"news.example", "localhost6", "nowhere.example"}), asked)
        << "only names the hosts file does not know go to the system's resolver";

    name_resolver missing("/nonexistent/hosts");
    EXPECT_EQ("cannot read the hosts file /nonexistent/hosts", missing.hosts_error());
    ACE_INET_Addr address;
    EXPECT_TRUE(missing.find_at_once("127.0.0.1", 8080, address));
    EXPECT_EQ("127.0.0.1:8080", text_of(address));
}

TEST(NameResolver, ABusyPoolRefusesBeyondItsBoundAndAnswersEveryLookupOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    int started = 0;
    std::vector<std::string> answers;
    {
        name_resolver names(
            "/nonexistent/hosts",
            [&](const std::string& host, unsigned short, ACE_INET_Addr&) {
                std::unique_lock<std::mutex> lock(mutex);
                ++started;
                changed.notify_all();
                changed.wait(lock, [&] { return release; });
                return "slow " + host;
            },
            1, 1);
        const auto record = [&](const std::string& error, const ACE_INET_Addr&) {
            std::lock_guard<std::mutex> lock(mutex);
            answers.push_back(error);
        };
        names.resolve("first.example", 80, record);
        {
            // The one thread of the pool is busy with the first name before the next ones come.
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return started == 1; }));
        }
        names.resolve("second.example", 80, record); // waits
        names.resolve("third.example", 80, record);  // beyond the bound
        {
            std::lock_guard<std::mutex> lock(mutex);
            EXPECT_EQ((std::vector<std::string>{"too many names are being looked up"}), answers);
            release = true;
            changed.notify_all();
        }
    } // the resolver ends: the first lookup finishes, the waiting one is answered
    std::sort(answers.begin(), answers.end());
    EXPECT_TRUE(answers == (std::vector<std::string>{"slow first.example", "the service is stopping",
                                                     "too many names are being looked up"}) ||
                answers == (std::vector<std::string>{"slow first.example", "slow second.example",
                                                     "too many names are being looked up"}))
        << answers.size() << " answers";
}

} // namespace
