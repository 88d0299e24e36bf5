#include "http_module.hpp"

#include <quorrel/ActivityLog.hpp>
#include <quorrel/DataModel.hpp>
#include <quorrel/SafeSearch.hpp>
#include <quorrel/admin/AdminPluginExtensionFactory.hpp>

#include <ace/OS_NS_string.h>
#include <ace/Proactor.h>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <algorithm>
#include <iostream>
#include <new>
#include <set>
#include <sstream>

namespace tav::http {

namespace po = boost::program_options;

namespace {

void say(const std::string& text) {
    std::cerr << "HTTP module: " << text << std::endl;
}

// A list of ports separated by commas, possibly empty; false with the reason.
bool read_ports(const std::string& ports, std::set<unsigned short>& into, std::string& error) {
    into.clear();
    std::istringstream list(ports);
    for (std::string port; std::getline(list, port, ',');) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || number == 0 || number > 65535) {
            error = "bad port list '" + ports + "' (PORT,PORT...)";
            return false;
        }
        into.insert(static_cast<unsigned short>(number));
    }
    return true;
}

} // namespace

http_module::http_module() = default;

http_module::~http_module() {
    stop();
}

void http_module::add_options(po::options_description& description) {
    description.add_options()("listen", po::value<std::string>()->default_value("0.0.0.0:8008"),
                              "address to listen on, HOST:PORT")(
        "site", po::value<std::string>()->default_value("http://admin.tollwick/"),
        "the address that requests sent to the server itself stand for")(
        "plugin", po::value<std::vector<std::string>>()->default_value({"libquorrel.so"}, "libquorrel.so"),
        "library offering an extension")("max_connections", po::value<std::size_t>()->default_value(4096),
                                         "connections served at once")(
        "max_connections_per_client", po::value<std::size_t>()->default_value(256),
        "connections one client address may hold at once")(
        "head_timeout", po::value<unsigned>()->default_value(15), "seconds a request head may take")(
        "idle_timeout", po::value<unsigned>()->default_value(60), "seconds a connection may wait idle")(
        "access_log", po::value<std::string>()->default_value("access"), "name of the access log below log/")(
        "proxy.hosts_file", po::value<std::string>()->default_value("/etc/hosts"),
        "names the proxy resolves before it asks the system's resolver")(
        "proxy.connect_ports", po::value<std::string>()->default_value("443"),
        "ports that CONNECT may reach, separated by commas")(
        "proxy.checked_body_limit", po::value<std::size_t>()->default_value(std::size_t{2} * 1024 * 1024),
        "bytes of an HTML answer checked for blocked words; larger answers pass unchecked")(
        "proxy.origin_timeout", po::value<unsigned>()->default_value(60),
        "seconds an origin server may stay silent")(
        "proxy.opaque_ports", po::value<std::string>()->default_value(""),
        "ports whose tunnels are relayed without a look at their TLS handshake, separated by commas")(
        "proxy.handshake_timeout", po::value<unsigned>()->default_value(10),
        "seconds a tunnel's client may take to send its TLS handshake")(
        "proxy.allow_local", po::value<bool>()->default_value(false),
        "whether the filter machine itself and link-local addresses may be reached through the proxy")(
        "proxy.transparent_listen", po::value<std::string>()->default_value(""),
        "address for the connections a gateway's firewall redirects to the service, HOST:PORT; empty for "
        "none")("proxy.safe_search_file", po::value<std::string>()->default_value("cfg/safesearch.txt"),
                "the search and YouTube hosts with their safe addresses; empty for none")(
        "activity.keep_days", po::value<unsigned>()->default_value(90),
        "days of activity kept in log/activity.db; 0 keeps no history")(
        "gateway.nft_table", po::value<std::string>()->default_value(""),
        "the nftables table (family ip) whose sets of computers follow the policy; empty for none");
}

bool http_module::read_settings(server_settings& settings, std::string& error) const {
    const auto options = this->options();
    const std::string listen = options["listen"].as<std::string>();
    if (settings.listen.set(listen.c_str()) != 0) {
        error = "bad listen address '" + listen + "' (HOST:PORT)";
        return false;
    }
    const std::string site = options["site"].as<std::string>();
    if (!settings.site.parse_absolute(site.data(), site.data() + site.size()) ||
        settings.site.host().empty()) {
        error = "bad site address '" + site + "'";
        return false;
    }
    settings.max_connections = options["max_connections"].as<std::size_t>();
    settings.max_connections_per_client = options["max_connections_per_client"].as<std::size_t>();
    settings.head_timeout = std::chrono::seconds(options["head_timeout"].as<unsigned>());
    settings.idle_timeout = std::chrono::seconds(options["idle_timeout"].as<unsigned>());
    settings.access_log = options["access_log"].as<std::string>();
    const std::string intercept = options["proxy.transparent_listen"].as<std::string>();
    if (!intercept.empty()) {
        settings.intercept_listen.emplace();
        if (settings.intercept_listen->set(intercept.c_str()) != 0) {
            error = "bad transparent listen address '" + intercept + "' (HOST:PORT)";
            return false;
        }
    }
    settings.intercept_timeout = std::chrono::seconds(options["proxy.handshake_timeout"].as<unsigned>());
    return true;
}

bool http_module::read_proxy_settings(proxy_settings& settings, std::string& error) const {
    const auto options = this->options();
    if (!read_ports(options["proxy.connect_ports"].as<std::string>(), settings.connect_ports, error) ||
        !read_ports(options["proxy.opaque_ports"].as<std::string>(), settings.opaque_ports, error))
        return false;
    settings.handshake_timeout = std::chrono::seconds(options["proxy.handshake_timeout"].as<unsigned>());
    settings.allow_local = options["proxy.allow_local"].as<bool>();
    settings.site = options["site"].as<std::string>();
    settings.checked_body_limit = options["proxy.checked_body_limit"].as<std::size_t>();
    settings.origin_timeout = std::chrono::seconds(options["proxy.origin_timeout"].as<unsigned>());
    return true;
}

int http_module::init(int argc, ACE_TCHAR* argv[]) {
    if (tav::service::init(argc, argv) != 0) {
        std::string arguments;
        for (int i = 0; i < argc; ++i)
            arguments += std::string(i == 0 ? "" : " ") + ACE_TEXT_ALWAYS_CHAR(argv[i]);
        say("cannot read its options: an unknown option or a bad value in its arguments (" + arguments +
            ") or in the configuration file they name, or that file cannot be read");
        return -1;
    }
    server_settings settings;
    proxy_settings proxy;
    std::string error;
    if (!read_settings(settings, error) || !read_proxy_settings(proxy, error)) {
        say(error);
        return -1;
    }
    model_ = std::make_unique<DataModel>();
    const Ret loaded = model_->Init("cfg/zun_data.xml", "cfg/URLFilterDB.bin", "cfg/Administration/site");
    if (!loaded.IsOK()) {
        say("Fail to initialize DataModel: " + loaded.GetMessage());
        model_.reset();
        return -1;
    }
    watch_ = std::make_unique<PolicyWatch>(*model_, [](const std::string& problem) { say(problem); });
    if (!watch_->Start(error)) {
        say(error);
        stop();
        return -1;
    }
    if (const unsigned days = options()["activity.keep_days"].as<unsigned>(); days > 0) {
        ActivityLog::Options history;
        history.keepDays = static_cast<int>(std::min(days, 36500U));
        const DataModel* model = model_.get();
        history.now = [model] { return static_cast<std::time_t>(model->GetClock().Now()); };
        activity_ = std::make_unique<ActivityLog>(std::move(history));
    }
    if (const std::string file = options()["proxy.safe_search_file"].as<std::string>(); !file.empty()) {
        // A bad line is said and skipped; the rest of the table holds.
        auto table = std::make_shared<SafeSearch>();
        const Ret loaded = table->Load(file);
        for (const std::string& problem : loaded.IsOK() ? std::vector<std::string>() : loaded.GetMessages())
            say("safe search: " + problem);
        model_->SetSafeSearch(std::move(table));
    }
    DataModel::SetInstance(model_.get());
    if (const std::string table = options()["gateway.nft_table"].as<std::string>(); !table.empty()) {
        firewall_ =
            std::make_unique<firewall_sets>(*model_, table, [](const std::string& problem) { say(problem); });
        firewall_->start();
    }
    ACE_Proactor* proactor = ACE_Proactor::instance();
    server_ = new http_server(proactor, settings);
    for (const std::string& file : options()["plugin"].as<std::vector<std::string>>()) {
        if (file.empty())
            continue; // "plugin =": none
        plugins_.push_back(std::make_unique<plugin>());
        if (!plugins_.back()->open(file, error)) {
            plugins_.pop_back();
            error.insert(0, "cannot load " + file + ": ");
            say(error);
            stop();
            return -1;
        }
        // The administration site shows the history and adds its own events to it.
        if (auto* site = dynamic_cast<admin::AdminPluginExtensionFactory*>(&plugins_.back()->factory()))
            site->SetActivityLog(activity_.get());
        auto extension = plugins_.back()->factory().create_extension(server_);
        if (extension == nullptr) {
            say("the extension of " + file + " could not be made (see above)");
            stop();
            return -1;
        }
        server_->add_extension(extension);
    }
    // A policy that nobody can administer could not be changed, nor its first run guarded.
    if (plugins_.empty()) {
        say("no plug-in is loaded (plugin = libquorrel.so offers the administration site), so the policy "
            "could not be administered");
        stop();
        return -1;
    }
    names_ = std::make_shared<name_resolver>(options()["proxy.hosts_file"].as<std::string>());
    if (!names_->hosts_error().empty())
        say(names_->hosts_error() + "; every name goes to the system's resolver");
    proxy_ = new forward_proxy(proactor, model_.get(), names_, proxy, activity_.get());
    server_->set_forward(proxy_);
    if (!server_->start(error)) {
        say(error);
        stop();
        return -1;
    }
    return 0;
}

int http_module::fini() {
    stop();
    return tav::service::fini();
}

void http_module::stop() {
    if (server_ != nullptr)
        server_->stop();
    // The proxy and its resolver go first, extensions before their libraries, and the model that they all
    // use last.
    if (proxy_ != nullptr)
        proxy_->stop();
    proxy_.reset();
    names_.reset();
    for (auto& p : plugins_)
        p->factory().release_extension();
    plugins_.clear();
    server_.reset();
    firewall_.reset();
    watch_.reset();
    // What the history has queued is written before the model goes, once the proxy and the site that record
    // into it are gone.
    activity_.reset();
    if (model_ != nullptr)
        DataModel::DropInstance(model_.get());
    model_.reset();
}

int http_module::info(ACE_TCHAR** info_string, size_t length) const {
    char address[128] = "";
    if (server_ != nullptr)
        server_->address().addr_to_string(address, sizeof address, 1);
    const std::string text = std::string("listening on ") + address;
    if (*info_string == nullptr)
        *info_string = ACE::strnew(text.c_str());
    else
        ACE_OS::strsncpy(*info_string, text.c_str(), length);
    return static_cast<int>(text.size());
}

} // namespace tav::http

// The factory the service configurator calls, as ACE_FACTORY_DEFINE would write it.
extern "C" __attribute__((visibility("default"))) ACE_Service_Object*
_make_http_module(ACE_Service_Object_Exterminator* gobbler) {
    if (gobbler != nullptr)
        *gobbler = [](void* object) { delete static_cast<tav::http::http_module*>(object); };
    return new (std::nothrow) tav::http::http_module;
}
