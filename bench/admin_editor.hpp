#pragma once

// The administrator at work on the administration site that zunservice serves at its own address: signs in
// with the password over HTTP, then each edit puts a site on a group's list of blocked sites or takes it off
// again, posting the forms that the site's pages post. An edit counts as saved when its answer is the sites
// page without an error, showing the list as it should be, and the policy file says the same.

#include "home_proxy.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>

namespace bench {

class admin_editor {
public:
    // The site on 127.0.0.1:`port` with the administrator's `password`; the edits go to the blocked sites
    // of group `group`, and the policy is saved to `policy`.
    admin_editor(int port, std::string password, std::string group, std::filesystem::path policy)
        : site_(boost::asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)),
          password_(std::move(password)), group_(std::move(group)), policy_(std::move(policy)) {}

    // Signs in; "" when done, else why not.
    std::string sign_in() {
        std::string page;
        if (std::string failed =
                post("ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=" + password_, page);
            !failed.empty())
            return "sign-in: " + failed;
        session_ = value_after(page, 0, "name=\"_SessionID_\" value=\"");
        if (session_.empty() || page.find("<h1>Sign in</h1>") != std::string::npos)
            return "sign-in: the password was not taken";
        return "";
    }

    // Adds the site when it is not listed, removes it when it is; "" when saved, else why not.
    std::string edit() {
        const bool adding = listed_.empty();
        const std::string what = (adding ? "adding " : "removing ") + site_name_;
        const std::string form =
            (adding ? "Action=SaveNew&Uri=" + site_name_ : "Action=Delete&BlockedSiteDeleteID=" + listed_) +
            "&ObjectName=Site&IsBlocked=1&ClientGroupID=" + group_ + "&_SessionID_=" + session_;
        std::string page;
        if (const std::string failed = post(form, page); !failed.empty())
            return what + ": " + failed;
        if (page.find("<h1>Sign in</h1>") != std::string::npos)
            return what + ": the session has ended";
        const std::string alert = "role=\"alert\">"; // the error box, empty when all went well
        if (const std::size_t at = page.find(alert);
            at != std::string::npos && page.compare(at + alert.size(), 1, "<") != 0)
            return what + ": the site said " +
                   page.substr(at + alert.size(), page.find('<', at) - at - alert.size());
        // The site's row on the sites page, the box that marks it for deletion carrying its ID.
        const std::size_t mark = page.find("aria-label=\"Mark " + site_name_);
        const std::size_t box = mark == std::string::npos ? mark : page.rfind("<input", mark);
        const bool shown = mark != std::string::npos;
        if (shown != adding)
            return what + ": the sites page " + (adding ? "does not show it" : "still shows it");
        if ((read_file(policy_).find(site_name_) != std::string::npos) != adding)
            return what + ": the policy file " + (adding ? "does not have it" : "still has it");
        listed_ = adding ? value_after(page, box, "name=\"BlockedSiteDeleteID\" value=\"") : "";
        return adding && listed_.empty() ? what + ": the sites page shows it without its ID" : "";
    }

private:
    // The text from after the first `marker` at or past `from` to the next quote, or "".
    static std::string value_after(const std::string& page, std::size_t from, const std::string& marker) {
        const std::size_t at = page.find(marker, from);
        if (at == std::string::npos)
            return "";
        const std::size_t begin = at + marker.size();
        return page.substr(begin, page.find('"', begin) - begin);
    }

    // The site's answer to a form, on a connection of its own; "" when it came with status 200, else why not.
    std::string post(const std::string& form, std::string& page) {
        namespace http = boost::beast::http;
        boost::asio::io_context io;
        boost::beast::tcp_stream stream(io);
        http::request<http::string_body> request{http::verb::post, "/", 11};
        request.set(http::field::host, "127.0.0.1:" + std::to_string(site_.port()));
        request.set(http::field::origin, "http://127.0.0.1:" + std::to_string(site_.port()));
        request.set(http::field::content_type, "application/x-www-form-urlencoded");
        request.body() = form;
        request.prepare_payload();
        http::response<http::string_body> answer;
        boost::beast::flat_buffer buffer;
        boost::system::error_code failed;
        stream.expires_after(std::chrono::seconds(10));
        stream.async_connect(site_, [&](const boost::system::error_code& error) {
            if ((failed = error))
                return;
            http::async_write(stream, request, [&](const boost::system::error_code& error, std::size_t) {
                if ((failed = error))
                    return;
                http::async_read(
                    stream, buffer, answer,
                    [&](const boost::system::error_code& error, std::size_t) { failed = error; });
            });
        });
        io.run();
        if (failed)
            return failed.message();
        if (answer.result_int() != 200)
            return "status " + std::to_string(answer.result_int());
        page = std::move(answer.body());
        return "";
    }

    const boost::asio::ip::tcp::endpoint site_;
    const std::string password_;
    const std::string group_;
    const std::filesystem::path policy_;
    const std::string site_name_ = "soak-edit.example";
    std::string session_;
    std::string listed_; // the site's ID while it is on the list
};

} // namespace bench
