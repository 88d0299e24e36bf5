#include <quorrel/DataModel.hpp>

namespace tav {

namespace {
const DataModel::SeverityLevels DEFAULT_SEVERITY_LEVEL = static_cast<DataModel::SeverityLevels>(1);
}

DataModel::HTTPProtocolSettings::HTTPProtocolSettings(DataModel* owner)
    : ProtocolSettings(owner), m_isInnerTrustedDBEnabled(true), m_isInnerBlockedDBEnabled(true),
      m_isTrustedSitesEnabled(false), m_isBlockedSitesEnabled(false), m_isTrustedSitesFixed(false),
      m_isBlockedUrlWordsEnabled(false), m_isContentFiltrationEnabled(false),
      m_severityLevel(DEFAULT_SEVERITY_LEVEL), m_isInapContentWordsEnabled(false),
      m_isContentTypesEnabled(false) {}

void DataModel::HTTPProtocolSettings::Assign(const ProtocolSettings& other) {
    // Settings of the same class give every field; the sets then share their entries.
    if (const auto* http = dynamic_cast<const HTTPProtocolSettings*>(&other))
        *this = *http;
    else
        ProtocolSettings::Assign(other);
}

} // namespace tav
