#pragma once

#include <quorrel/Client.hpp>
#include <quorrel/Reason.hpp>
#include <quorrel/SafeSearch.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace tav {

// The model's answer to one request of one client, and everything the proxy checks of that request's answer
// afterwards: the content filter switch, the content type rules, the page words and the client's counters.
// It holds the policy it was made from, so a request is filtered by one policy from its first byte to its
// last, whatever is edited meanwhile, and asks nothing more of the model. A verdict made without a policy
// (the default one) allows everything and checks nothing.
class QUORREL_EXPORT Verdict : public ModelTypes {
public:
    Verdict() = default;

    bool IsAllowed() const { return m_allowed; }
    // A refusal's reason; for a request allowed in trusted-only mode, that mode's notice; else empty.
    const std::string& GetMessage() const { return m_message; }
    // The same reason as the decision found it: the step, list, source and categories.
    const Reason& GetReason() const { return m_reason; }
    // Whether the client is one of the policy's.
    bool IsClientKnown() const { return m_group != nullptr; }
    // The ID of the client's group; empty for a client the policy does not know.
    std::string GetGroupID() const;
    // How strictly the group restricts searches and YouTube (0 off, 1 moderate, 2 strict); 0 for a client
    // the policy does not know.
    std::int32_t GetSafeSearch() const;
    std::int32_t GetYouTubeRestrict() const;
    // Where the client is sent instead of `host` by its group's safe search or YouTube restriction, by the
    // safe search table of the verdict's policy; nothing when the host is not in the table, or the group's
    // level for it is off.
    SafeSearch::Redirect SafeSearchFor(const std::string& host) const;

    // Whether the answers go through the content filter; they do for a client the policy does not know.
    bool IsHTTPContentFiltrationEnabled() const;
    ContentTypeAction IsContentTypeAllowed(const std::string& contentType) const;
    // False when the text holds one of the client's inappropriate words.
    bool IsInapContentWordsAllowed(const std::string& text) const;
    // Counts the client's use into today's usage; nothing for an unknown client.
    void TickTime() const;
    void TickTraffic(std::int32_t bytes) const;

    // The policy the verdict holds, to see when it is let go.
    std::weak_ptr<const void> GetPolicy() const { return m_snapshot; }

private:
    friend class DataModel;
    using Snapshot = PolicySnapshot;

    // The group's HTTPS settings, null for a client the policy does not know.
    const HTTPSProtocolSettings* HTTPS() const;

    std::shared_ptr<const Snapshot> m_snapshot;
    // The client's group and usage record in that policy, null for an unknown client.
    const ClientGroup* m_group = nullptr;
    Client::Usage* m_usage = nullptr;
    // The client's extra minutes in that policy and the calendar time they were given.
    std::int32_t m_extraMinutes = 0;
    std::int64_t m_extraMinutesGiven = 0;
    bool m_allowed = true;
    Reason m_reason;
    // The reason's text, rendered once with the policy's clock.
    std::string m_message;
};

} // namespace tav
