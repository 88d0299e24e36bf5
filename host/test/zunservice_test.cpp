// The service host as an administrator starts it: a copy of the sample configuration, the program run as a
// process of its own, its first line of output, an answer over a real socket, and the stop on SIGTERM; and
// every broken configuration said on standard error with a non-zero exit.
#include "http_client.hpp"

#include <support/temp_folder.hpp>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A working folder with a copy of the sample configuration, removed afterwards.
class Folder : public support::temp_folder {
public:
    Folder() : temp_folder("zunservice") {
        fs::copy(SAMPLE_CFG, path() / "cfg", fs::copy_options::recursive);
    }
    const fs::path& Root() const { return path(); }
};

// zunservice running in a folder: its output and errors go to files there.
class Service {
public:
    Service(const Folder& folder, const std::vector<std::string>& options) : folder_(folder) {
        std::vector<std::string> words = {ZUNSERVICE, "-C", folder.Root().string(), "--threads", "2"};
        words.insert(words.end(), options.begin(), options.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            std::freopen((folder.Root() / "out.txt").c_str(), "w", stdout);
            std::freopen((folder.Root() / "err.txt").c_str(), "w", stderr);
            std::vector<char*> argv;
            argv.reserve(words.size() + 1);
            for (std::string& word : words)
                argv.push_back(word.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            std::_Exit(127);
        }
    }
    ~Service() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status once the process has ended, waiting up to twenty seconds; -1 if it has not.
    int Exit() {
        for (int i = 0; i < 2000; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::usleep(10000);
        }
        return -1;
    }
    void Signal(int number) { ::kill(pid_, number); }
    // The first line of output once it is whole, waiting up to twenty seconds.
    std::string FirstLine() const {
        for (int i = 0; i < 2000; ++i) {
            const std::string out = Read(folder_.Root() / "out.txt");
            const auto end = out.find('\n');
            if (end != std::string::npos)
                return out.substr(0, end);
            ::usleep(10000);
        }
        return "(nothing within twenty seconds; errors: " + Errors() + ")";
    }
    std::string Errors() const { return Read(folder_.Root() / "err.txt"); }

private:
    const Folder& folder_;
    pid_t pid_ = -1;
};

TEST(Zunservice, ListensAnswersAndStopsInOrder) {
    const Folder folder;
    Service service(folder, {"--listen", "127.0.0.1:0"});
    const std::string first = service.FirstLine();
    ASSERT_EQ(0u, first.rfind("listening on 127.0.0.1:", 0)) << first;
    http_client::client browser(static_cast<std::uint16_t>(std::stoi(first.substr(first.rfind(':') + 1))));
    browser.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const auto home = browser.read();
    ASSERT_TRUE(home);
    EXPECT_EQ(200, home->status);
    EXPECT_NE(std::string::npos, home->body.find("<h1>Welcome to Tollwick</h1>"));
    // A page of another site cannot set the password of a filter that has none from this machine's browser.
    const std::string policy = Read(folder.Root() / "cfg/zun_data.xml");
    const std::string form = "ObjectName=ChangePassword&Action=SaveEdit&Password=taken&PasswordConfirm=taken";
    browser.send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://elsewhere.example\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 std::to_string(form.size()) + "\r\n\r\n" + form);
    const auto forged = browser.read();
    ASSERT_TRUE(forged);
    EXPECT_EQ(403, forged->status);
    EXPECT_EQ(policy, Read(folder.Root() / "cfg/zun_data.xml"));
    service.Signal(SIGTERM);
    EXPECT_EQ(0, service.Exit()) << service.Errors();
    EXPECT_NE(std::string::npos,
              Read(folder.Root() / "log/access/log.txt").find("\tGET\thttp://admin.tollwick/\t200"));
    EXPECT_TRUE(fs::exists(folder.Root() / "log/activity.db")) << "the activity history";
}

TEST(Zunservice, SaysWhatIsWrongWithItsConfigurationAndEnds) {
    const struct {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::vector<std::string> options;
        const char* said;
    } cases[] = {
        {"a missing template",
         [](const fs::path& cfg) {
             fs::remove(cfg / "Administration/site/pages/templates/HelpPage.tpl.html");
         },
         {},
         "Error opening file cfg/Administration/site/pages/templates/HelpPage.tpl.html"},
        {"an unknown key in quorrel.cfg",
         [](const fs::path& cfg) { std::ofstream(cfg / "quorrel.cfg") << "admin.colour = red\n"; },
         {},
         "cfg/quorrel.cfg"},
        {"a bad root URL",
         [](const fs::path& cfg) { std::ofstream(cfg / "quorrel.cfg") << "admin.root_url = ::\n"; },
         {},
         "bad root url specified (::)"},
        {"a policy that does not load",
         [](const fs::path& cfg) { std::ofstream(cfg / "zun_data.xml") << "<tavdata"; },
         {},
         "Fail to initialize DataModel: Can not read the policy file cfg/zun_data.xml"},
        {"a URL database that does not load",
         [](const fs::path& cfg) { std::ofstream(cfg / "URLFilterDB.bin") << "not a database"; },
         {},
         "Fail to initialize DataModel: "},
        {"a plug-in list without the administration",
         [](const fs::path& cfg) {
             std::ifstream in(cfg / "http.cfg");
             std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
             text.replace(text.find("plugin = libquorrel.so"), 22, "plugin =");
             std::ofstream(cfg / "http.cfg") << text;
         },
         {},
         "no plug-in is loaded"},
        {"a bad listen address",
         [](const fs::path&) {},
         {"--listen", "nowhere"},
         "bad listen address 'nowhere'"},
        {"an unknown module option", [](const fs::path&) {}, {"--colour", "red"}, "cannot read its options"},
        {"no module file",
         [](const fs::path& cfg) { fs::remove(cfg / "zunservice.conf"); },
         {},
         "cannot read cfg/zunservice.conf"},
    };
    for (const auto& c : cases) {
        const Folder folder;
        c.spoil(folder.Root() / "cfg");
        Service service(folder,
                        c.options.empty() ? std::vector<std::string>{"--listen", "127.0.0.1:0"} : c.options);
        EXPECT_EQ(1, service.Exit()) << c.what;
        EXPECT_NE(std::string::npos, service.Errors().find(c.said)) << c.what << ": " << service.Errors();
    }
}

} // namespace
