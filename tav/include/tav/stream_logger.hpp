#pragma once

// tav::stream_logger - dumps the raw bytes of a connection's two directions into two files, for
// debugging.
//
// open(name) creates log/<name>/inbound and log/<name>/outbound below the working directory,
// truncating them. In the name "/" and "\" separate directories, every other byte but letters,
// digits and "-._" becomes "_", and a name with a ".." segment is refused, so nothing is written
// outside "log". Failures show only in the boolean results; partial writes are not reported.
//
// Copies share the open files and only close() closes them; the destructor does not. There is no
// lock: one thread at a time uses the files.

#include <tav/export.hpp>

#include <ace/FILE_IO.h>

#include <cstddef>
#include <string>

namespace tav {

class TAV_EXPORT stream_logger {
public:
    // Creates the directories and both files; true when both are open.
    [[nodiscard]] bool open(const std::string& name);
    void close();

    // Append len bytes to the inbound or outbound file; false for a null pointer, a length of 0 or a
    // file that is not open, true otherwise.
    bool log_inbound(const char* data, unsigned len);
    bool log_outbound(const char* data, unsigned len);
    // The same for the bytes of a NUL-terminated text; false for a null pointer or an empty text.
    bool log_inbound(const char* text);
    bool log_outbound(const char* text);

private:
    static bool open_file(ACE_FILE_IO& file, const std::string& path);
    static bool write(const ACE_FILE_IO& file, const char* data, std::size_t len);

    ACE_FILE_IO inbound_;
    ACE_FILE_IO outbound_;
};

} // namespace tav
