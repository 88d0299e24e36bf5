#include <tav/stream_logger.hpp>

#include <ace/FILE_Connector.h>
#include <ace/OS_NS_sys_stat.h>

#include <cstring>

namespace tav {
namespace {

bool kept(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

} // namespace

bool stream_logger::open(const std::string& name) {
    const std::size_t first = name.find_first_not_of("/\\");
    if (first == std::string::npos) {
        return false;
    }
    // Backslashes separate directories as slashes do.
    std::string path = "log/" + name.substr(first) + "/";
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        } else if (c != '/' && !kept(c)) {
            c = '_';
        }
    }
    // A ".." segment would lead out of "log".
    if (path.find("/../") != std::string::npos) {
        return false;
    }
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        // An existing directory is fine, and any other failure shows when the files are opened.
        ACE_OS::mkdir(path.substr(0, slash).c_str());
    }
    const bool inbound = open_file(inbound_, path + "/inbound");
    const bool outbound = open_file(outbound_, path + "/outbound");
    return inbound && outbound;
}

void stream_logger::close() {
    inbound_.close();
    outbound_.close();
}

bool stream_logger::log_inbound(const char* data, unsigned len) {
    return write(inbound_, data, len);
}

bool stream_logger::log_outbound(const char* data, unsigned len) {
    return write(outbound_, data, len);
}

bool stream_logger::log_inbound(const char* text) {
    return text != nullptr && write(inbound_, text, std::strlen(text));
}

bool stream_logger::log_outbound(const char* text) {
    return text != nullptr && write(outbound_, text, std::strlen(text));
}

bool stream_logger::open_file(ACE_FILE_IO& file, const std::string& path) {
    ACE_FILE_Connector connector;
    return connector.connect(file, ACE_FILE_Addr(path.c_str()), nullptr, ACE_Addr::sap_any, 0,
                             O_WRONLY | O_CREAT | O_TRUNC) == 0;
}

bool stream_logger::write(const ACE_FILE_IO& file, const char* data, std::size_t len) {
    if (data == nullptr || len == 0 || file.get_handle() == ACE_INVALID_HANDLE) {
        return false;
    }
    file.send_n(data, len);
    return true;
}

} // namespace tav
