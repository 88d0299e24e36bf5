#include <quorrel/DataModel.hpp>

#include <cstdio>
#include <ctime>

namespace tav {

Reason::Reason(Step step, ProtocolSettingsType settings, Source source, std::uint32_t categories,
               const Category* category, std::int64_t pausedUntil)
    : m_step(step), m_settings(settings), m_source(source), m_categories(categories), m_category(category),
      m_pausedUntil(pausedUntil) {}

std::string Reason::Text(const Clock& clock) const {
    switch (m_step) {
    case Step::None:
        return std::string();
    case Step::UnknownClient:
        return "Unknown client";
    case Step::UnknownProtocol:
        return "Unknown protocol";
    case Step::NetworkOff:
        return "You are prohibited to access the internet";
    case Step::Paused: {
        const std::tm end = clock.LocalTime(m_pausedUntil);
        char time[32];
        std::snprintf(time, sizeof time, "%02d:%02d", end.tm_hour, end.tm_min);
        return std::string("Internet access is paused until ") + time;
    }
    case Step::AddressByIP:
        return "You can not access web sites through ip addresses";
    case Step::TimeTable:
        return "You are prohibited to access the internet at this time";
    case Step::TimeLimit:
        return "You are exhaust your time limits";
    case Step::TrafficLimit:
        return "You are exhaust your traffic limits";
    case Step::TrustedOnly:
        return "You can access Customer Trusted Sites only";
    case Step::BlockedSite:
        return "Site is blocked by Customer Blocked Sites List";
    case Step::Category:
        return m_category != nullptr ? "You are prohibited to access the sites of '" + m_category->GetName() +
                                           "' category (Inner DB)"
                                     : std::string();
    case Step::BlockedWord:
        return "Url you go contains a blocked word";
    }
    return std::string();
}

bool Reason::operator==(const Reason& other) const {
    return m_step == other.m_step && m_settings == other.m_settings && m_source == other.m_source &&
           m_categories == other.m_categories && m_category == other.m_category &&
           m_pausedUntil == other.m_pausedUntil;
}

} // namespace tav
