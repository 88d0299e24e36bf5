#pragma once

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/ProtocolSettings.hpp>
#include <quorrel/SharedValue.hpp>
#include <quorrel/SiteIndex.hpp>

namespace tav {

// HTTP settings: the customer's own site lists, the switches of the inner URL database, blocked
// URL words, content filtration with its words and the content type rules.
class QUORREL_EXPORT HTTPProtocolSettings : public ProtocolSettings, public BlockedUrlWordManager {
public:
    explicit HTTPProtocolSettings(DataModel* owner = nullptr);

    // From HTTP settings: every field, the lists sharing their entries; from others: the common switches.
    void Assign(const ProtocolSettings& other) override;
    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    ProtocolSettingsType GetType() const override { return PST_HTTP; }
    std::unique_ptr<ProtocolSettings> Clone() const override {
        return std::make_unique<HTTPProtocolSettings>(*this);
    }

    bool GetIsInnerTrustedDBEnabled() const { return m_isInnerTrustedDBEnabled; }
    void SetIsInnerTrustedDBEnabled(bool enabled) { m_isInnerTrustedDBEnabled = enabled; }
    bool GetIsInnerBlockedDBEnabled() const { return m_isInnerBlockedDBEnabled; }
    void SetIsInnerBlockedDBEnabled(bool enabled) { m_isInnerBlockedDBEnabled = enabled; }
    const CustomerSites& GetBlockedCustomerSites() const { return m_blockedCustomerSites.Get(); }
    void SetBlockedCustomerSites(const CustomerSites& sites);
    const CustomerSites& GetTrustedCustomerSites() const { return m_trustedCustomerSites.Get(); }
    void SetTrustedCustomerSites(const CustomerSites& sites);
    // The lists by host, for matching requests; kept with the lists by their setters.
    const SiteIndex& GetBlockedSiteIndex() const { return m_blockedSiteIndex; }
    const SiteIndex& GetTrustedSiteIndex() const { return m_trustedSiteIndex; }
    bool GetIsTrustedSitesEnabled() const { return m_isTrustedSitesEnabled; }
    void SetIsTrustedSitesEnabled(bool enabled) { m_isTrustedSitesEnabled = enabled; }
    bool GetIsBlockedSitesEnabled() const { return m_isBlockedSitesEnabled; }
    void SetIsBlockedSitesEnabled(bool enabled) { m_isBlockedSitesEnabled = enabled; }
    bool GetIsTrustedSitesFixed() const { return m_isTrustedSitesFixed; }
    void SetIsTrustedSitesFixed(bool fixed) { m_isTrustedSitesFixed = fixed; }

    bool GetIsContentFiltrationEnabled() const { return m_isContentFiltrationEnabled; }
    void SetIsContentFiltrationEnabled(bool enabled) { m_isContentFiltrationEnabled = enabled; }
    SeverityLevels GetSeverityLevel() const { return m_severityLevel; }
    void SetSeverityLevel(SeverityLevels level) { m_severityLevel = level; }
    bool GetIsInapContentWordsEnabled() const { return m_isInapContentWordsEnabled; }
    void SetIsInapContentWordsEnabled(bool enabled) { m_isInapContentWordsEnabled = enabled; }
    const InapContentWords& GetInapContentWords() const { return m_inapContentWords.Get(); }
    void SetInapContentWords(const InapContentWords& words) { m_inapContentWords.Set(words); }
    bool GetIsContentTypesEnabled() const { return m_isContentTypesEnabled; }
    void SetIsContentTypesEnabled(bool enabled) { m_isContentTypesEnabled = enabled; }
    const ContentTypes& GetContentTypes() const { return m_contentTypes.Get(); }
    void SetContentTypes(const ContentTypes& types) { m_contentTypes.Set(types); }

private:
    bool m_isInnerTrustedDBEnabled;
    bool m_isInnerBlockedDBEnabled;
    SharedValue<CustomerSites> m_blockedCustomerSites;
    SharedValue<CustomerSites> m_trustedCustomerSites;
    SiteIndex m_blockedSiteIndex;
    SiteIndex m_trustedSiteIndex;
    bool m_isTrustedSitesEnabled;
    bool m_isBlockedSitesEnabled;
    bool m_isTrustedSitesFixed;
    bool m_isContentFiltrationEnabled;
    SeverityLevels m_severityLevel;
    bool m_isInapContentWordsEnabled;
    SharedValue<InapContentWords> m_inapContentWords;
    bool m_isContentTypesEnabled;
    SharedValue<ContentTypes> m_contentTypes;
};

} // namespace tav
