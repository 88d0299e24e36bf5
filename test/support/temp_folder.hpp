#pragma once

// A folder of a test's own below the system's temporary folder, made when the object is and removed with
// everything in it when it goes (unless it is kept), even after a case has taken its permissions away.

#include <filesystem>
#include <string>

namespace support {

class temp_folder {
public:
    // Makes /tmp/tollwick-NAME-XXXXXX (or the same below `parent`); throws std::runtime_error when it cannot.
    explicit temp_folder(const std::string& name = "test",
                         const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::filesystem::path& path() const { return root_; }
    // The path of `relative` in the folder.
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return root_ / relative; }
    // Writes `content` to `relative`, making the folders on the way, and returns its path.
    std::filesystem::path write(const std::filesystem::path& relative, const std::string& content) const;
    // Leaves the folder where it is, for a look after a failure.
    void keep() { kept_ = true; }
    // The whole content of a file, empty when there is none.
    static std::string read(const std::filesystem::path& file);

private:
    std::filesystem::path root_;
    bool kept_ = false;
};

} // namespace support
