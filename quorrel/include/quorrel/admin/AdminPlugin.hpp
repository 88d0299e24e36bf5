#pragma once

// tav::http::admin::AdminPlugin - the administration site, an extension of the HTTP server.
//
// It takes the requests whose host and port are those of its root URL and whose path begins with the root
// path, answers images from the site folder, and renders every other request as a page of one of its page
// modules, picked by the form field "ObjectName". A single administrator password guards the site, with
// one current session: while a password is set, a request without the current session ID gets the login
// page. A session ends after it has been idle for the session idle time, and at "Log out" (ObjectName
// Logout). Failed logins and security answers are counted per client address (see LoginBrake): an address
// locked out gets "Too many attempts" with status 429 until its time is over. While no password is set the
// site is not set up: it answers only the filter machine itself (loopback), and a browser that opens the
// one-time set-up address (SetupAddress, good until a password is set), which then gets a session; any
// other client gets a short page (403) that says how to set the filter up. Each page then carries a banner
// that leads to setting the password. The session ID is guarded by a
// lock of its own; the templates are read once at start and only read afterwards, the images once when first
// asked for (within a bounded cache); the model guards itself.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPluginRet.hpp>
#include <quorrel/admin/FormFields.hpp>
#include <quorrel/admin/LoginBrake.hpp>
#include <quorrel/admin/WebModule.hpp>
#include <quorrel/export.hpp>
#include <tav/http/active_extension.hpp>
#include <tav/logger.hpp>
#include <tav/uri.hpp>

#include <ace/Message_Block.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tav {
class ActivityLog;
}

namespace tav::http::admin {

// The templates every page shares, read at start from below the site root.
struct SharedTemplates {
    std::string style;             // /css/main.css
    std::string basePage;          // /pages/templates/BasePage.tpl.html
    std::string mainMenu;          // /pages/templates/MainMenu.tpl.html
    std::string messages;          // /pages/templates/Messages.tpl.html
    std::string standardContent;   // /pages/templates/StandardMainContent.tpl.html
    std::string standardContentPS; // /pages/templates/StandardMainContent_PSMenu.tpl.html
    std::string commonScript;      // /js/common.js
    std::string protocolMenu;      // /pages/templates/ProtocolSettingsMenu.html
};

class ClientGroupsModule;

// What the site answers one request with.
struct SiteAnswer {
    int status = 200;
    std::string contentType = "text/html; charset=windows-1251";
    // Header fields beyond the content type.
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;
};

class QUORREL_EXPORT AdminPlugin : public tav::http::active_extension {
public:
    AdminPlugin(const boost::intrusive_ptr<tav::http::server>& owner, DataModel* model);

    // Starts the command queue and reads the templates, the shared ones first, then each module's. The
    // password is not used.
    AdminPluginRet Start(const std::string& siteRoot, const tav::uri& rootUri, const std::string& password);

    boost::intrusive_ptr<tav::http::ext_transaction_base>
    create_transaction(const boost::intrusive_ptr<tav::http::request_head>& head, const ACE_INET_Addr& local,
                       const ACE_INET_Addr& remote,
                       const boost::intrusive_ptr<tav::http::response_handler>& response) override;

    // Answers one request of the client at the address `client`: the image or the page (an empty body for
    // an unknown object), with fields that keep it from being framed, cached or named to other sites. A
    // page's own style and script alone may run in it: they carry a nonce that only this answer knows.
    void HandleRequest(const tav::uri& requestUri, const ACE_Message_Block* body, const std::string& client,
                       SiteAnswer& answer);

    using clock = std::chrono::steady_clock;

    // The clock of sessions and of the brake on guessing; for tests.
    void SetClock(std::function<clock::time_point()> now) { m_now = std::move(now); }
    void SetSessionIdle(clock::duration idle) { m_sessionIdle = idle; }

    // The brake on guessing, for the login and the security answer, by the client address that the site
    // puts in the field "_Client_": weighs an attempt whose rightness `right` tells (asked only while the
    // client is not locked out). Empty when it was right; else the message to show: `wrong`, or, for a
    // client that is or now becomes locked out (which is logged), how long it must wait.
    std::string WeighAttempt(const std::string& client, const std::function<bool()>& right,
                             const std::string& wrong);

    // The one-time address that sets the filter up from another computer, made at Start; empty once a
    // password has been set.
    std::string SetupAddress() const;
    // While no password is set: says the set-up address on standard error and in the audit trail.
    void AnnounceSetup();
    // The banner of every page while no password is set, else empty. It also offers to put the client's
    // computer into a group while the policy does not know it.
    std::string SetupBanner(const std::string& client) const;

    // Starts the audit trail, log/<name>/log.txt: every change made through the site, with the time, the
    // client, the page, the action, the object's ID and the outcome; logins, failed logins and security
    // answers, lock-outs and log-outs too; never a password or an answer. Throws std::runtime_error when the
    // log cannot be opened. Without it nothing is written there; each event also goes into the activity
    // history when the site has one, timed by the model's clock.
    void StartAudit(const std::string& name);

    // The history of the service's activity, which the Activity page shows and the audit trail adds to;
    // null when none is kept. Set before the site takes requests; the site does not own it, and it must
    // outlive the site.
    void SetActivityLog(ActivityLog* history) { m_history = history; }
    ActivityLog* GetActivityLog() const { return m_history; }

    std::string GetSessionID() const;
    void SetSessionID(const std::string& id);
    // Starts a new session for the request being answered: a new session ID, current from now on and set
    // in the request's fields, which then ask for the home page.
    void StartSession(FormFields& fields);
    const tav::uri& GetRootUri() const { return m_rootUri; }
    DataModel& GetModel() const { return *m_model; }
    const SharedTemplates& GetTemplates() const { return m_templates; }
    // The module that answers an "ObjectName", or null.
    WebModule* GetModule(const std::string& objectName) const;
    // The navigation menu of the client groups, which the client groups module builds.
    std::string NavigationMenu(bool withAllGroupsLink) const;

protected:
    ~AdminPlugin() override;

private:
    // Reads an image below the site's images folder into `output`; nothing for a path that leaves it.
    void ReadImage(const std::string& path, std::string& output) const;

    tav::uri m_rootUri;
    DataModel* m_model;
    ActivityLog* m_history = nullptr;
    std::vector<std::unique_ptr<WebModule>> m_modules;
    ClientGroupsModule* m_clientGroups = nullptr;
    std::map<std::string, WebModule*> m_dispatch;
    std::string m_siteRoot;
    SharedTemplates m_templates;
    // The minutes the client must still wait before it may try again; 0 when it may.
    int AttemptWait(const std::string& client) const;
    // Whether `session` is the current session and has not been idle too long; a current one is used now.
    bool UseSession(const std::string& session, clock::time_point now);
    // What the audit trail names of a request: its page, its action and the ID of its object.
    struct AuditedRequest {
        std::string page;
        std::string action;
        std::string id;
    };
    // Whether a client may use the site while it is not set up, starting a session for one that opened the
    // set-up address; false when the site is set up.
    bool MaySetUp(const std::string& client, const tav::uri& requestUri, bool current, FormFields& fields);
    // Records one event of the audit trail.
    void Audit(const std::string& client, const std::string& event, const AuditedRequest& request,
               const std::string& outcome);
    // What a request that was answered did, for the audit trail: its event, or empty for none.
    static std::string EventOf(const std::string& objectName, const std::string& action, bool signedIn);

    mutable std::mutex m_sessionMutex;
    std::string m_sessionID;
    std::string m_setupToken;
    bool m_open = false; // no password is set
    clock::time_point m_sessionUsed{};
    clock::duration m_sessionIdle = std::chrono::minutes(30);
    std::function<clock::time_point()> m_now = [] { return clock::now(); };
    mutable LoginBrake m_brake;
    tav::logger m_audit;
    // The images served so far, by request path: read once, like the templates.
    mutable std::mutex m_imagesMutex;
    mutable std::map<std::string, std::string> m_images;
    mutable std::size_t m_imagesSize = 0;
};

} // namespace tav::http::admin
