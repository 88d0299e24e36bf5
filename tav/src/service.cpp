#include <tav/service.hpp>

#include <boost/make_shared.hpp>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <fstream>
#include <utility>
#include <vector>

namespace tav {

namespace po = boost::program_options;

const char* const service_config_file = "service.config-file";
const char* const service_module_file = "service.module-file";

const po::options_description& hidden_options() {
    static const po::options_description hidden = [] {
        po::options_description made("hidden options", 80);
        made.add_options()(service_config_file, po::value<std::string>()->default_value(std::string()),
                           "service configuration file")(
            service_module_file, po::value<std::string>()->default_value(std::string()),
            "service module file");
        return made;
    }();
    return hidden;
}

options_proxy::options_proxy(boost::shared_ptr<const po::variables_map> map) : map_(std::move(map)) {}

service::service() : ACE_Service_Object(nullptr), options_(boost::make_shared<po::variables_map>()) {}

service::~service() = default;

options_proxy service::options() const {
    return options_proxy(options_);
}

void service::add_options(po::options_description&) {}

int service::init(int argc, ACE_TCHAR* argv[]) {
    try {
        po::options_description description(80);
        description.add(hidden_options());
        add_options(description);

        std::vector<std::string> arguments;
        for (int i = 0; argv != nullptr && i < argc; ++i) {
            if (argv[i] != nullptr) {
                arguments.emplace_back(ACE_TEXT_ALWAYS_CHAR(argv[i]));
            }
        }
        // No positional options are declared, so a word that is not an option is an error
        // instead of being skipped.
        po::store(po::command_line_parser(arguments)
                      .options(description)
                      .positional(po::positional_options_description())
                      .run(),
                  *options_);

        const po::variable_value& file_name = (*options_)[service_config_file];
        const std::string config_file = file_name.empty() ? std::string() : file_name.as<std::string>();
        if (!config_file.empty()) {
            std::ifstream file(config_file);
            if (!file) {
                return -1;
            }
            const po::parsed_options parsed = po::parse_config_file(file, description, false);
            // The parser takes a read error (a directory, say) for the end of the file.
            if (file.bad()) {
                return -1;
            }
            // store() keeps the values already there, so the command line wins over the file.
            po::store(parsed, *options_);
        }

        po::notify(*options_);
        return 0;
    } catch (const po::error&) {
        return -1;
    }
}

int service::fini() {
    // variables_map::clear also forgets which values are final, so a later init stores anew.
    options_->clear();
    return 0;
}

} // namespace tav
