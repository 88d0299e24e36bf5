#pragma once

#include <quorrel/Base.hpp>
#include <quorrel/ProtocolsSettingsContainer.hpp>

#include <array>
#include <optional>

namespace tav {

// A group of client computers with its weekly time table, daily quotas, blocked categories and
// per-protocol settings. Days are indexed 0 (Sunday) to 6 (Saturday).
class QUORREL_EXPORT ClientGroup : public Base {
public:
    static const unsigned DAYS = 7;
    // Half-hour slots of a week, Sunday 00:00 first.
    static const std::size_t TIME_TABLE_LENGTH = 336;

    explicit ClientGroup(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetTimeTable() const { return m_timeTable; }
    void SetTimeTable(const std::string& timeTable) { m_timeTable = timeTable; }
    bool GetIsTimeTableEnabled() const { return m_isTimeTableEnabled; }
    void SetIsTimeTableEnabled(bool enabled) { m_isTimeTableEnabled = enabled; }

    // Minutes a day; the day index must be 0 to 6, otherwise std::out_of_range is thrown.
    std::int32_t GetTimeLimit(unsigned iWeekDayIdx) const;
    void SetTimeLimit(unsigned iWeekDayIdx, std::int32_t minutes);
    bool GetIsTimeLimitsEnabled() const { return m_isTimeLimitsEnabled; }
    void SetIsTimeLimitsEnabled(bool enabled) { m_isTimeLimitsEnabled = enabled; }
    // Mebibytes a day, EMPTY_VALUE for no limit; the day index as for time limits.
    std::int32_t GetTrafficLimit(unsigned iWeekDayIdx) const;
    void SetTrafficLimit(unsigned iWeekDayIdx, std::int32_t mebibytes);
    bool GetIsTrafficLimitsEnabled() const { return m_isTrafficLimitsEnabled; }
    void SetIsTrafficLimitsEnabled(bool enabled) { m_isTrafficLimitsEnabled = enabled; }

    // The calendar time (seconds) until which the group's access is paused; 0 or a past time: not paused.
    std::int64_t GetPausedUntil() const { return m_pausedUntil; }
    void SetPausedUntil(std::int64_t time) { m_pausedUntil = time; }

    // Whether the group's computers may use traffic other than the web, mail and FTP (a VPN, games, a
    // site on another port) through a gateway; off by default, on for the reserved group of unrestricted
    // users, ID "2", whose file does not say.
    bool GetIsOtherTrafficEnabled() const { return m_isOtherTrafficEnabled.value_or(m_id == "2"); }
    void SetIsOtherTrafficEnabled(bool enabled) { m_isOtherTrafficEnabled = enabled; }

    std::uint32_t GetBlockedCategoriesMask() const { return m_blockedCategoriesMask; }
    void SetBlockedCategoriesMask(std::uint32_t mask) { m_blockedCategoriesMask = mask; }

    const ProtocolsSettingsContainer& GetProtocolsSettings() const { return m_protocolsSettings; }
    // The group's settings of that type, or null.
    boost::shared_ptr<ProtocolSettings> GetProtocolSettings(ProtocolSettingsType type) const;
    // The group's settings of the same type take the values of the given ones.
    void AssignProtocolSettings(const ProtocolSettings& settings);
    // A copy with settings of its own, which edits of this group do not reach.
    std::unique_ptr<ClientGroup> Copy() const;

    // The short English name of a day, as used in messages.
    static const char* DayName(unsigned iWeekDayIdx);

private:
    std::string m_id;
    std::string m_name;
    std::string m_timeTable;
    bool m_isTimeTableEnabled;
    std::array<std::int32_t, DAYS> m_timeLimits;
    bool m_isTimeLimitsEnabled;
    std::array<std::int32_t, DAYS> m_trafficLimits;
    bool m_isTrafficLimitsEnabled;
    std::uint32_t m_blockedCategoriesMask;
    std::int64_t m_pausedUntil = 0;
    std::optional<bool> m_isOtherTrafficEnabled;
    ProtocolsSettingsContainer m_protocolsSettings;
};

} // namespace tav
