#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

namespace tav {

DataModel::ProtocolSettings::ProtocolSettings(DataModel* owner)
    : Base(owner), m_isNetworkEnabled(true), m_isFiltrationEnabled(true), m_canAccessByIP(false) {}

// Copies belong to no model.
DataModel::ProtocolSettings::ProtocolSettings(const ProtocolSettings& other)
    : Base(nullptr), m_isNetworkEnabled(other.m_isNetworkEnabled),
      m_isFiltrationEnabled(other.m_isFiltrationEnabled), m_canAccessByIP(other.m_canAccessByIP) {}

DataModel::ProtocolSettings& DataModel::ProtocolSettings::operator=(const ProtocolSettings& other) {
    ProtocolSettings::Assign(other);
    m_pOwner = nullptr;
    return *this;
}

ProtocolSettings::~ProtocolSettings() = default;

Ret DataModel::ProtocolSettings::Validate(bool) const {
    return Problem("");
}

void DataModel::ProtocolSettings::Assign(const ProtocolSettings& other) {
    m_isNetworkEnabled = other.m_isNetworkEnabled;
    m_isFiltrationEnabled = other.m_isFiltrationEnabled;
    m_canAccessByIP = other.m_canAccessByIP;
}

namespace {
const PolicyFields<DataModel::ProtocolSettings>& Fields() {
    using P = DataModel::ProtocolSettings;
    static const PolicyFields<P> fields{
        BoolField(u"networkenabled", &P::GetIsNetworkEnabled, &P::SetIsNetworkEnabled),
        BoolField(u"filtrationenabled", &P::GetIsFiltrationEnabled, &P::SetIsFiltrationEnabled),
        BoolField(u"canaccessbyip", &P::GetCanAccessByIP, &P::SetCanAccessByIP),
    };
    return fields;
}
} // namespace

Ret DataModel::ProtocolSettings::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::ProtocolSettings::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
