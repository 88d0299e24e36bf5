#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::ProtocolsSettingsContainer::ProtocolsSettingsContainer() {
    const boost::shared_ptr<ProtocolSettings> defaults[] = {
        boost::shared_ptr<ProtocolSettings>(new HTTPProtocolSettings()),
        boost::shared_ptr<ProtocolSettings>(new HTTPSProtocolSettings()),
        boost::shared_ptr<ProtocolSettings>(new DataModel::MailProtocolSettings()),
        boost::shared_ptr<ProtocolSettings>(new DataModel::SocksProtocolSettings()),
        boost::shared_ptr<ProtocolSettings>(new DataModel::FTPProtocolSettings()),
    };
    for (const boost::shared_ptr<ProtocolSettings>& settings : defaults)
        m_settings.emplace(settings->GetType(), settings);
}

ProtocolsSettingsContainer::~ProtocolsSettingsContainer() = default;

DataModel::ProtocolsSettingsContainer DataModel::ProtocolsSettingsContainer::Copy() const {
    ProtocolsSettingsContainer copy(*this);
    for (auto& entry : copy.m_settings)
        entry.second.reset(entry.second->Clone().release());
    return copy;
}

boost::shared_ptr<DataModel::ProtocolSettings>
DataModel::ProtocolsSettingsContainer::Find(ProtocolSettingsType type) const {
    const Map::const_iterator found = m_settings.find(type);
    return found == m_settings.end() ? boost::shared_ptr<ProtocolSettings>() : found->second;
}

} // namespace tav
