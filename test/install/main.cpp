// Uses the installed headers and libraries the way an outside program would.
#include <quorrel/DataModel.hpp>
#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>
#include <quorrel/admin/AdminPluginExtensionFactory.hpp>
#include <tav/acceptor.hpp>
#include <tav/aio_cmd.hpp>
#include <tav/atom.hpp>
#include <tav/connector.hpp>
#include <tav/http/extension_factory.hpp>
#include <tav/http/html.hpp>
#include <tav/http/response_head.hpp>
#include <tav/logger.hpp>
#include <tav/msg.hpp>
#include <tav/service.hpp>
#include <tav/uri.hpp>

#include <ace/Proactor.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

// A service module, with init within reach.
struct sample_module : tav::service {
    using tav::service::init;
};

// Refuses every connection, so the client sees it closed.
struct refusing_manager : tav::session_manager {
    boost::intrusive_ptr<tav::session> create_session() override { return nullptr; }
    void session_failed(const boost::intrusive_ptr<tav::session>&) override {}
};

// Keeps the stream of its one connection.
struct one_connector : tav::connector {
    boost::intrusive_ptr<tav::aio_socket_stream> create_stream() override {
        return new tav::aio_socket_stream;
    }
    void on_connected(const boost::intrusive_ptr<tav::aio_socket_stream>& s) override { stream = s; }
    void on_connect_failed(const boost::intrusive_ptr<tav::aio_socket_stream>&, unsigned long) override {
        failed = true;
    }
    boost::intrusive_ptr<tav::aio_socket_stream> stream;
    bool failed = false;
};

// Connects to a listener on the loopback address, on one proactor run by this thread.
bool connects_on_loopback() {
    std::unique_ptr<ACE_Proactor> proactor(tav::make_proactor(1));
    refusing_manager manager;
    boost::intrusive_ptr<tav::acceptor> listener(new tav::acceptor);
    boost::intrusive_ptr<one_connector> client(new one_connector);
    if (!proactor ||
        !listener->start(ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1"), &manager, proactor.get(), 2,
                         true) ||
        !client->open(proactor.get()) || !client->connect(listener->address(), false))
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!client->stream && !client->failed && std::chrono::steady_clock::now() < deadline) {
        ACE_Time_Value wait(0, 100000);
        proactor->handle_events(wait);
    }
    bool connected = client->stream != nullptr;
    listener->stop();
    if (connected)
        client->stream->shutdown();
    for (int i = 0; i < 20; ++i) {
        ACE_Time_Value wait(0, 10000);
        proactor->handle_events(wait);
    }
    return connected;
}

int main() {
    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::cerr << "FAILED: " << what << '\n';
            ++failures;
        }
    };

    // The extension contract, as an outside extension of the HTTP server uses it.
    const auto head = tav::http::response_head::create(200, nullptr, tav::http::version::one_one_);
    expect(head != nullptr && head->reason() == "OK", "response_head::create");
    head->headers.set(tav::http::atom::content_type_header, "text/html");
    expect(*head->headers.find(tav::http::atom::intern("content-type")) == "text/html", "header map");
    expect(tav::http::escape_html("<a&b>") == "&lt;a&amp;b&gt;", "escape_html");
    expect(get_extension_factory() != nullptr, "the administration plug-in's factory");

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

    expect(connects_on_loopback(), "acceptor and connector on loopback");

    std::cout << (failures ? "install check failed\n" : "install check passed\n");
    return failures ? 1 : 0;
}
