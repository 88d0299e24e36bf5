#include <quorrel/admin/AdminPluginExtensionFactory.hpp>

#include <boost/program_options.hpp>

#include <fstream>
#include <iostream>
#include <stdexcept>

namespace tav::http::admin {

namespace po = boost::program_options;

namespace {

const char* const configFile = "cfg/quorrel.cfg";
const char* const siteRoot = "cfg/Administration/site";

} // namespace

AdminPluginExtensionFactory::~AdminPluginExtensionFactory() = default;

boost::intrusive_ptr<tav::http::active_extension>
AdminPluginExtensionFactory::create_extension(const boost::intrusive_ptr<tav::http::server>& owner) {
    try {
        std::string rootUrl;
        unsigned idleMinutes = 30;
        po::options_description description;
        description.add_options()("admin.root_url",
                                  po::value<std::string>(&rootUrl)->default_value("http://admin.tollwick/"),
                                  "root URL for http administration module")(
            "admin.session_idle_minutes", po::value<unsigned>(&idleMinutes)->default_value(30),
            "minutes a session of the administration lasts without a request")(
            "temp.pwd", po::value<std::string>()->default_value("tav"),
            "Password for http administration module");
        std::ifstream file(configFile);
        if (!file)
            throw std::runtime_error(std::string("cannot open ") + configFile);
        po::variables_map values;
        try {
            po::store(po::parse_config_file(file, description), values);
            po::notify(values);
        } catch (const po::error& e) {
            throw std::runtime_error(std::string(configFile) + ": " + e.what());
        }
        tav::uri root;
        // A root URL without a host could take no request at all.
        if (!root.parse_absolute(rootUrl.data(), rootUrl.data() + rootUrl.size()) || root.host().empty())
            throw std::runtime_error("quorrel: bad root url specified (" + rootUrl + ")");
        root.decode();
        // The service host has usually made the model already; a model made here is this factory's own.
        m_ownsModel = DataModel::m_pInstance == nullptr;
        m_model = DataModel::GetInstance();
        m_extension = new AdminPlugin(owner, m_model);
        m_extension->SetActivityLog(m_history);
        m_extension->SetSessionIdle(std::chrono::minutes(idleMinutes));
        m_extension->StartAudit("admin");
        const AdminPluginRet started =
            m_extension->Start(siteRoot, root, values["temp.pwd"].as<std::string>());
        if (!started.IsOK())
            throw std::runtime_error("Fail to start admin extension: " + started.GetMessage());
        m_extension->AnnounceSetup();
        return m_extension;
    } catch (const std::exception& e) {
        std::cerr << "quorrel: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "quorrel: the administration extension cannot be made" << std::endl;
    }
    if (m_extension != nullptr)
        m_extension->stop();
    m_extension.reset();
    return nullptr;
}

void AdminPluginExtensionFactory::release_extension() {
    if (m_extension != nullptr) {
        try {
            m_extension->stop();
        } catch (...) {
        }
    }
    m_extension.reset();
    if (m_model != nullptr && m_ownsModel) {
        // The model goes with the extension; the singleton's pointer goes too, so that nothing can reach
        // the deleted model through it.
        DataModel::DropInstance(m_model);
        delete m_model;
    }
    m_model = nullptr;
}

} // namespace tav::http::admin

extern "C" tav::http::extension_factory* get_extension_factory() {
    static tav::http::admin::AdminPluginExtensionFactory factory;
    return &factory;
}
