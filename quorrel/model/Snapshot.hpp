#pragma once

#include <quorrel/DataModel.hpp>

#include "Usage.hpp"

#include <ace/Guard_T.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tav {

// The policy as decisions read it: copies of the groups, with settings of their own and the lists they
// share, the clients by IP with the usage records of the stored clients, the filtration switch, the
// clock, the URL database and the safe search table. Never changed once published.
struct PolicySnapshot {
    struct Member {
        const ClientGroup* group;
        std::shared_ptr<Client::Usage> usage;
        // The client's extra minutes and the calendar time they were given.
        std::int32_t extraMinutes;
        std::int64_t extraMinutesGiven;
    };

    // A group's settings of the type, or null; without a copy of their shared pointer, whose count every
    // decision would otherwise write.
    static const ProtocolSettings* SettingsOf(const ClientGroup& group,
                                              ModelTypes::ProtocolSettingsType type) {
        const auto& all = group.GetProtocolsSettings().GetAll();
        const auto found = all.find(type);
        return found == all.end() ? nullptr : found->second.get();
    }
    // A group's HTTP settings, which every group has.
    static const HTTPProtocolSettings& HTTPOf(const ClientGroup& group) {
        return static_cast<const HTTPProtocolSettings&>(*SettingsOf(group, ModelTypes::PST_HTTP));
    }

    // The client of that IP (blanks around it ignored), or null.
    const Member* Find(const std::string& clientIP) const {
        const bool trimmed = clientIP.empty() || (!IsEmpty(clientIP.front()) && !IsEmpty(clientIP.back()));
        const auto found = trimmed ? clients.find(clientIP) : clients.find(TrimBlanks(clientIP));
        return found == clients.end() ? nullptr : &found->second;
    }

    bool filtrationOn = false;
    std::shared_ptr<const Clock> clock;
    std::shared_ptr<const urlfilter::URLFilter> urlFilter;
    // Null when the service keeps none.
    std::shared_ptr<const SafeSearch> safeSearch;
    std::map<std::string, std::unique_ptr<const ClientGroup>> groups;
    // Hashed, as every decision looks its client up.
    std::unordered_map<std::string, Member> clients;
};

// An edit of the model: holds the model lock while it lasts, and publishes the next snapshot as it ends.
class DataModel::Edit {
public:
    explicit Edit(DataModel& model) : m_guard(m_mutex), m_model(model) {}
    ~Edit() { m_model.Publish(); }
    Edit(const Edit&) = delete;
    Edit& operator=(const Edit&) = delete;

private:
    ACE_Guard<ACE_Recursive_Thread_Mutex> m_guard;
    DataModel& m_model;
};

} // namespace tav
