#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"
#include <boost/make_shared.hpp>

namespace tav {

namespace {
const DataModel::SeverityLevels DEFAULT_SEVERITY_LEVEL = static_cast<DataModel::SeverityLevels>(1);
}

DataModel::HTTPProtocolSettings::HTTPProtocolSettings(DataModel* owner)
    : ProtocolSettings(owner), m_isInnerTrustedDBEnabled(true), m_isInnerBlockedDBEnabled(true),
      m_isTrustedSitesEnabled(false), m_isBlockedSitesEnabled(false), m_isTrustedSitesFixed(false),
      m_isContentFiltrationEnabled(false), m_severityLevel(DEFAULT_SEVERITY_LEVEL),
      m_isInapContentWordsEnabled(false), m_isContentTypesEnabled(false) {}

namespace {

SiteIndex IndexOf(const DataModel::CustomerSites& sites) {
    std::vector<uri> urls;
    urls.reserve(sites.size());
    for (const auto& site : sites)
        urls.push_back(site->GetUrl());
    return SiteIndex(std::move(urls));
}

} // namespace

void DataModel::HTTPProtocolSettings::SetBlockedCustomerSites(const CustomerSites& sites) {
    m_blockedCustomerSites.Set(sites);
    m_blockedSiteIndex = IndexOf(sites);
}

void DataModel::HTTPProtocolSettings::SetTrustedCustomerSites(const CustomerSites& sites) {
    m_trustedCustomerSites.Set(sites);
    m_trustedSiteIndex = IndexOf(sites);
}

void DataModel::HTTPProtocolSettings::Assign(const ProtocolSettings& other) {
    // Settings of the same class give every field; the sets then share their entries.
    if (const auto* http = dynamic_cast<const HTTPProtocolSettings*>(&other))
        *this = *http;
    else
        ProtocolSettings::Assign(other);
}

namespace {

using S = DataModel::HTTPProtocolSettings;

// Blocked and trusted sites share one list element; each record says which it is.
Ret LoadSites(S& settings, const PolicyNode& list) {
    DataModel::CustomerSites blocked = settings.GetBlockedCustomerSites();
    DataModel::CustomerSites trusted = settings.GetTrustedCustomerSites();
    const Ret read = ReadRecords(
        list, u"customersite",
        [&settings] { return boost::make_shared<DataModel::CustomerSite>(settings.GetOwner(), true); },
        [&blocked, &trusted](const boost::shared_ptr<DataModel::CustomerSite>& site) {
            DataModel::CustomerSites& sites = site->GetIsBlocked() ? blocked : trusted;
            return sites.insert(site).second
                       ? Ret(Ret::OK, "")
                       : Ret(Ret::ERR, "Customer Site with the same URI already added: " + site->GetKey());
        });
    settings.SetBlockedCustomerSites(blocked);
    settings.SetTrustedCustomerSites(trusted);
    return read;
}

void SaveSites(const S& settings, PolicyNode& list) {
    WriteRecords(list, u"customersite", settings.GetBlockedCustomerSites());
    WriteRecords(list, u"customersite", settings.GetTrustedCustomerSites());
}

const PolicyFields<S>& Fields() {
    static const PolicyFields<S> fields{
        BoolField(u"isinnerblockeddbenabled", &S::GetIsInnerBlockedDBEnabled, &S::SetIsInnerBlockedDBEnabled),
        BoolField(u"isinnertrusteddbenabled", &S::GetIsInnerTrustedDBEnabled, &S::SetIsInnerTrustedDBEnabled),
        ListField<S>(u"customersites", LoadSites, SaveSites),
        BoolField(u"istrustedsitesfixed", &S::GetIsTrustedSitesFixed, &S::SetIsTrustedSitesFixed),
        BoolField(u"istrustedsitesenabled", &S::GetIsTrustedSitesEnabled, &S::SetIsTrustedSitesEnabled),
        BoolField(u"isblockedsitesenabled", &S::GetIsBlockedSitesEnabled, &S::SetIsBlockedSitesEnabled),
        SetField<DataModel::BlockedUrlWordManager, DataModel::BlockedUrlWords, S>(
            u"blockedurlwords", u"blockedurlword", &S::GetWords, &S::SetWords, "Same word already added: "),
        BoolField<DataModel::BlockedUrlWordManager, S>(
            u"blockedurlwordsenabled", &S::GetIsBlockedUrlWordsEnabled, &S::SetIsBlockedUrlWordsEnabled),
        BoolField(u"contentfiltrationenabled", &S::GetIsContentFiltrationEnabled,
                  &S::SetIsContentFiltrationEnabled),
        IntField(u"severitylevel", &S::GetSeverityLevel, &S::SetSeverityLevel),
        BoolField(u"isinapcontentwordsenabled", &S::GetIsInapContentWordsEnabled,
                  &S::SetIsInapContentWordsEnabled),
        SetField(u"inapcontentwords", u"inapcontentword", &S::GetInapContentWords, &S::SetInapContentWords,
                 "Same word already added: "),
        BoolField(u"iscontenttypesenabled", &S::GetIsContentTypesEnabled, &S::SetIsContentTypesEnabled),
        SetField(u"contenttypes", u"contenttype", &S::GetContentTypes, &S::SetContentTypes,
                 "Same content type already added: "),
    };
    return fields;
}

} // namespace

Ret DataModel::HTTPProtocolSettings::Load(const PolicyNode& record) {
    const Ret read = ReadFields(*this, record, Fields());
    return read.IsOK() ? ProtocolSettings::Load(record) : read;
}

void DataModel::HTTPProtocolSettings::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
    ProtocolSettings::Save(record);
}

} // namespace tav
