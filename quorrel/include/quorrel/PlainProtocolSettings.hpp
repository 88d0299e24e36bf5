#pragma once

#include <quorrel/ProtocolSettings.hpp>

namespace tav {

// Settings of a protocol that has only the common switches: mail, SOCKS and FTP.
template <ModelTypes::ProtocolSettingsType Type> class PlainProtocolSettings : public ProtocolSettings {
public:
    explicit PlainProtocolSettings(DataModel* owner = nullptr) : ProtocolSettings(owner) {}

    ProtocolSettingsType GetType() const override { return Type; }
    std::unique_ptr<ProtocolSettings> Clone() const override {
        return std::make_unique<PlainProtocolSettings>(*this);
    }
};

} // namespace tav
