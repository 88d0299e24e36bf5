#include "PolicyCommand.hpp"

#include "ActivityReport.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/Matching.hpp>
#include <quorrel/PolicyWatch.hpp>

#include <boost/algorithm/string/replace.hpp>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>

namespace {

using tav::DataModel;

const char* const USAGE = R"(usage: tollwick-policy [--config DIR] COMMAND

Asks the filtering policy in DIR (zun_data.xml, URLFilterDB.bin, Administration/site)
the questions the proxy and the administrator ask.

commands:
  check CLIENT-IP URL [PROTOCOL]  whether the client may open the URL now, decided in its
                                  canonical form (shown when it differs); PROTOCOL is
                                  http, https, smtp, pop3, imap, socks, ftp or 0 to 7
                                  (default: from the URL's scheme, else http)
  report GROUP-ID URL             how the URL stands for the group: customer lists,
                                  URL database and accessibility
  dump                            the categories, groups and clients of the policy
  password NEW                    sets the administrator password of the site and saves
                                  the policy; "" opens the site without a login
  activity [--days N] [--history FILE] [CLIENT-IP]
                                  what the computers did over the last N days (default 7):
                                  use per computer and day, top sites, last refusals; from
                                  FILE (default DIR/../log/activity.db, beside the service's
                                  cfg/)

exit status: 0 allowed or done, 1 refused, 2 usage or configuration error
)";

const std::map<std::string, tav::PROTOS> PROTOCOLS = {
    {"http", tav::PROTO_HTTP}, {"https", tav::PROTO_HTTPS}, {"smtp", tav::PROTO_SMTP},
    {"pop3", tav::PROTO_POP3}, {"imap", tav::PROTO_IMAP},   {"socks", tav::PROTO_SOCKS},
    {"ftp", tav::PROTO_FTP},
};

bool ParseProtocol(const std::string& text, tav::PROTOS& protocol) {
    const auto named = PROTOCOLS.find(text);
    if (named != PROTOCOLS.end()) {
        protocol = named->second;
        return true;
    }
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') {
        protocol = static_cast<tav::PROTOS>(text[0] - '0');
        return true;
    }
    return false;
}

// Whether a lookup found its entity; the copy it hands over is released.
template <class Entity> bool Found(const tav::Ret& result) {
    const std::unique_ptr<Entity> copy(static_cast<Entity*>(result.GetObj()));
    return result.IsOK();
}

} // namespace

PolicyCommand::PolicyCommand(std::string defaultConfig, std::ostream& out, std::ostream& err)
    : m_config(std::move(defaultConfig)), m_out(out), m_err(err) {}

int PolicyCommand::Usage(int status) {
    (status == 0 ? m_out : m_err) << USAGE;
    return status;
}

int PolicyCommand::Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h"))
        return Usage(0);
    if (args.size() >= 2 && args[0] == "--config") {
        m_config = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    const std::string command = args.empty() ? "" : args[0];
    if (command == "activity")
        return Activity(std::vector<std::string>(args.begin() + 1, args.end()));
    const bool known = (command == "check" && (args.size() == 3 || args.size() == 4)) ||
                       (command == "report" && args.size() == 3) || (command == "dump" && args.size() == 1) ||
                       (command == "password" && args.size() == 2);
    if (!known)
        return Usage(2);

    tav::uri url;
    tav::PROTOS protocol = tav::PROTO_HTTP;
    if (command != "dump" && command != "password") {
        const std::string& text = args[2];
        if (!url.parse_absolute(text.data(), text.data() + text.size()) || tav::IsBlank(url.host())) {
            m_err << "tollwick-policy: bad URL '" << text
                  << "': give an absolute URL such as http://example.com/\n";
            return 2;
        }
        if (args.size() == 4 && !ParseProtocol(args[3], protocol)) {
            m_err << "tollwick-policy: unknown protocol '" << args[3] << "'\n";
            return 2;
        }
        if (args.size() == 3)
            ParseProtocol(url.scheme(), protocol);
    }

    DataModel model;
    if (!Load(model))
        return 2;

    if (command == "dump") {
        model.PrintModel(m_out);
        return 0;
    }
    if (command == "password")
        return SetPassword(model, args[1]);
    if (command == "report") {
        if (!Found<DataModel::ClientGroup>(model.GetClientGroup(args[1]))) {
            m_err << "tollwick-policy: no client group with ID '" << args[1] << "'\n";
            return 2;
        }
        std::string report = model.GetInfo(args[1], url);
        boost::replace_all(report, "<br>", "\n");
        m_out << report << '\n';
        return 0;
    }
    if (!Found<DataModel::Client>(model.GetClient(tav::TrimBlanks(args[1])))) {
        m_err << "tollwick-policy: unknown client " << args[1]
              << ": no client of the policy has this IP address\n";
        return 2;
    }
    // Another spelling of an address is decided as its canonical form, which is shown.
    tav::uri spare;
    const tav::uri& decided = tav::DecidedForm(url, spare);
    if (&decided != &url) {
        std::string text;
        decided.flatten(text, tav::uri::all_bits);
        m_out << "decided as " << text << '\n';
    }
    // The decision's own reason: a refusal's, or the notice of trusted-only mode.
    const DataModel::Verdict verdict = model.Decide(args[1], url, protocol);
    m_out << (verdict.IsAllowed() ? "allowed" : "refused");
    if (!verdict.GetMessage().empty())
        m_out << ": " << verdict.GetMessage();
    m_out << '\n';
    return verdict.IsAllowed() ? 0 : 1;
}

bool PolicyCommand::Load(DataModel& model) {
    tav::Ret loaded(tav::Ret::OK, "");
    try {
        loaded = model.Init(m_config + "/zun_data.xml", m_config + "/URLFilterDB.bin",
                            m_config + "/Administration/site");
    } catch (const std::exception& e) {
        loaded = tav::Ret(tav::Ret::ERR, e.what());
    }
    if (loaded.IsOK())
        return true;
    std::string messages = loaded.GetMessage();
    boost::replace_all(messages, "<br>", "\n  ");
    m_err << "tollwick-policy: the configuration in " << m_config << " does not load:\n  " << messages
          << '\n';
    return false;
}

int PolicyCommand::Activity(const std::vector<std::string>& args) {
    int days = 7;
    std::string history = m_config + "/../log/activity.db";
    std::string client;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--days" && i + 1 < args.size()) {
            char* end = nullptr;
            const long n = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 366) {
                m_err << "tollwick-policy: --days takes a number of days from 1 to 366\n";
                return 2;
            }
            days = static_cast<int>(n);
        } else if (args[i] == "--history" && i + 1 < args.size()) {
            history = args[++i];
        } else if (client.empty() && args[i].compare(0, 2, "--") != 0) {
            client = tav::TrimBlanks(args[i]);
        } else {
            return Usage(2);
        }
    }
    DataModel model;
    if (!Load(model))
        return 2;
    tav::ActivityHistory reader(history);
    if (!reader.IsOpen()) {
        m_err << "tollwick-policy: the history " << history << " cannot be read: " << reader.GetError()
              << '\n';
        return 2;
    }
    ActivityReport(model, reader, m_out)
        .Print(static_cast<std::time_t>(model.GetClock().Now()), days, client);
    return 0;
}

int PolicyCommand::SetPassword(DataModel& model, const std::string& password) {
    std::unique_ptr<DataModel::Settings> settings;
    tav::Ret result = model.GetSettings(settings);
    if (result.IsOK()) {
        settings->SetPassword(password);
        result = model.SaveSettings(*settings);
    }
    if (result.IsOK())
        result = model.SaveTunes();
    if (!result.IsOK()) {
        m_err << "tollwick-policy: the password cannot be set: " << result.GetMessage() << '\n';
        return 2;
    }
    m_out << (password.empty() ? "the site opens without a login\n" : "password set\n");
    switch (tav::PolicyWatch::ServiceTook(model.GetTunesPath(), model.GetTunesVersion(),
                                          std::chrono::seconds(5))) {
    case tav::PolicyWatch::Taken::noService:
        m_out << "no service runs on this policy; it takes the change when it starts\n";
        break;
    case tav::PolicyWatch::Taken::taken:
        m_out << "the running service has taken the change\n";
        break;
    case tav::PolicyWatch::Taken::notYet:
        m_out << "the running service has not taken the change yet: see its output\n";
        return 1;
    }
    return 0;
}
