#pragma once

#include <quorrel/ModelTypes.hpp>

#include <cstdint>
#include <string>

namespace tav {

class Clock;

// Why a decision answered as it did: the step of the decision that refused the request (or, for trusted-only
// mode, that allowed it with a notice), the protocol settings and list whose rule it was, the blocked
// categories it found and, for a pause, when the pause ends. The proxy, the blocking page, the policy check,
// the URL test and the activity page all read it from the decision instead of working it out again.
class QUORREL_EXPORT Reason : public ModelTypes {
public:
    enum class Step : std::uint8_t {
        // Nothing stood in the way.
        None,
        UnknownClient,
        // The client's group has no settings for the protocol.
        UnknownProtocol,
        // The protocol's network switch is off.
        NetworkOff,
        Paused,
        // The host is an IP address and the settings do not allow access by address.
        AddressByIP,
        // Outside the time table, with no extra minutes that hold now.
        TimeTable,
        TimeLimit,
        TrafficLimit,
        // Trusted-only mode: refuses a site off the trusted list, and is the notice of one on it.
        TrustedOnly,
        BlockedSite,
        Category,
        BlockedWord,
    };
    // Where the rule that answered comes from.
    enum class Source : std::uint8_t {
        None,
        // The group's own trusted or blocked sites, or its blocked words.
        GroupList,
        URLDatabase,
    };

    Reason() = default;
    Reason(Step step, ProtocolSettingsType settings, Source source = Source::None,
           std::uint32_t categories = 0, const Category* category = nullptr, std::int64_t pausedUntil = 0);

    Step GetStep() const { return m_step; }
    Source GetSource() const { return m_source; }
    // The settings whose rule answered: the protocol's, or the HTTP settings for the site rules, which hold
    // for both HTTP and HTTPS; none for a step before the settings are found.
    ProtocolSettingsType GetSettingsType() const { return m_settings; }
    // The blocked categories found (bit n-1 for category n); for a category, those of the site that the
    // group blocks, for a word, those of the words found that it blocks.
    std::uint32_t GetCategories() const { return m_categories; }
    // The category that a refusal of a category names: the one of the smallest ID; null for another step.
    const Category* GetCategory() const { return m_category; }
    // The calendar second a pause ends.
    std::int64_t GetPausedUntil() const { return m_pausedUntil; }

    // The text the proxy and the blocking page show, with the end of a pause by the clock's local time;
    // empty for none.
    std::string Text(const Clock& clock) const;

    bool operator==(const Reason& other) const;
    bool operator!=(const Reason& other) const { return !(*this == other); }

private:
    Step m_step = Step::None;
    ProtocolSettingsType m_settings = ProtocolSettingsType();
    Source m_source = Source::None;
    std::uint32_t m_categories = 0;
    const Category* m_category = nullptr;
    std::int64_t m_pausedUntil = 0;
};

} // namespace tav
