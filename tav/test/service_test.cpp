#include <support/temp_folder.hpp>
#include <tav/service.hpp>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace po = boost::program_options;

// The base service with init and fini within reach of the tests.
class test_service : public tav::service {
public:
    using service::fini;
    using service::init;

    // init over the given arguments, with the null entry that ends an argument vector.
    int start(std::vector<std::string> arguments) {
        std::vector<ACE_TCHAR*> argv;
        argv.reserve(arguments.size() + 1);
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        return init(static_cast<int>(arguments.size()), argv.data());
    }
};

// A module with an option of its own: "proxy.port", 8080 unless given, copied to port by the
// notification step. Its notifier refuses 0 as a program_options validation error and 1 with an
// exception of its own.
class proxy_module : public test_service {
public:
    int port = 0;
    int add_options_calls = 0;

protected:
    void add_options(po::options_description& description) override {
        ++add_options_calls;
        description.add_options()(
            "proxy.port", po::value<int>(&port)->default_value(8080)->notifier([](int value) {
                if (value == 0) {
                    throw po::validation_error(po::validation_error::invalid_option_value, "proxy.port");
                }
                if (value == 1) {
                    throw std::runtime_error("port 1 is taken");
                }
            }),
            "listening port");
    }
};

std::string text(const tav::options_proxy& options, const std::string& name) {
    return options[name].as<std::string>();
}

std::string option(const std::string& name, const std::string& value) {
    return "--" + name + "=" + value;
}

// Each case gets a fresh temporary folder for its configuration files.
class service_test : public testing::Test {
protected:
    // Writes a file in the case's folder and returns its path.
    std::string write(const std::string& name, const std::string& content) const {
        return folder_.write(name, content).string();
    }

    // The option that names file as the configuration file.
    static std::string config(const std::string& file) { return option(tav::service_config_file, file); }

    const support::temp_folder folder_{"service"};
    const fs::path& root_ = folder_.path();
};

TEST_F(service_test, hidden_options_and_an_init_without_arguments) {
    EXPECT_STREQ(tav::service_config_file, "service.config-file");
    EXPECT_STREQ(tav::service_module_file, "service.module-file");

    const po::options_description& hidden = tav::hidden_options();
    EXPECT_EQ(&hidden, &tav::hidden_options());
    ASSERT_EQ(hidden.options().size(), 2U);
    EXPECT_EQ(hidden.find(tav::service_config_file, false).description(), "service configuration file");
    EXPECT_EQ(hidden.find(tav::service_module_file, false).description(), "service module file");
    std::ostringstream printed;
    printed << hidden;
    EXPECT_EQ(printed.str().rfind("hidden options:\n", 0), 0U) << printed.str();

    test_service module;
    const tav::options_proxy options = module.options();
    EXPECT_TRUE(options->empty());
    ASSERT_EQ(module.start({}), 0);
    EXPECT_EQ(options->size(), 2U);
    EXPECT_EQ(text(options, tav::service_config_file), "");
    EXPECT_EQ(text(options, tav::service_module_file), "");
    EXPECT_TRUE(options[tav::service_module_file].defaulted());
    EXPECT_TRUE(options["service.other"].empty());
}

TEST_F(service_test, arguments_that_are_not_valid_options_fail) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--service.unknown=1"},
             {"stray"},
             {option(tav::service_module_file, "a"), "stray"},
             {option(tav::service_module_file, "a"), option(tav::service_module_file, "b")},
             {"--proxy.port=8008"},
         }) {
        test_service module;
        EXPECT_EQ(module.start(arguments), -1) << arguments.front();
    }
    proxy_module module;
    EXPECT_EQ(module.start({"--proxy.port=eighty"}), -1);
}

TEST_F(service_test, a_configuration_file_that_cannot_be_read_or_parsed_fails) {
    std::vector<std::string> files = {
        (root_ / "missing.cfg").string(),
        root_.string(),
        write("syntax.cfg", "[proxy]\nport 8008\n"),
        write("section.cfg", "[proxy\nport=8008\n"),
        write("undeclared.cfg", "[proxy]\nhost=localhost\n"),
        write("value.cfg", "[proxy]\nport=eighty\n"),
    };
    if (::geteuid() != 0) {
        files.push_back(write("unreadable.cfg", "[proxy]\nport=8008\n"));
        ASSERT_EQ(::chmod(files.back().c_str(), 0), 0);
    }
    for (const std::string& file : files) {
        proxy_module module;
        EXPECT_EQ(module.start({config(file)}), -1) << file;
    }
}

TEST_F(service_test, the_file_fills_in_what_the_command_line_leaves_out) {
    const std::string file = write("module.cfg", "# comments and blank lines are skipped\n\n"
                                                 "service.module-file = from-file\n"
                                                 "[proxy]\n"
                                                 "port=8008\n");
    proxy_module module;
    const tav::options_proxy options = module.options();
    ASSERT_EQ(module.start({option(tav::service_module_file, "from-command-line"), config(file)}), 0);
    EXPECT_EQ(text(options, tav::service_config_file), file);
    EXPECT_EQ(text(options, tav::service_module_file), "from-command-line");
    EXPECT_EQ(options["proxy.port"].as<int>(), 8008);
    EXPECT_FALSE(options["proxy.port"].defaulted());
    EXPECT_EQ(module.port, 8008);

    test_service plain;
    ASSERT_EQ(plain.start({config(write("section.cfg", "[service]\nmodule-file=in-section\n"))}), 0);
    EXPECT_EQ(text(plain.options(), tav::service_module_file), "in-section");
}

TEST_F(service_test, derived_module_defaults_and_notifiers) {
    proxy_module module;
    ASSERT_EQ(module.start({}), 0);
    EXPECT_EQ(module.add_options_calls, 1);
    EXPECT_EQ(module.options()->size(), 3U);
    EXPECT_EQ(module.options()["proxy.port"].as<int>(), 8080);
    EXPECT_TRUE(module.options()["proxy.port"].defaulted());
    EXPECT_EQ(module.port, 8080);

    proxy_module refused;
    EXPECT_EQ(refused.start({"--proxy.port=0"}), -1);
    proxy_module throwing;
    EXPECT_THROW(throwing.start({"--proxy.port=1"}), std::runtime_error);
    proxy_module from_file;
    EXPECT_EQ(from_file.start({config(write("zero.cfg", "[proxy]\nport=0\n"))}), -1);
}

TEST_F(service_test, fini_empties_the_map_that_proxies_share) {
    auto module = std::make_unique<proxy_module>();
    const tav::options_proxy before = module->options();
    ASSERT_EQ(module->start({option(tav::service_module_file, "first")}), 0);
    EXPECT_EQ(module->fini(), 0);
    EXPECT_TRUE(before->empty());
    EXPECT_TRUE(module->options()->empty());

    ASSERT_EQ(module->start({option(tav::service_module_file, "again")}), 0);
    EXPECT_EQ(text(before, tav::service_module_file), "again");

    module.reset();
    EXPECT_EQ(text(before, tav::service_module_file), "again");
    EXPECT_EQ(before["proxy.port"].as<int>(), 8080);
}

TEST_F(service_test, a_second_init_without_fini_keeps_earlier_values) {
    proxy_module module;
    ASSERT_EQ(module.start({option(tav::service_module_file, "first"), "--proxy.port=8008"}), 0);
    ASSERT_EQ(module.start({option(tav::service_module_file, "second"), "--proxy.port=9009"}), 0);
    EXPECT_EQ(module.add_options_calls, 2);
    EXPECT_EQ(text(module.options(), tav::service_module_file), "first");
    EXPECT_EQ(module.options()["proxy.port"].as<int>(), 8008);
    EXPECT_EQ(module.port, 8008);
}

} // namespace
