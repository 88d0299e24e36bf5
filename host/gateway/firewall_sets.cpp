#include "firewall_sets.hpp"

#include <nftables/libnftables.h>

#include <arpa/inet.h>

#include <chrono>

namespace tav::http {

namespace {

const auto CHECK_PERIOD = std::chrono::seconds(1);

bool is_ipv4(const std::string& address) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, address.c_str(), &parsed) == 1;
}

} // namespace

firewall_sets::firewall_sets(const DataModel& model, std::string table,
                             std::function<void(const std::string&)> say)
    : model_(model), table_(std::move(table)), say_(std::move(say)), nft_(nft_ctx_new(NFT_CTX_DEFAULT)) {
    if (nft_ != nullptr) {
        nft_ctx_buffer_output(nft_);
        nft_ctx_buffer_error(nft_);
    }
}

firewall_sets::~firewall_sets() {
    ticks_.reset();
    if (nft_ != nullptr)
        nft_ctx_free(nft_);
}

void firewall_sets::start() {
    update();
    ticks_ = std::make_unique<periodic>(CHECK_PERIOD, [this] { update(); });
}

std::string firewall_sets::commands(const std::string& table, const DataModel::GatewayAccess& access) {
    // With filtration off, every address is known and may use other traffic.
    const struct {
        const char* name;
        const std::vector<std::string>* addresses;
        bool everyone;
    } sets[] = {
        {"known", &access.known, access.everyone},
        {"nothing", &access.nothing, false},
        {"mail", &access.mail, false},
        {"ftp", &access.ftp, false},
        {"other", &access.other, access.everyone},
    };
    std::string text;
    for (const auto& [name, addresses, everyone] : sets) {
        text.append("flush set ip ").append(table).append(" ").append(name).append("\n");
        std::string elements = everyone ? "0.0.0.0/0" : "";
        for (const std::string& address : *addresses)
            if (is_ipv4(address))
                elements += (elements.empty() ? "" : ", ") + address;
        if (!elements.empty())
            text.append("add element ip ")
                .append(table)
                .append(" ")
                .append(name)
                .append(" { ")
                .append(elements)
                .append(" }\n");
    }
    return text;
}

void firewall_sets::update() {
    const DataModel::GatewayAccess access = model_.GetGatewayAccess();
    if (applied_ && access == access_)
        return;
    std::string problem;
    if (nft_ == nullptr)
        problem = "libnftables could not start";
    else if (nft_run_cmd_from_buffer(nft_, commands(table_, access).c_str()) != 0)
        problem = nft_ctx_get_error_buffer(nft_);
    applied_ = problem.empty();
    access_ = access;
    if (!problem.empty() && problem != problem_)
        say_("the gateway's firewall sets of table ip " + table_ + " cannot be changed: " + problem);
    problem_ = problem;
}

} // namespace tav::http
