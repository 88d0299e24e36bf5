#pragma once

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/ProtocolSettings.hpp>

#include <cstdint>

namespace tav {

// HTTPS settings: the words blocked in the addresses of secure sites.
class QUORREL_EXPORT HTTPSProtocolSettings : public ProtocolSettings, public BlockedUrlWordManager {
public:
    explicit HTTPSProtocolSettings(DataModel* owner = nullptr);

    // From HTTPS settings: every field, sharing the word objects; from others: the common switches.
    void Assign(const ProtocolSettings& other) override;
    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    // The safe search and YouTube levels must be 0, 1 or 2.
    Ret Validate(bool skipIdCheck) const override;
    ProtocolSettingsType GetType() const override { return PST_HTTPS; }
    std::unique_ptr<ProtocolSettings> Clone() const override {
        return std::make_unique<HTTPSProtocolSettings>(*this);
    }

    // How strictly searches and YouTube are restricted for the group, over HTTPS and HTTP alike: 0 off,
    // 1 moderate, 2 strict.
    std::int32_t GetSafeSearch() const { return m_safeSearch; }
    void SetSafeSearch(std::int32_t level) { m_safeSearch = level; }
    std::int32_t GetYouTubeRestrict() const { return m_youTubeRestrict; }
    void SetYouTubeRestrict(std::int32_t level) { m_youTubeRestrict = level; }

private:
    std::int32_t m_safeSearch = 0;
    std::int32_t m_youTubeRestrict = 0;
};

} // namespace tav
