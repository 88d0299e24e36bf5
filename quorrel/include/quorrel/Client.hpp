#pragma once

#include <quorrel/Base.hpp>
#include <quorrel/Clock.hpp>

#include <cstdint>
#include <memory>

namespace tav {

// One computer on the network, known by its IP address, and its usage today.
class QUORREL_EXPORT Client : public Base {
public:
    // The record that today's counts live in, with a lock of its own: the model's decisions share the
    // stored client's record and tick it without the model lock. A copied client gets a record of its
    // own with the same counts; assigning a client sets the counts of the record it has.
    class Usage;

    explicit Client(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetIP() const { return m_ip; }
    void SetIP(const std::string& ip) { m_ip = ip; }
    const std::string& GetGroupID() const { return m_groupId; }
    // Stores the ID and resolves the group through the owning model at once.
    void SetGroupID(const std::string& groupId);
    ClientGroup* GetGroupPtr() const { return m_pGroup; }
    const std::string& GetLogin() const { return m_login; }
    // The computer as people are shown it: "login (IP)", or its IP alone without a login.
    std::string GetDisplayName() const;
    void SetLogin(const std::string& login) { m_login = login; }
    const std::string& GetPassword() const { return m_password; }
    void SetPassword(const std::string& password) { m_password = password; }

    // Minutes given to the client beyond its group's rules, and the calendar time (seconds) they were
    // given; they hold for that local day only, and a day holds at most EXTRA_MINUTES_MAX.
    static constexpr std::int32_t EXTRA_MINUTES_MAX = 1440;
    std::int32_t GetExtraMinutes() const { return m_extraMinutes; }
    void SetExtraMinutes(std::int32_t minutes) { m_extraMinutes = minutes; }
    std::int64_t GetExtraMinutesGiven() const { return m_extraMinutesGiven; }
    void SetExtraMinutesGiven(std::int64_t time) { m_extraMinutesGiven = time; }

    // Seconds of use counted today.
    std::int32_t GetDailyWorkedTime() const;
    void SetDailyWorkedTime(std::int32_t seconds);
    std::int64_t GetDailyWorkedTimeLastUpdate() const;
    void SetDailyWorkedTimeLastUpdate(std::int64_t time);
    // Bytes counted today.
    std::int32_t GetDailyWorkedTraffic() const;
    void SetDailyWorkedTraffic(std::int32_t bytes);
    std::int64_t GetDailyWorkedTrafficLastUpdate() const;
    void SetDailyWorkedTrafficLastUpdate(std::int64_t time);

    // Usage today as the clock tells it: 0 before the first tick of the local day.
    std::int32_t GetDailyWorkedTime(const Clock& clock) const;
    std::int32_t GetDailyWorkedTraffic(const Clock& clock) const;
    // Counts the time since the previous tick as use when it is shorter than five minutes; a
    // longer gap is a pause. The count restarts with each local day.
    void TickTime(const Clock& clock);
    // Adds bytes to today's count, which stops at the largest 32-bit value instead of wrapping.
    void TickTraffic(const Clock& clock, std::int32_t bytes);

    const std::shared_ptr<Usage>& GetUsage() const { return m_usage.record; }
    // Takes the other client's record itself, counts and all.
    void ShareUsage(const Client& other) { m_usage.record = other.m_usage.record; }

private:
    // Gives copies of a client records of their own.
    struct UsageHandle {
        UsageHandle();
        UsageHandle(const UsageHandle& other);
        UsageHandle& operator=(const UsageHandle& other);
        ~UsageHandle();
        std::shared_ptr<Usage> record;
    };

    std::string m_id;
    std::string m_ip;
    std::string m_groupId;
    ClientGroup* m_pGroup;
    std::string m_login;
    std::string m_password;
    std::int32_t m_extraMinutes = 0;
    std::int64_t m_extraMinutesGiven = 0;
    UsageHandle m_usage;
};

} // namespace tav
