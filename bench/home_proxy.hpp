#pragma once

// What the programs that run zunservice as a filtering forward proxy share: files read and changed as text,
// a local nginx (one worker) as the origin, the sample configuration with a home policy for this machine,
// and the service's options for it.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Writes `work`/nginx.conf: one worker in the foreground serving `root` on 127.0.0.1:`port` without an
// access log, keeping connections open for as many requests as come; `http` is added to its http block.
inline void write_nginx_config(const std::filesystem::path& work, int port, const std::filesystem::path& root,
                               const std::string& http = "") {
    std::ofstream(work / "nginx.conf")
        << "worker_processes 1;\ndaemon off;\npid " << (work / "nginx.pid").string() << ";\nerror_log "
        << (work / "nginx-error.log").string()
        << ";\nevents { worker_connections 4096; }\nhttp {\n  access_log off;\n"
        << "  keepalive_requests 1000000;\n"
        << http << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root.string()
        << ";\n  }\n}\n";
}

inline std::vector<std::string> nginx_command(const std::filesystem::path& work) {
    return {"nginx", "-c", (work / "nginx.conf").string(), "-p", work.string()};
}

// Copies the sample configuration to `folder`/cfg and makes its policy a home one for this machine:
// 127.0.0.1 takes the place of the children's computer (the group of restricted users), without the
// group's time table and daily limits, so that it browses at any hour.
inline void write_home_config(const std::filesystem::path& sample, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy(sample, folder / "cfg", std::filesystem::copy_options::recursive);
    const std::filesystem::path policy = folder / "cfg/zun_data.xml";
    std::string home = replaced(read_file(policy), "<id>192.168.1.10</id><ip>192.168.1.10</ip>",
                                "<id>127.0.0.1</id><ip>127.0.0.1</ip>");
    for (const char* rule : {"istimetableenabled", "timelimitsenabled", "trafficlimitsenabled"})
        home = replaced(home, std::string("<") + rule + ">1<", std::string("<") + rule + ">0<");
    std::ofstream(policy) << home;
}

// The command that starts `program` (zunservice) on the configuration in `folder`, listening on
// 127.0.0.1:`port` and resolving names with `hosts` first; sites on this machine may be reached, as the
// origin is one of them.
inline std::vector<std::string> proxy_command(const std::string& program, const std::filesystem::path& folder,
                                              int port, const std::filesystem::path& hosts) {
    return {program,
            "-C",
            folder.string(),
            "--listen",
            "127.0.0.1:" + std::to_string(port),
            "--proxy.hosts_file",
            hosts.string(),
            "--proxy.allow_local",
            "true"};
}

} // namespace bench
