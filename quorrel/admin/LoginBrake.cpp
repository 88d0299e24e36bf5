#include <quorrel/admin/LoginBrake.hpp>

namespace tav::http::admin {

LoginBrake::LoginBrake(std::size_t attempts, clock::duration window, std::size_t addresses)
    : m_attempts(attempts), m_window(window), m_addresses(addresses) {}

LoginBrake::Entry* LoginBrake::Find(const std::string& client, bool create) {
    auto found = m_entries.find(client);
    if (found == m_entries.end()) {
        if (!create)
            return nullptr;
        if (m_entries.size() >= m_addresses) {
            m_entries.erase(m_ages.front());
            m_ages.pop_front();
        }
        found = m_entries.emplace(client, Entry{}).first;
        found->second.age = m_ages.insert(m_ages.end(), client);
    } else {
        m_ages.splice(m_ages.end(), m_ages, found->second.age);
    }
    return &found->second;
}

LoginBrake::clock::duration LoginBrake::Wait(const std::string& client, clock::time_point now) {
    const std::lock_guard<std::mutex> lock(m_attemptsMutex);
    const Entry* entry = Find(client, false);
    return entry != nullptr && entry->lockedUntil > now ? entry->lockedUntil - now : clock::duration::zero();
}

bool LoginBrake::Failed(const std::string& client, clock::time_point now) {
    const std::lock_guard<std::mutex> lock(m_attemptsMutex);
    Entry& entry = *Find(client, true);
    while (!entry.failures.empty() && now - entry.failures.front() >= m_window)
        entry.failures.pop_front();
    entry.failures.push_back(now);
    if (entry.failures.size() < m_attempts)
        return false;
    entry.failures.clear();
    entry.lockedUntil = now + m_window;
    return true;
}

void LoginBrake::Succeeded(const std::string& client) {
    const std::lock_guard<std::mutex> lock(m_attemptsMutex);
    if (Entry* entry = Find(client, false))
        entry->failures.clear();
}

} // namespace tav::http::admin
