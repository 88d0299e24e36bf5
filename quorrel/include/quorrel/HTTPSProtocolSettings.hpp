#pragma once

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/ProtocolSettings.hpp>
#include <quorrel/SharedValue.hpp>

namespace tav {

class QUORREL_EXPORT DataModel::HTTPSProtocolSettings : public DataModel::ProtocolSettings,
                                                        public DataModel::BlockedUrlWordManager {
public:
    explicit HTTPSProtocolSettings(DataModel* owner = nullptr);

    // From HTTPS settings: every field, sharing the word objects; from others: the common switches.
    void Assign(const ProtocolSettings& other) override;
    Ret Load(const xercesc::DOMElement* element) override;
    void Save(xercesc::DOMDocument* document, xercesc::DOMElement* element) const override;
    ProtocolSettingsType GetType() const override { return PST_HTTPS; }
    std::unique_ptr<ProtocolSettings> Clone() const override {
        return std::make_unique<HTTPSProtocolSettings>(*this);
    }

    const BlockedUrlWords& GetWords() const override { return m_blockedUrlWords.Get(); }
    void SetWords(const BlockedUrlWords& words) override { m_blockedUrlWords.Set(words); }
    bool GetIsBlockedUrlWordsEnabled() const override { return m_isBlockedUrlWordsEnabled; }
    void SetIsBlockedUrlWordsEnabled(bool enabled) override { m_isBlockedUrlWordsEnabled = enabled; }

private:
    SharedValue<BlockedUrlWords> m_blockedUrlWords;
    bool m_isBlockedUrlWordsEnabled;
};

} // namespace tav
