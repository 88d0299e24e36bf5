#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

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

std::unique_ptr<DataModel::ClientGroup> DataModel::ClientGroup::Copy() const {
    auto copy = std::make_unique<ClientGroup>(*this);
    copy->m_protocolsSettings = m_protocolsSettings.Copy();
    return copy;
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
    if (m_pausedUntil < 0)
        problems.emplace_back("The paused until value must be bigger or equals 0");
    return Problems(problems);
}

namespace {

using G = DataModel::ClientGroup;

const XMLCh* const TIME_LIMIT_NAMES[G::DAYS] = {u"timelimitssun", u"timelimitsmon", u"timelimitstue",
                                                u"timelimitswed", u"timelimitsthu", u"timelimitsfri",
                                                u"timelimitssat"};
const XMLCh* const TRAFFIC_LIMIT_NAMES[G::DAYS] = {
    u"trafficlimitssun", u"trafficlimitsmon", u"trafficlimitstue", u"trafficlimitswed",
    u"trafficlimitsthu", u"trafficlimitsfri", u"trafficlimitssat"};

// The element of each protocol's settings, in write order.
const std::pair<DataModel::ProtocolSettingsType, const XMLCh*> PROTOCOL_NAMES[] = {
    {DataModel::PST_HTTP, u"httpprotocolsettings"}, {DataModel::PST_HTTPS, u"httpsprotocolsettings"},
    {DataModel::PST_MAIL, u"mailprotocolsettings"}, {DataModel::PST_SOCKS, u"socksprotocolsettings"},
    {DataModel::PST_FTP, u"ftpprotocolsettings"},
};

// Each known protocol element is read into the group's own settings of that type.
Ret LoadProtocolsSettings(G& group, const PolicyNode& container) {
    for (xercesc::DOMElement* child = container.Element()->getFirstElementChild(); child;
         child = child->getNextElementSibling())
        for (const auto& [type, name] : PROTOCOL_NAMES)
            if (PolicyXml::Is(child, name)) {
                if (const boost::shared_ptr<DataModel::ProtocolSettings> settings =
                        group.GetProtocolSettings(type)) {
                    const Ret read = settings->Load(PolicyNode(child));
                    if (read.GetCode() != Ret::OK)
                        return read;
                }
                break;
            }
    return Ret(Ret::OK, "");
}

void SaveProtocolsSettings(const G& group, PolicyNode& container) {
    for (const auto& [type, name] : PROTOCOL_NAMES)
        if (const boost::shared_ptr<DataModel::ProtocolSettings> settings = group.GetProtocolSettings(type))
            AppendRecord(container, name, *settings);
}

PolicyField<G> DayField(const XMLCh* name, unsigned day, std::int32_t (G::*get)(unsigned) const,
                        void (G::*set)(unsigned, std::int32_t)) {
    return {name, [day, get](const G& group) { return ToString((group.*get)(day)); },
            [day, set](G& group, const std::string& text) { (group.*set)(day, ToInt(text)); }, nullptr,
            nullptr};
}

PolicyFields<G> MakeFields() {
    PolicyFields<G> fields{
        TextField(u"id", &G::GetID, &G::SetID),
        TextField(u"name", &G::GetName, &G::SetName),
        TextField(u"timetable", &G::GetTimeTable, &G::SetTimeTable),
        BoolField(u"istimetableenabled", &G::GetIsTimeTableEnabled, &G::SetIsTimeTableEnabled),
    };
    for (unsigned day = 0; day < G::DAYS; ++day)
        fields.push_back(DayField(TIME_LIMIT_NAMES[day], day, &G::GetTimeLimit, &G::SetTimeLimit));
    fields.push_back(BoolField(u"timelimitsenabled", &G::GetIsTimeLimitsEnabled, &G::SetIsTimeLimitsEnabled));
    for (unsigned day = 0; day < G::DAYS; ++day)
        fields.push_back(DayField(TRAFFIC_LIMIT_NAMES[day], day, &G::GetTrafficLimit, &G::SetTrafficLimit));
    fields.push_back(
        BoolField(u"trafficlimitsenabled", &G::GetIsTrafficLimitsEnabled, &G::SetIsTrafficLimitsEnabled));
    fields.push_back(
        IntField(u"blockedcategoriesmask", &G::GetBlockedCategoriesMask, &G::SetBlockedCategoriesMask, 16));
    fields.push_back(
        BoolField(u"isothertrafficenabled", &G::GetIsOtherTrafficEnabled, &G::SetIsOtherTrafficEnabled));
    fields.push_back(WhenSet(TimeField(u"pauseduntil", &G::GetPausedUntil, &G::SetPausedUntil)));
    fields.push_back(ListField<G>(u"protocolssettings", LoadProtocolsSettings, SaveProtocolsSettings));
    return fields;
}

const PolicyFields<G>& Fields() {
    static const PolicyFields<G> fields = MakeFields();
    return fields;
}

} // namespace

Ret DataModel::ClientGroup::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::ClientGroup::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
