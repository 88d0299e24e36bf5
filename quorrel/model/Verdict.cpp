#include <quorrel/Verdict.hpp>

#include "Snapshot.hpp"

namespace tav {

std::string DataModel::Verdict::GetGroupID() const {
    return m_group != nullptr ? m_group->GetID() : std::string();
}

const DataModel::HTTPSProtocolSettings* DataModel::Verdict::HTTPS() const {
    return m_group == nullptr
               ? nullptr
               : static_cast<const HTTPSProtocolSettings*>(Snapshot::SettingsOf(*m_group, PST_HTTPS));
}

std::int32_t DataModel::Verdict::GetSafeSearch() const {
    const HTTPSProtocolSettings* https = HTTPS();
    return https != nullptr ? https->GetSafeSearch() : 0;
}

std::int32_t DataModel::Verdict::GetYouTubeRestrict() const {
    const HTTPSProtocolSettings* https = HTTPS();
    return https != nullptr ? https->GetYouTubeRestrict() : 0;
}

SafeSearch::Redirect DataModel::Verdict::SafeSearchFor(const std::string& host) const {
    // Most groups restrict nothing: they do not read the table.
    const std::int32_t search = GetSafeSearch();
    const std::int32_t youTube = GetYouTubeRestrict();
    if (search <= 0 && youTube <= 0)
        return SafeSearch::Redirect();
    const SafeSearch* table = m_snapshot->safeSearch.get();
    return table != nullptr ? table->For(host, search, youTube) : SafeSearch::Redirect();
}

bool DataModel::Verdict::IsHTTPContentFiltrationEnabled() const {
    if (!m_snapshot || !m_snapshot->filtrationOn)
        return false;
    if (!m_group)
        return true;
    const HTTPProtocolSettings& http = Snapshot::HTTPOf(*m_group);
    return http.GetIsNetworkEnabled() && http.GetIsFiltrationEnabled() &&
           http.GetIsContentFiltrationEnabled();
}

DataModel::ContentTypeAction DataModel::Verdict::IsContentTypeAllowed(const std::string& contentType) const {
    if (!m_snapshot)
        return PassingThrough;
    if (!m_group)
        return Preventing;
    const HTTPProtocolSettings& http = Snapshot::HTTPOf(*m_group);
    if (!http.GetIsContentTypesEnabled())
        return Filtering;
    const std::string folded = FoldCase(contentType, false);
    for (const auto& rule : http.GetContentTypes())
        if (folded.compare(0, rule->GetFoldedType().size(), rule->GetFoldedType()) == 0)
            return rule->GetAction();
    return Filtering;
}

bool DataModel::Verdict::IsInapContentWordsAllowed(const std::string& text) const {
    if (!m_snapshot)
        return true;
    if (!m_group)
        return false;
    const HTTPProtocolSettings& http = Snapshot::HTTPOf(*m_group);
    if (!http.GetIsInapContentWordsEnabled())
        return true;
    const std::string folded = FoldCase(text, true);
    for (const auto& word : http.GetInapContentWords())
        if (folded.find(word->GetFoldedWord()) != std::string::npos)
            return false;
    return true;
}

void DataModel::Verdict::TickTime() const {
    if (m_usage)
        m_usage->TickTime(*m_snapshot->clock);
}

void DataModel::Verdict::TickTraffic(std::int32_t bytes) const {
    if (m_usage)
        m_usage->TickTraffic(*m_snapshot->clock, bytes);
}

} // namespace tav
