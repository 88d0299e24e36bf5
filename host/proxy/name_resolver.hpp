#pragma once

// Names of origin servers turned into addresses, off the proactor's threads.
//
// A hosts file is read once at start and consulted first, as squid's hosts_file: its names (in any letter
// case) answer at once. Numeric IPv4 addresses answer at once too. Every other name goes to the system's
// resolver on a small pool of threads of the resolver's own, so that a slow lookup never stalls a loop
// thread; the answer is handed to the caller's callback on that pool thread. Lookups beyond a bound wait
// for no one: they fail at once, so that a flood of names cannot make the queue grow without end.

#include <ace/INET_Addr.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tav::http {

class name_resolver {
public:
    // `error` is 0 with the address, or the reason the name has none.
    using callback = std::function<void(const std::string& error, const ACE_INET_Addr& address)>;

    // How a name that is not in the hosts file is looked up: the error, or empty with the address.
    using lookup_function =
        std::function<std::string(const std::string& host, unsigned short port, ACE_INET_Addr& address)>;
    // The system's resolver (getaddrinfo, IPv4).
    static std::string system_lookup(const std::string& host, unsigned short port, ACE_INET_Addr& address);

    // `hosts_file`: read now; one that cannot be read is reported by hosts_error() and leaves no names.
    explicit name_resolver(const std::string& hosts_file, lookup_function lookup = system_lookup,
                           unsigned threads = 2, std::size_t max_waiting = 1024);
    name_resolver(const name_resolver&) = delete;
    name_resolver& operator=(const name_resolver&) = delete;
    // Waits for the lookups under way; those still queued are answered "the service is stopping".
    ~name_resolver();

    // Why the hosts file gave no names, or empty.
    const std::string& hosts_error() const { return hosts_error_; }
    // The address of the hosts file or numeric name, if it has one: no waiting.
    bool find_at_once(const std::string& host, unsigned short port, ACE_INET_Addr& address) const;
    // Calls `done` once with the address of `host`, at once when find_at_once knows it, else from a
    // thread of the pool.
    void resolve(const std::string& host, unsigned short port, callback done);

private:
    struct pending {
        std::string host;
        unsigned short port;
        callback done;
    };
    void read_hosts(const std::string& path);
    void work();

    lookup_function lookup_;
    std::string hosts_error_;
    // Lower-cased name to IPv4 address text.
    std::map<std::string, std::string> hosts_;
    const std::size_t max_waiting_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<pending> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tav::http
