#pragma once

#include <quorrel/ModelTypes.hpp>

#include <boost/shared_ptr.hpp>

#include <map>

namespace tav {

// A group's settings objects, one per protocol type, held through shared pointers so that a
// copied group shares them with the group it was copied from.
class QUORREL_EXPORT ProtocolsSettingsContainer : public ModelTypes {
public:
    typedef std::map<ProtocolSettingsType, boost::shared_ptr<ProtocolSettings>> Map;

    // One default settings object of each of the five types.
    ProtocolsSettingsContainer();
    ProtocolsSettingsContainer(const ProtocolsSettingsContainer&) = default;
    ProtocolsSettingsContainer& operator=(const ProtocolsSettingsContainer&) = default;
    virtual ~ProtocolsSettingsContainer();

    // The settings of that type, or null.
    boost::shared_ptr<ProtocolSettings> Find(ProtocolSettingsType type) const;
    const Map& GetAll() const { return m_settings; }
    // A copy whose settings are copies too, which edits of these settings do not reach.
    ProtocolsSettingsContainer Copy() const;

private:
    Map m_settings;
};

} // namespace tav
