// Uses the installed headers and libraries the way an outside program would.
#include <quorrel/DataModel.hpp>
#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>
#include <tav/atom.hpp>
#include <tav/logger.hpp>
#include <tav/msg.hpp>
#include <tav/service.hpp>
#include <tav/uri.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

// A service module, with init within reach.
struct sample_module : tav::service {
    using tav::service::init;
};

int main() {
    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::cerr << "FAILED: " << what << '\n';
            ++failures;
        }
    };

    const std::string text = "HTTP://User@Example.COM:8080/A?b#c";
    tav::uri parsed;
    expect(parsed.parse_absolute(text.data(), text.data() + text.size()), "parse_absolute");
    std::string flat;
    parsed.flatten(flat, 124);
    expect(flat == "//example.com:8080/A?b#c", "flatten from the authority on");

    tav::DataModel::ClientGroup group(nullptr);
    group.SetName("Kids");
    group.SetTimeLimit(1, 1441);
    const tav::Ret ret = group.Validate(false);
    expect(!ret.IsOK(), "invalid group fails");
    expect(ret.GetMessage() == "Empty ID<br>The time limit value for Mon must be between the 0 and 1440",
           "validation messages");

    tav::DataModel::CustomerSite site(nullptr, false);
    site.SetID("1");
    expect(site.SetUrl("http://example.org") && site.Validate(false).IsOK(), "customer site");

    tav::urlfilter::URLGraphBuilder builder;
    builder.Add("casino.example", "", true, 1U << 5);
    const std::string database = std::filesystem::temp_directory_path() / "tollwick_install_check.bin";
    {
        std::ofstream out(database);
        builder.Write(out);
    }
    tav::urlfilter::URLFilter filter;
    filter.Load(database);
    std::remove(database.c_str());
    tav::uri request;
    request.host("www.casino.example").path("/poker");
    const tav::urlfilter::URLLookupResult found = filter.Lookup(request);
    expect(found.found && found.blocked && found.categories == 32, "URL database lookup");

    const tav::msg_auto_release block(tav::make_msg("abc", 3));
    expect(block->length() == 3, "message block");
    const boost::intrusive_ptr<tav::log_record> record(new tav::log_record);
    record->set_field("c-ip", "10.0.0.1", true);
    expect(record->format({"c-ip", "cs-uri"}) == "10.0.0.1\t-", "log record line");
    expect(!tav::atom(), "null atom");

    sample_module service;
    ACE_TCHAR argument[] = ACE_TEXT("--service.module-file=module.so");
    ACE_TCHAR* arguments[] = {argument, nullptr};
    expect(service.init(1, arguments) == 0 &&
               service.options()[tav::service_module_file].as<std::string>() == "module.so" &&
               tav::hidden_options().find_nothrow(tav::service_config_file, false) != nullptr,
           "service options");

    std::cout << (failures ? "install check failed\n" : "install check passed\n");
    return failures ? 1 : 0;
}
