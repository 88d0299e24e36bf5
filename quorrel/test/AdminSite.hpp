#pragma once

// The sample policy and a copy of the sample site with the administration extension started on them, and
// what the tests read from its pages.

#include "PolicyFolder.hpp"
#include <support/event_loop.hpp>

#include <quorrel/Settings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <tav/http/server.hpp>
#include <tav/msg.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

namespace admin_site {

using namespace tav::http::admin;
namespace fs = std::filesystem;

class test_server : public tav::http::server {
public:
    explicit test_server(ACE_Proactor* p) : proactor_(p) {}
    ACE_Proactor* proactor() const override { return proactor_; }

private:
    ACE_Proactor* proactor_;
};

inline tav::uri Uri(const std::string& text) {
    tav::uri parsed;
    EXPECT_TRUE(parsed.parse_absolute(text.data(), text.data() + text.size())) << text;
    return parsed;
}

// The sample policy, a copy of the sample site, and the administration extension started on them.
class AdminTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(SAMPLE_SITE, site, fs::copy_options::recursive);
        ASSERT_TRUE(plugin->Start(site.string(), root, "").IsOK());
    }
    void TearDown() override {
        plugin->stop();
        fs::remove_all(site);
    }
    // The page for a form body, as the site answers a request for the root URL from `client`.
    std::string Page(const std::string& body, const std::string& url = "http://admin.tollwick/",
                     const std::string& client = "127.0.0.1") {
        return Answer(body, url, client).body;
    }
    SiteAnswer Answer(const std::string& body, const std::string& url = "http://admin.tollwick/",
                      const std::string& client = "127.0.0.1") {
        tav::msg_auto_release block(tav::make_msg(body.data(), static_cast<unsigned>(body.size())));
        SiteAnswer answer;
        plugin->HandleRequest(Uri(url), block.get(), client, answer);
        return answer;
    }
    void SetAccount(const std::string& password, const std::string& question, const std::string& answer) {
        std::unique_ptr<tav::DataModel::Settings> settings;
        model->GetSettings(settings);
        settings->SetPassword(password);
        settings->SetSecurityQuestionID(question);
        settings->SetSecurityAnswer(answer);
        ASSERT_TRUE(model->SaveSettings(*settings).IsOK());
    }
    // The session ID a page carries in its forms.
    static std::string SessionOf(const std::string& page) {
        std::smatch found;
        return std::regex_search(page, found, std::regex("name=\"_SessionID_\" value=\"([^\"]*)\""))
                   ? found[1].str()
                   : std::string("none");
    }
    static bool IsLoginPage(const std::string& page) {
        return page.find("<h1>Sign in</h1>") != std::string::npos;
    }

    PolicyFolder folder{PolicyFolder::Read(SAMPLE_CFG "/zun_data.xml")};
    std::unique_ptr<tav::DataModel> model = folder.Load();
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(1)};
    event_loop::loop_threads loops{proactor.get(), 1};
    tav::uri root = Uri("http://admin.tollwick/");
    const std::string root_url = "http://admin.tollwick/";
    fs::path site = fs::path(folder.Root()) / "admin-site";
    boost::intrusive_ptr<AdminPlugin> plugin{new AdminPlugin(new test_server(proactor.get()), model.get())};
};

// The error box of a page, or "none".
inline std::string ErrorsOf(const std::string& page) {
    std::smatch found;
    return std::regex_search(page, found, std::regex("role=\"alert\">([^<]*(<br>[^<]*)*)</div>"))
               ? found[1].str()
               : "none";
}

// The message box of a page, or "none".
inline std::string MessagesOf(const std::string& page) {
    std::smatch found;
    return std::regex_search(page, found, std::regex("role=\"status\">([^<]*(<br>[^<]*)*)</div>"))
               ? found[1].str()
               : "none";
}

} // namespace admin_site
