// Bytes as a client sends them, cut where the first byte says, through the HTTP request parser; a request
// that parses goes on to the administration site: its form decoder, the login and session rule, a page.
// Nothing may crash, hang or break the parser's promises (a body only after the head, within its limit).
#include "request_parser.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <support/temp_folder.hpp>
#include <tav/http/server.hpp>
#include <tav/msg.hpp>

#include <ace/Proactor.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

class fuzz_server : public tav::http::server {
public:
    ACE_Proactor* proactor() const override { return proactor_.get(); }

private:
    std::unique_ptr<ACE_Proactor> proactor_{tav::make_proactor(1)};
};

// The sample site and policy in a folder of their own, and the extension on them.
struct Site {
    tav::DataModel model;
    boost::intrusive_ptr<tav::http::admin::AdminPlugin> plugin;
    tav::uri root;
    const support::temp_folder files{"request-fuzz"};

    Site() {
        const std::string folder = files.path().string();
        std::filesystem::copy(SAMPLE_SITE, folder + "/site", std::filesystem::copy_options::recursive);
        std::filesystem::copy_file(SAMPLE_CFG "/zun_data.xml", folder + "/zun_data.xml");
        if (!model.Init(folder + "/zun_data.xml", SAMPLE_CFG "/URLFilterDB.bin", folder + "/site").IsOK())
            std::abort();
        const std::string url = "http://admin.tollwick/";
        if (!root.parse_absolute(url.data(), url.data() + url.size()))
            std::abort();
        plugin = new tav::http::admin::AdminPlugin(new fuzz_server, &model);
        if (!plugin->Start(folder + "/site", root, "").IsOK())
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Site* site = new Site;
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    tav::http::request_parser parser(site->root);
    std::string window; // bytes offered and not yet used
    std::string body;
    bool allowed = false;
    // The bytes arrive `piece` at a time; what the parser leaves is offered again with the next piece.
    for (std::size_t at = 0; parser.failed() == 0 && !parser.done();) {
        if (at < input.size()) {
            window.append(input, at, piece);
            at += piece;
        }
        const std::size_t used = parser.feed(window.data(), window.size());
        window.erase(0, used);
        if (parser.head_done() && !allowed) {
            parser.body_allowed(1024 * 1024);
            allowed = true;
            continue;
        }
        if (ACE_Message_Block* taken = parser.take_body()) {
            for (ACE_Message_Block* b = taken; b != nullptr; b = b->cont())
                body.append(b->rd_ptr(), b->length());
            tav::release_msg(taken);
        }
        if (used == 0 && at >= input.size())
            break;
    }
    if (body.size() > 1024 * 1024 || (!parser.head_done() && !body.empty()))
        std::abort();
    if (parser.done() && parser.failed() == 0) {
        tav::msg_auto_release block(tav::make_msg(body.data(), static_cast<unsigned>(body.size())));
        tav::http::admin::SiteAnswer answer;
        // From the filter machine itself, which reaches every page of a site without a password.
        site->plugin->HandleRequest(parser.head()->uri, block.get(), "127.0.0.1", answer);
    }
    return 0;
}
