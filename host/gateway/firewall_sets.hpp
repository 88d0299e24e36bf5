#pragma once

// tav::http::firewall_sets - keeps the sets of a gateway's firewall (cfg/gateway.nft) on the policy.
//
// Once a second it asks the model what each computer may do now (DataModel::GetGatewayAccess) and, when
// that has changed, gives the nftables sets known, nothing, mail, ftp and other of the table `ip TABLE` their
// new elements in one transaction, through libnftables. So the firewall follows every change of the policy,
// and a time rule that turns (the next half hour, a pause's end, midnight, a quota used up), within a second.
// With filtration off, known and other hold every address. Addresses that are not IPv4 are left out. A
// failure (no such table, no right to change it) is said once through `say`, and the next turn tries again.
//
// The sets change on a thread of the object's own (tav::periodic), which the destructor stops.

#include <quorrel/DataModel.hpp>
#include <tav/periodic.hpp>

#include <functional>
#include <memory>
#include <string>

struct nft_ctx;

namespace tav::http {

class firewall_sets {
public:
    firewall_sets(const DataModel& model, std::string table, std::function<void(const std::string&)> say);
    ~firewall_sets();
    firewall_sets(const firewall_sets&) = delete;
    firewall_sets& operator=(const firewall_sets&) = delete;

    // Gives the sets their elements now, and starts the thread.
    void start();

    // The nftables commands that give the sets of `table` the elements of `access`.
    static std::string commands(const std::string& table, const DataModel::GatewayAccess& access);

private:
    // Applies the model's access when it changed since it was last applied.
    void update();

    const DataModel& model_;
    const std::string table_;
    const std::function<void(const std::string&)> say_;
    nft_ctx* nft_ = nullptr;
    bool applied_ = false;
    DataModel::GatewayAccess access_;
    std::string problem_;
    std::unique_ptr<periodic> ticks_;
};

} // namespace tav::http
