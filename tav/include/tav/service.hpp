#pragma once

// tav::service - base of the loadable service modules.
//
// A service host loads a module derived from service through the ACE service configurator, which
// calls init() with the arguments written for the module and fini() when the module is removed.
// init() parses every argument as an option (none is a program name) against the hidden options
// below and the options the module declares in add_options(), then reads the file that
// "service.config-file" names, if any, in the INI-like format of program_options ("[proxy]" then
// "port=8008" sets "proxy.port"). A value given on the command line wins over the file, and a
// second init() without fini() keeps the values already in the map. The module reads the result
// through options(); proxies share the map, so they see fini() empty it and keep it alive after
// the service is gone. The map is not synchronised: modules read it while they start and treat it
// as read-only afterwards.

#include <tav/export.hpp>

#include <ace/Service_Object.h>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

namespace tav {

// Names of the hidden options: "service.config-file" and "service.module-file".
TAV_EXPORT extern const char* const service_config_file;
TAV_EXPORT extern const char* const service_module_file;

// The options every service accepts, titled "hidden options": the configuration file and the
// module file, both strings that default to empty. Built on the first call and kept until the
// library is unloaded.
TAV_EXPORT const boost::program_options::options_description& hidden_options();

// Read access to a service's option map, sharing it with the service.
class TAV_EXPORT options_proxy {
public:
    explicit options_proxy(boost::shared_ptr<const boost::program_options::variables_map> map);

    const boost::program_options::variables_map& operator*() const { return *map_; }
    const boost::program_options::variables_map* operator->() const { return map_.get(); }
    // The value of the named option; an empty value when the map does not hold it.
    const boost::program_options::variable_value& operator[](const std::string& name) const {
        return (*map_)[name];
    }

private:
    boost::shared_ptr<const boost::program_options::variables_map> map_;
};

class TAV_EXPORT service : public ACE_Service_Object {
public:
    service();
    ~service() override;
    service(const service&) = delete;
    service& operator=(const service&) = delete;

    options_proxy options() const;

protected:
    // Declares the module's own options; called once by each init(), before parsing. The base
    // declares none.
    virtual void add_options(boost::program_options::options_description& description);

    // Parses argv[0] to argv[argc - 1] and the configuration file into the option map and runs the
    // options' notifiers. Returns 0, or -1 on any error of the options library and when the
    // configuration file cannot be read; the map then keeps what was stored before the error.
    // Other exceptions, such as std::bad_alloc or a notifier's own exception, reach the caller.
    int init(int argc, ACE_TCHAR* argv[]) override;
    // Empties the option map and returns 0.
    int fini() override;

private:
    boost::shared_ptr<boost::program_options::variables_map> options_;
};

} // namespace tav
