#pragma once

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/ProtocolSettings.hpp>

namespace tav {

// HTTPS settings: the words blocked in the addresses of secure sites.
class QUORREL_EXPORT DataModel::HTTPSProtocolSettings : public DataModel::ProtocolSettings,
                                                        public DataModel::BlockedUrlWordManager {
public:
    explicit HTTPSProtocolSettings(DataModel* owner = nullptr);

    // From HTTPS settings: every field, sharing the word objects; from others: the common switches.
    void Assign(const ProtocolSettings& other) override;
    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    ProtocolSettingsType GetType() const override { return PST_HTTPS; }
    std::unique_ptr<ProtocolSettings> Clone() const override {
        return std::make_unique<HTTPSProtocolSettings>(*this);
    }
};

} // namespace tav
