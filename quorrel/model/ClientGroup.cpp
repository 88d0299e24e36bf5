#include <quorrel/DataModel.hpp>

#include <stdexcept>

namespace tav {

namespace {

const unsigned TIME_LIMIT_MAX = 1440;
const std::int32_t DEFAULT_TRAFFIC_LIMIT = 100;

void CheckDayIndex(unsigned iWeekDayIdx) {
    if (iWeekDayIdx >= DataModel::ClientGroup::DAYS)
        throw std::out_of_range("iWeekDayIdx parameter value must be from the 0 to the 6 inclusive");
}

} // namespace

const unsigned DataModel::ClientGroup::DAYS;
const std::size_t DataModel::ClientGroup::TIME_TABLE_LENGTH;

DataModel::ClientGroup::ClientGroup(DataModel* owner)
    : Base(owner), m_timeTable(TIME_TABLE_LENGTH, '1'), m_isTimeTableEnabled(false), m_timeLimits(),
      m_isTimeLimitsEnabled(false), m_isTrafficLimitsEnabled(false), m_blockedCategoriesMask(0) {
    m_trafficLimits.fill(DEFAULT_TRAFFIC_LIMIT);
}

const char* DataModel::ClientGroup::DayName(unsigned iWeekDayIdx) {
    static const char* const names[DAYS] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    CheckDayIndex(iWeekDayIdx);
    return names[iWeekDayIdx];
}

std::int32_t DataModel::ClientGroup::GetTimeLimit(unsigned iWeekDayIdx) const {
    CheckDayIndex(iWeekDayIdx);
    return m_timeLimits[iWeekDayIdx];
}

void DataModel::ClientGroup::SetTimeLimit(unsigned iWeekDayIdx, std::int32_t minutes) {
    CheckDayIndex(iWeekDayIdx);
    m_timeLimits[iWeekDayIdx] = minutes;
}

std::int32_t DataModel::ClientGroup::GetTrafficLimit(unsigned iWeekDayIdx) const {
    CheckDayIndex(iWeekDayIdx);
    return m_trafficLimits[iWeekDayIdx];
}

void DataModel::ClientGroup::SetTrafficLimit(unsigned iWeekDayIdx, std::int32_t mebibytes) {
    CheckDayIndex(iWeekDayIdx);
    m_trafficLimits[iWeekDayIdx] = mebibytes;
}

boost::shared_ptr<DataModel::ProtocolSettings>
DataModel::ClientGroup::GetProtocolSettings(ProtocolSettingsType type) const {
    return m_protocolsSettings.Find(type);
}

void DataModel::ClientGroup::AssignProtocolSettings(const ProtocolSettings& settings) {
    if (const boost::shared_ptr<ProtocolSettings> own = m_protocolsSettings.Find(settings.GetType()))
        own->Assign(settings);
}

Ret DataModel::ClientGroup::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!skipIdCheck && m_id.empty())
        problems.emplace_back("Empty ID");
    if (m_name.empty())
        problems.emplace_back("Empty Name");
    if (m_timeTable.empty())
        problems.emplace_back("Empty TimeTable");
    else if (m_timeTable.size() != TIME_TABLE_LENGTH)
        problems.emplace_back("Invalid TimeTable length");
    for (unsigned day = 0; day < DAYS; ++day) {
        const std::int32_t limit = m_timeLimits[day];
        if (limit == EMPTY_VALUE)
            problems.push_back(std::string("Empty time limit value for ") + DayName(day));
        else if (limit < 0 || limit > static_cast<std::int32_t>(TIME_LIMIT_MAX))
            problems.push_back(std::string("The time limit value for ") + DayName(day) +
                               " must be between the 0 and 1440");
    }
    for (unsigned day = 0; day < DAYS; ++day) {
        const std::int32_t limit = m_trafficLimits[day];
        if (limit != EMPTY_VALUE && limit < 0)
            problems.push_back(std::string("The traffic limit value for ") + DayName(day) +
                               " must be bigger or equals 0");
    }
    return Problems(problems);
}

} // namespace tav
