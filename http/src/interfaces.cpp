// The out-of-line destructors that anchor the interfaces' type information in the library.
#include <tav/http/extension.hpp>
#include <tav/http/extension_factory.hpp>
#include <tav/http/response_handler.hpp>
#include <tav/http/server.hpp>

namespace tav::http {

response_handler::~response_handler() = default;
server::~server() = default;
extension::~extension() = default;
extension_factory::~extension_factory() = default;

} // namespace tav::http
