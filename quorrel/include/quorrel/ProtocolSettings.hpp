#pragma once

#include <quorrel/Base.hpp>

#include <memory>

namespace tav {

// The switches every protocol has. Settings objects belong to a group, never to the model
// directly, so copies carry no owner.
class QUORREL_EXPORT ProtocolSettings : public Base {
public:
    ~ProtocolSettings() override;

    // The common switches have nothing that can be wrong; HTTPS settings check their safe search levels.
    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;
    // Takes the values of other settings of the same type; here the three common switches.
    virtual void Assign(const ProtocolSettings& other);
    virtual ProtocolSettingsType GetType() const = 0;
    // A copy of the same class.
    virtual std::unique_ptr<ProtocolSettings> Clone() const = 0;

    bool GetIsNetworkEnabled() const { return m_isNetworkEnabled; }
    void SetIsNetworkEnabled(bool enabled) { m_isNetworkEnabled = enabled; }
    bool GetIsFiltrationEnabled() const { return m_isFiltrationEnabled; }
    void SetIsFiltrationEnabled(bool enabled) { m_isFiltrationEnabled = enabled; }
    bool GetCanAccessByIP() const { return m_canAccessByIP; }
    void SetCanAccessByIP(bool can) { m_canAccessByIP = can; }

protected:
    explicit ProtocolSettings(DataModel* owner);
    ProtocolSettings(const ProtocolSettings& other);
    ProtocolSettings& operator=(const ProtocolSettings& other);

private:
    bool m_isNetworkEnabled;
    bool m_isFiltrationEnabled;
    bool m_canAccessByIP;
};

} // namespace tav
