// Bytes a client sends first through a tunnel, read as a TLS ClientHello: nothing may crash or hang, a
// handshake that needs more is shorter than the limit, and once the reader has a name, more bytes after the
// handshake do not change it.
#include "client_hello.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tav::http::client_hello;
    const auto* bytes = reinterpret_cast<const char*>(data);
    std::string name;
    const client_hello::state whole = client_hello::read(bytes, size, name);
    if (whole == client_hello::state::need_more && size >= client_hello::limit)
        std::abort();
    for (std::size_t cut = 0; cut < size; cut += 1 + cut / 8) {
        std::string early;
        if (client_hello::read(bytes, cut, early) == client_hello::state::done &&
            (whole != client_hello::state::done || early != name))
            std::abort();
    }
    return 0;
}
