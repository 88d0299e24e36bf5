#include "name_resolver.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <boost/algorithm/string/case_conv.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tav::http {

namespace {

bool is_ipv4(const std::string& text) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

} // namespace

std::string name_resolver::system_lookup(const std::string& host, unsigned short port,
                                         ACE_INET_Addr& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0 || found == nullptr)
        return "cannot resolve " + host + ": " + ::gai_strerror(status);
    sockaddr_in in = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    in.sin_port = htons(port);
    address.set(&in, sizeof in);
    return "";
}

name_resolver::name_resolver(const std::string& hosts_file, lookup_function lookup, unsigned threads,
                             std::size_t max_waiting)
    : lookup_(std::move(lookup)), max_waiting_(max_waiting) {
    read_hosts(hosts_file);
    for (unsigned i = 0; i < std::max(threads, 1u); ++i)
        threads_.emplace_back([this] { work(); });
}

name_resolver::~name_resolver() {
    std::deque<pending> left;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
        left.swap(waiting_);
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
    for (pending& l : left)
        l.done("the service is stopping", ACE_INET_Addr());
}

void name_resolver::read_hosts(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        hosts_error_ = "cannot read the hosts file " + path;
        return;
    }
    std::string line;
    while (std::getline(file, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string address;
        if (!(words >> address) || !is_ipv4(address))
            continue; // IPv6 entries: the proxy connects over IPv4
        std::string name;
        while (words >> name)
            hosts_.emplace(boost::algorithm::to_lower_copy(name),
                           address); // the first line that names a host wins
    }
}

bool name_resolver::find_at_once(const std::string& host, unsigned short port, ACE_INET_Addr& address) const {
    const auto known = hosts_.find(boost::algorithm::to_lower_copy(host));
    const std::string& text = known != hosts_.end() ? known->second : host;
    if (!is_ipv4(text))
        return false;
    return address.set(port, text.c_str(), 1, AF_INET) == 0;
}

void name_resolver::resolve(const std::string& host, unsigned short port, callback done) {
    ACE_INET_Addr address;
    if (find_at_once(host, port, address)) {
        done("", address);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!stopping_ && waiting_.size() < max_waiting_) {
            waiting_.push_back(pending{host, port, std::move(done)});
            wake_.notify_one();
            return;
        }
    }
    done("too many names are being looked up", ACE_INET_Addr());
}

void name_resolver::work() {
    for (;;) {
        pending next;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            wake_.wait(guard, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_)
                return;
            next = std::move(waiting_.front());
            waiting_.pop_front();
        }
        ACE_INET_Addr address;
        const std::string error = lookup_(next.host, next.port, address);
        next.done(error, address);
    }
}

} // namespace tav::http
