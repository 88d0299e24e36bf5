#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::HTTPSProtocolSettings::HTTPSProtocolSettings(DataModel* owner)
    : ProtocolSettings(owner), m_isBlockedUrlWordsEnabled(false) {}

void DataModel::HTTPSProtocolSettings::Assign(const ProtocolSettings& other) {
    // Settings of the same class give every field; the word set then shares its entries.
    if (const auto* https = dynamic_cast<const HTTPSProtocolSettings*>(&other))
        *this = *https;
    else
        ProtocolSettings::Assign(other);
}

} // namespace tav
