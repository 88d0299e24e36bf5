#pragma once

// The HTTP module: a service module that the service host loads through the ACE service configurator.
//
// init() reads its options (below) from its arguments and its configuration file, loads the policy model
// from the working folder's cfg/, loads the plug-ins, asks each for its extension, and starts the HTTP server
// on the proactor of the process (ACE_Proactor::instance, which the host sets). A failure is said on standard
// error and init() returns -1. info() tells the address listened on as "listening on HOST:PORT". fini() stops
// the server, then releases the extensions.
//
// Options: listen (HOST:PORT, default 0.0.0.0:8008), site (the address that requests in origin form stand
// for, default http://admin.tollwick/), plugin (a library offering an extension; may be given more than
// once, default libquorrel.so), max_connections (4096), head_timeout and idle_timeout (seconds, 15 and 60),
// access_log (the log's name below log/, default access; empty for none), proxy.hosts_file (names resolved
// before the system's resolver is asked, default /etc/hosts), proxy.connect_ports (443), proxy.opaque_ports
// (none), proxy.checked_body_limit, proxy.origin_timeout (60), proxy.handshake_timeout (10),
// proxy.allow_local (false: the filter machine itself and link-local addresses are not relayed to) and
// proxy.transparent_listen (HOST:PORT for connections that a gateway redirects; none by default),
// proxy.safe_search_file (the search and YouTube hosts with their safe addresses, default cfg/safesearch.txt;
// empty for none: its bad lines, or a file that cannot be read, are said on standard error and the rest of it
// is used), activity.keep_days (days of history kept in log/activity.db, default 90; 0 for none) and
// gateway.nft_table (the nftables table, of family ip, whose sets of computers the module keeps on the
// policy, as cfg/gateway.nft makes it; none by default).
//
// The model reads the policy file again within a second of another program changing it
// (cfg/zun_data.xml.inuse tells that program which version the service holds).
//
// Requests for other servers that no extension takes go to the forward proxy, which asks the module's policy
// model and records each computer's use and refusals in the activity history. The module hands the history
// to the proxy and to the administration site's factory. The model, which carries the safe search table in
// every policy it publishes, is also the service's one instance (DataModel::m_pInstance), where the
// administration plug-in finds it. Without a model that loads, or without a plug-in to administer it, the
// module does not start.

#include "firewall_sets.hpp"
#include "forward_proxy.hpp"
#include "http_server.hpp"
#include "name_resolver.hpp"
#include "plugin.hpp"

#include <quorrel/ActivityLog.hpp>
#include <quorrel/PolicyWatch.hpp>
#include <tav/service.hpp>

#include <boost/intrusive_ptr.hpp>

#include <memory>
#include <string>
#include <vector>

namespace tav::http {

class http_module : public tav::service {
public:
    http_module();
    ~http_module() override;

    int init(int argc, ACE_TCHAR* argv[]) override;
    int fini() override;
    int info(ACE_TCHAR** info_string, size_t length) const override;

protected:
    void add_options(boost::program_options::options_description& description) override;

private:
    // Reads the options into server settings; false with the reason.
    bool read_settings(server_settings& settings, std::string& error) const;
    bool read_proxy_settings(proxy_settings& settings, std::string& error) const;
    void stop();

    boost::intrusive_ptr<http_server> server_;
    std::vector<std::unique_ptr<plugin>> plugins_;
    std::shared_ptr<name_resolver> names_;
    boost::intrusive_ptr<forward_proxy> proxy_;
    std::unique_ptr<DataModel> model_;
    std::unique_ptr<ActivityLog> activity_;
    // Reads the policy file again when the policy command or another program changes it.
    std::unique_ptr<PolicyWatch> watch_;
    // The gateway's firewall sets, when a table is named.
    std::unique_ptr<firewall_sets> firewall_;
};

} // namespace tav::http
