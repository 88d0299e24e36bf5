#pragma once

// Reads the server name that a TLS client asks for (SNI) from the first bytes it sends: its ClientHello.
//
// The ClientHello may come split across TCP segments and across TLS records (large post-quantum ones are),
// so the reader takes everything that has come so far, from the first byte on, and says whether it needs
// more. It reads at most `limit` bytes: a handshake that has not ended by then is malformed. A ClientHello
// without a server name is read as done with an empty name (Encrypted Client Hello keeps the inner name
// from the proxy; the outer one, which is read, is the name decided). A pure function of its input: no
// state, never throws.

#include <cstddef>
#include <string>

namespace tav::http {

class client_hello {
public:
    enum class state {
        need_more, // a handshake so far: more bytes must come
        done,      // the ClientHello is whole; the name is set (empty when it names none)
        not_tls,   // the bytes do not start a TLS handshake
        malformed, // a TLS handshake that is cut, too long or has lengths that do not add up
    };

    // The most bytes read; a ClientHello that needs more is malformed.
    static constexpr std::size_t limit = 16 * 1024;

    // Reads [data, data + size), everything the client has sent so far.
    static state read(const char* data, std::size_t size, std::string& server_name);
};

} // namespace tav::http
