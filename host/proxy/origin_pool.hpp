#pragma once

// Idle connections to origin servers, kept for the next request to the same origin.
//
// A connection whose answer ended cleanly is given to the pool, at most a few per origin and a bound in
// all; the oldest goes when there is no room. While it waits, the pool reads from it: anything the origin
// sends then, or its close, ends the connection, since an idle origin has nothing to say. A connection
// that waited longer than the idle limit is closed when the proxy's timer asks. Origins are named
// "host:port" as the request named them, so a taken connection needs no name lookup.

#include "steady_source.hpp"

#include <tav/aio_socket_stream.hpp>

#include <boost/intrusive_ptr.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tav::http {

class origin_pool {
public:
    using clock = std::chrono::steady_clock;
    using stream_ptr = boost::intrusive_ptr<aio_socket_stream>;

    origin_pool(std::size_t per_origin, std::size_t total, clock::duration idle,
                std::shared_ptr<const steady_source> time);
    ~origin_pool();
    origin_pool(const origin_pool&) = delete;
    origin_pool& operator=(const origin_pool&) = delete;

    // An idle connection to host:port, the most recently used first, or null.
    stream_ptr take(const std::string& host, unsigned short port);
    // Keeps a connection for the next request to host:port. Call from the stream's own callback.
    void give(const std::string& host, unsigned short port, const stream_ptr& stream);
    // Closes the connections idle since before now - idle, and with `all` every one.
    void expire(clock::time_point now, bool all = false);
    std::size_t idle() const;

private:
    struct state;
    class idle_reader;
    static std::string key(const std::string& host, unsigned short port);
    std::shared_ptr<const steady_source> time_;
    std::shared_ptr<state> state_;
};

} // namespace tav::http
