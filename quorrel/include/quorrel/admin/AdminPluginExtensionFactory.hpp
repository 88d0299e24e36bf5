#pragma once

// tav::http::admin::AdminPluginExtensionFactory - makes the administration extension for the HTTP server.
//
// create_extension reads "cfg/quorrel.cfg" ("admin.root_url", default http://admin.tollwick/, and
// "temp.pwd", accepted and unused), obtains the policy model (the service's one instance, made now unless
// the service host made it), and starts the extension with the site folder "cfg/Administration/site". Any
// failure is said on standard error (the file and the reason) and gives no extension. release_extension
// stops the extension, and ends the model when the factory made it. The service host hands the factory its
// activity history before it asks for the extension, which shows it and adds the site's events to it.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/export.hpp>
#include <tav/http/extension_factory.hpp>

namespace tav::http::admin {

class QUORREL_EXPORT AdminPluginExtensionFactory : public tav::http::extension_factory {
public:
    ~AdminPluginExtensionFactory() override;

    boost::intrusive_ptr<tav::http::active_extension>
    create_extension(const boost::intrusive_ptr<tav::http::server>& owner) override;
    void release_extension() override;

    // The history that the extensions made from now on get; null for none. It must outlive them.
    void SetActivityLog(ActivityLog* history) { m_history = history; }

private:
    boost::intrusive_ptr<AdminPlugin> m_extension;
    DataModel* m_model = nullptr;
    ActivityLog* m_history = nullptr;
    bool m_ownsModel = false;
};

} // namespace tav::http::admin

// The plug-in's one plain export: the factory, which lives as long as the library.
extern "C" QUORREL_EXPORT tav::http::extension_factory* get_extension_factory();
