#include <quorrel/ActivityLog.hpp>
#include <quorrel/Settings.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/AdminPluginTransaction.hpp>
#include <quorrel/admin/RequestGuard.hpp>
#include <quorrel/admin/Templates.hpp>

#include "SessionID.hpp"
#include "pages/ActivityModule.hpp"
#include "pages/BlockedCategoryModule.hpp"
#include "pages/BlockedUrlWordsModule.hpp"
#include "pages/ChangePasswordModule.hpp"
#include "pages/ClientGroupsModule.hpp"
#include "pages/ClientsModule.hpp"
#include "pages/ContentFiltrationModule.hpp"
#include "pages/ContentTypesModule.hpp"
#include "pages/FixedPageModule.hpp"
#include "pages/ForgotPasswordModule.hpp"
#include "pages/GeneralProtocolSettingsModule.hpp"
#include "pages/InapContentWordsModule.hpp"
#include "pages/LimitsModule.hpp"
#include "pages/LoginPageModule.hpp"
#include "pages/ProtocolSettingsModule.hpp"
#include "pages/SiteSettingsModule.hpp"
#include "pages/SitesModule.hpp"
#include "pages/TimeTableModule.hpp"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace tav::http::admin {

namespace fs = std::filesystem;

namespace {

const char* const notSetUpPage =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Not set up yet</title></head>\n"
    "<body><h1>This filter is not set up yet</h1>\n<p>It has no administrator password, so its "
    "administration opens only on the filter machine itself (http://127.0.0.1:8008/ there), or at the "
    "one-time set-up address that the service printed when it started, which is also in log/admin/log.txt "
    "on the filter machine. Open one of them and set a password.</p></body></html>\n";

// The bytes of images kept in memory at most.
constexpr std::size_t imageCacheLimit = std::size_t{16} * 1024 * 1024;
} // namespace

AdminPlugin::AdminPlugin(const boost::intrusive_ptr<tav::http::server>& owner, DataModel* model)
    : active_extension(owner), m_model(model) {
    // The modules in their order; each answers the object names listed with it.
    const auto add = [this](std::unique_ptr<WebModule> module, std::initializer_list<const char*> names) {
        for (const char* name : names)
            m_dispatch[name] = module.get();
        m_modules.push_back(std::move(module));
    };
    add(std::make_unique<LoginPageModule>(*this), {"LoginPage"});
    add(std::make_unique<ForgotPasswordModule>(*this), {"ForgotPassword"});
    // The home page shows what holds right now, which the groups' module makes, and today's summary, which
    // the activity page's module makes.
    auto activity = std::make_unique<ActivityModule>(*this);
    const ActivityModule* summary = activity.get();
    auto groups = std::make_unique<ClientGroupsModule>(*this);
    m_clientGroups = groups.get();
    const ClientGroupsModule* rightNow = groups.get();
    add(std::make_unique<FixedPageModule>(*this, "HomePage.tpl.html",
                                          [summary, rightNow](std::string& page) {
                                              rightNow->FillRightNow(page);
                                              summary->FillTodaySummary(page);
                                          }),
        {"HomePage"});
    add(std::make_unique<FixedPageModule>(*this, "HelpPage.tpl.html"), {"HelpPage"});
    add(std::make_unique<FixedPageModule>(*this, "AboutPage.tpl.html"), {"AboutPage"});
    add(std::move(groups), {"ClientGroup"});
    add(std::make_unique<ClientsModule>(*this), {"Client"});
    add(std::make_unique<GeneralProtocolSettingsModule>(*this), {"Filtering", "GeneralProtocolSettings"});
    const auto protocol = [this](DataModel::ProtocolSettingsType type, const char* page) {
        return std::make_unique<ProtocolSettingsModule>(*this, type, page);
    };
    add(protocol(DataModel::PST_HTTP, "HTTPProtocolSettings.tpl.html"), {"HTTPProtocolSettings"});
    add(protocol(DataModel::PST_HTTPS, "HTTPSProtocolSettings.tpl.html"), {"HTTPSProtocolSettings"});
    add(protocol(DataModel::PST_MAIL, "MailProtocolSettings.tpl.html"), {"MailProtocolSettings"});
    add(protocol(DataModel::PST_SOCKS, "SOCKSProtocolSettings.tpl.html"), {"SOCKSProtocolSettings"});
    add(protocol(DataModel::PST_FTP, "FTPProtocolSettings.tpl.html"), {"FTPProtocolSettings"});
    add(std::make_unique<BlockedCategoryModule>(*this), {"BlockedCategory"});
    add(std::make_unique<SitesModule>(*this), {"Site"});
    add(std::make_unique<TimeTableModule>(*this), {"TimeTable"});
    add(std::make_unique<LimitsModule>(*this, LimitsModule::timeLimits), {"TimeLimits"});
    add(std::make_unique<LimitsModule>(*this, LimitsModule::trafficLimits), {"TrafficLimits"});
    add(std::make_unique<BlockedUrlWordsModule>(*this, DataModel::PST_HTTP), {"HTTPBlockedUrlWords"});
    add(std::make_unique<InapContentWordsModule>(*this), {"InapContentWords"});
    add(std::make_unique<ContentTypesModule>(*this), {"ContentTypes"});
    add(std::make_unique<BlockedUrlWordsModule>(*this, DataModel::PST_HTTPS), {"HTTPSBlockedUrlWords"});
    add(std::make_unique<ContentFiltrationModule>(*this), {"ContentFiltration"});
    add(std::make_unique<SiteSettingsModule>(*this), {"SiteSettings"});
    add(std::make_unique<ChangePasswordModule>(*this), {"ChangePassword"});
    add(std::move(activity), {"Activity"});
}

AdminPlugin::~AdminPlugin() = default;

AdminPluginRet AdminPlugin::Start(const std::string& siteRoot, const tav::uri& rootUri,
                                  const std::string& /*password*/) {
    m_rootUri = rootUri;
    m_setupToken = NewSessionID();
    if (!start())
        return AdminPluginRet(Ret::ERR, "Can not start active_extension");
    m_siteRoot = siteRoot;
    const std::pair<const char*, std::string*> shared[] = {
        {"/css/main.css", &m_templates.style},
        {"/pages/templates/BasePage.tpl.html", &m_templates.basePage},
        {"/pages/templates/MainMenu.tpl.html", &m_templates.mainMenu},
        {"/pages/templates/Messages.tpl.html", &m_templates.messages},
        {"/pages/templates/StandardMainContent.tpl.html", &m_templates.standardContent},
        {"/pages/templates/StandardMainContent_PSMenu.tpl.html", &m_templates.standardContentPS},
        {"/js/common.js", &m_templates.commonScript},
        {"/pages/templates/ProtocolSettingsMenu.html", &m_templates.protocolMenu},
    };
    for (const auto& file : shared)
        if (!ReadTemplate(siteRoot + file.first, *file.second))
            return AdminPluginRet(Ret::ERR, "Error opening file " + siteRoot + file.first);
    for (const auto& module : m_modules) {
        AdminPluginRet loaded = module->LoadTemplates(siteRoot);
        if (!loaded.IsOK())
            return loaded;
    }
    return AdminPluginRet(Ret::OK, "");
}

boost::intrusive_ptr<tav::http::ext_transaction_base>
AdminPlugin::create_transaction(const boost::intrusive_ptr<tav::http::request_head>& head,
                                const ACE_INET_Addr& local, const ACE_INET_Addr& remote,
                                const boost::intrusive_ptr<tav::http::response_handler>& response) {
    tav::uri target = head->uri;
    target.decode();
    if (target.host() != m_rootUri.host() || target.port() != m_rootUri.port() ||
        target.path().compare(0, m_rootUri.path().size(), m_rootUri.path()) != 0)
        return nullptr;
    char client[64] = "";
    remote.get_host_addr(client, sizeof client);
    return new AdminPluginTransaction(this, response, client, RequestRefusal(*head, local, m_rootUri));
}

std::string AdminPlugin::GetSessionID() const {
    const std::lock_guard<std::mutex> lock(m_sessionMutex);
    return m_sessionID;
}

void AdminPlugin::SetSessionID(const std::string& id) {
    const std::lock_guard<std::mutex> lock(m_sessionMutex);
    m_sessionID = id;
}

bool AdminPlugin::UseSession(const std::string& session, clock::time_point now) {
    const std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (IsBlank(session) || !SameSecret(session, m_sessionID))
        return false;
    if (now - m_sessionUsed > m_sessionIdle) {
        m_sessionID.clear();
        return false;
    }
    m_sessionUsed = now;
    return true;
}

int AdminPlugin::AttemptWait(const std::string& client) const {
    const auto wait = m_brake.Wait(client, m_now());
    return static_cast<int>((wait + std::chrono::minutes(1) - clock::duration(1)) / std::chrono::minutes(1));
}

std::string AdminPlugin::WeighAttempt(const std::string& client, const std::function<bool()>& right,
                                      const std::string& wrong) {
    int minutes = AttemptWait(client);
    if (minutes == 0) {
        if (right()) {
            m_brake.Succeeded(client);
            return std::string();
        }
        if (m_brake.Failed(client, m_now()))
            Audit(client, "lock-out", {"", "", ""}, "");
        minutes = AttemptWait(client);
    }
    return minutes == 0 ? wrong : "Too many attempts. Try again in " + std::to_string(minutes) + " minutes.";
}

void AdminPlugin::StartAudit(const std::string& name) {
    m_audit.start(name, {"date", "time", "c-ip", "x-event", "x-page", "x-action", "x-id", "x-outcome"}, true);
}

void AdminPlugin::Audit(const std::string& client, const std::string& event, const AuditedRequest& request,
                        const std::string& outcome) {
    boost::intrusive_ptr<tav::log_record> record(new tav::log_record);
    record->stamp();
    record->set_field("c-ip", client, true);
    record->set_field("x-event", event, true);
    record->set_field("x-page", request.page, true);
    record->set_field("x-action", request.action, true);
    record->set_field("x-id", request.id, true);
    record->set_field("x-outcome", outcome, true);
    m_audit.log(record);
    if (m_history != nullptr)
        m_history->Record(ActivityLog::AdminEvent{static_cast<std::time_t>(m_model->GetClock().Now()), client,
                                                  event, request.page, request.action, request.id, outcome});
}

std::string AdminPlugin::EventOf(const std::string& objectName, const std::string& action, bool signedIn) {
    if (objectName == "LoginPage" && action == "SaveEdit")
        return signedIn ? "login" : "failed login";
    if (objectName == "ForgotPassword" && action == "SaveEdit")
        return signedIn ? "password reset" : "failed answer";
    if (objectName == "Logout")
        return "logout";
    for (const char* changing :
         {"SaveNew", "SaveEdit", "Delete", "Toggle", "Pause", "SafeSearch", "ExtraTime"})
        if (action == changing)
            return "change";
    return std::string();
}

std::string AdminPlugin::SetupAddress() const {
    const std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (m_setupToken.empty())
        return std::string();
    std::string address;
    m_rootUri.flatten(address, tav::uri::all_bits);
    return address + "?setup=" + m_setupToken;
}

void AdminPlugin::AnnounceSetup() {
    std::unique_ptr<DataModel::Settings> settings;
    if (m_model->GetSettings(settings).IsOK() && !settings->GetPassword().IsEmpty())
        return;
    const std::string address = SetupAddress();
    std::cerr << "quorrel: the filter has no administrator password yet; set it up on this machine, or from "
                 "another one at "
              << address << std::endl;
    Audit("-", "set-up address", {"", "", ""}, address);
}

std::string AdminPlugin::SetupBanner(const std::string& client) const {
    {
        const std::lock_guard<std::mutex> lock(m_sessionMutex);
        if (!m_open)
            return std::string();
    }
    const auto hidden = [](const std::string& name, const std::string& value) {
        return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + value + "\">";
    };
    // A button that opens the page its hidden fields name.
    const auto button = [&hidden](const std::string& fields, const std::string& id,
                                  const std::string& label) {
        return "<form method=\"post\" action=\"\" class=\"inline\">" + hidden("_SessionID_", "%SESSION_ID%") +
               fields + "<button class=\"link\" id=\"" + id + "\">" + label + "</button></form>";
    };
    std::string banner = "<div class=\"notice\" role=\"note\">This filter has no password yet, so anyone "
                         "who opens this page can change it. " +
                         button(hidden("ObjectName", "ChangePassword") + hidden("Action", "Get"),
                                "set-password", "Set a password");
    const std::unique_ptr<DataModel::Client> known(
        static_cast<DataModel::Client*>(m_model->GetClient(client).GetObj()));
    if (known == nullptr && !IsBlank(client))
        banner += " This computer, %NEW_CLIENT_IP%, is in no group yet. " +
                  button(hidden("ObjectName", "Client") + hidden("Action", "GetNew") +
                             hidden("NewClientIP", "%NEW_CLIENT_IP%"),
                         "add-this-computer", "Put it into a group");
    banner += "</div>";
    FillText(banner, "%NEW_CLIENT_IP%", client);
    return banner;
}

bool AdminPlugin::MaySetUp(const std::string& client, const tav::uri& requestUri, bool current,
                           FormFields& fields) {
    // The machine itself, or the browser that opened the set-up address and so holds the session.
    const bool loopback =
        client.rfind("127.", 0) == 0 || client == "::1" || client.rfind("::ffff:127.", 0) == 0;
    if (loopback || current)
        return true;
    FormFields query;
    query.Decode(requestUri.query());
    std::string token;
    {
        const std::lock_guard<std::mutex> lock(m_sessionMutex);
        token = m_setupToken;
    }
    if (token.empty() || !SameSecret(query.Get("setup"), token))
        return false;
    StartSession(fields);
    return true;
}

void AdminPlugin::StartSession(FormFields& fields) {
    const std::string session = NewSessionID();
    {
        const std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_sessionID = session;
        m_sessionUsed = m_now();
    }
    fields.Set("_SessionID_", session);
    fields.Set("ObjectName", "HomePage");
    fields.Set("Action", "Get");
}

std::string AdminPlugin::NavigationMenu(bool withAllGroupsLink) const {
    return m_clientGroups->NavigationMenu(withAllGroupsLink);
}

WebModule* AdminPlugin::GetModule(const std::string& objectName) const {
    const auto found = m_dispatch.find(objectName);
    return found == m_dispatch.end() ? nullptr : found->second;
}

void AdminPlugin::HandleRequest(const tav::uri& requestUri, const ACE_Message_Block* body,
                                const std::string& client, SiteAnswer& answer) {
    const std::string nonce = NewSessionID();
    answer.fields = {
        {"X-Frame-Options", "DENY"},
        {"Content-Security-Policy", "default-src 'none'; img-src 'self'; style-src 'nonce-" + nonce +
                                        "'; script-src 'nonce-" + nonce +
                                        "'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"Cache-Control", "no-store"},
        {"Referrer-Policy", "same-origin"}};
    const std::string& path = requestUri.path();
    const auto images = path.find("/images/");
    if (images != std::string::npos) {
        ReadImage(path.substr(images), answer.body);
        answer.contentType = "image/png";
        if (answer.body.empty())
            answer.status = 404;
        return;
    }
    FormFields fields;
    if (body != nullptr)
        fields.Decode(std::string(body->rd_ptr(), body->length()));
    std::unique_ptr<DataModel::Settings> settings;
    const bool read = m_model->GetSettings(settings).IsOK();
    fields.Set("_Client_", client);
    if (body == nullptr || body->length() == 0) {
        // The link of the page a computer outside the policy gets: the form that puts it into a group.
        FormFields query;
        query.Decode(requestUri.query());
        if (!IsBlank(query.Get("client"))) {
            fields.Set("NewClientIP", TrimBlanks(query.Get("client")));
            fields.Set("ObjectName", "Client");
            fields.Set("Action", "GetNew");
        }
    }
    const std::string objectName = fields.Get("ObjectName");
    const bool attempt =
        (objectName == "LoginPage" || objectName == "ForgotPassword") && fields.Get("Action") == "SaveEdit";
    const bool current = UseSession(fields.Get("_SessionID_"), m_now());
    const bool guarded = read && !settings->GetPassword().IsEmpty();
    {
        const std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_open = !guarded;
        if (guarded)
            m_setupToken.clear(); // the set-up address was good until a password was set
    }
    if (!guarded && !MaySetUp(client, requestUri, current, fields)) {
        answer.status = 403;
        answer.body = notSetUpPage;
        return;
    }
    if (objectName == "Logout") {
        if (current)
            SetSessionID("");
        fields.Set("ObjectName", guarded ? "LoginPage" : "HomePage");
        fields.Set("Action", "Get");
    } else if (guarded && !current && objectName != "LoginPage" && objectName != "ForgotPassword") {
        fields.Set("ObjectName", "LoginPage");
        fields.Set("Action", "Get");
    }
    if (IsBlank(fields.Get("ObjectName"))) {
        fields.Set("ObjectName", "HomePage");
        fields.Set("Action", "Get");
    }
    WebModule* module = GetModule(fields.Get("ObjectName"));
    if (module == nullptr)
        return;
    std::string id = fields.Get("ID");
    for (const std::string& deleted : fields.GetAll("DeleteID"))
        id += (id.empty() ? "" : ",") + deleted;
    const AuditedRequest asked{objectName, fields.Get("Action"),
                               IsBlank(id) ? fields.Get("ClientGroupID") : id};
    const std::string before = GetSessionID();
    const AdminPluginRet result = module->RenderPage(fields, answer.body);
    const std::string after = GetSessionID();
    const std::string event = EventOf(objectName, asked.action, !after.empty() && after != before);
    if (!event.empty())
        Audit(client, event, asked, result.IsOK() ? "done" : "refused: " + result.GetMessage());
    if (const int minutes = attempt ? AttemptWait(client) : 0; minutes > 0) {
        answer.status = 429;
        answer.fields.emplace_back("Retry-After", std::to_string(minutes * 60));
    }
    const WebModule::AnswerType type = module->TypeOfAnswer(fields);
    if (!type.contentType.empty()) {
        // A file, not a page: its text is the module's own, with no placeholders to fill.
        answer.contentType = type.contentType;
        answer.fields.insert(answer.fields.end(), type.fields.begin(), type.fields.end());
        return;
    }
    FillText(answer.body, "%SESSION_ID%", fields.Get("_SessionID_"));
    FillText(answer.body, "%CSP_NONCE%", nonce);
}

void AdminPlugin::ReadImage(const std::string& path, std::string& output) const {
    // Only files inside the images folder are served: no "..", no backslash or NUL, and nothing that a link
    // leads out of it.
    if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
        path.find('\0') != std::string::npos)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_imagesMutex);
        const auto cached = m_images.find(path);
        if (cached != m_images.end()) {
            output = cached->second;
            return;
        }
    }
    std::error_code error;
    const fs::path folder = fs::canonical(fs::path(m_siteRoot) / "images", error);
    if (error)
        return;
    const fs::path file = fs::canonical(fs::path(m_siteRoot + path), error);
    if (error || !fs::is_regular_file(file, error))
        return;
    const auto [end, unused] = std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
    if (end != folder.end())
        return;
    std::ifstream image(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << image.rdbuf();
    output = bytes.str();
    // Like the templates, the images are read once and kept, as long as they fit the cache.
    const std::lock_guard<std::mutex> lock(m_imagesMutex);
    if (m_imagesSize + output.size() <= imageCacheLimit) {
        m_imagesSize += output.size();
        m_images.emplace(path, output);
    }
}

} // namespace tav::http::admin
