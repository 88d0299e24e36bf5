#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"

namespace tav {

DataModel::HTTPSProtocolSettings::HTTPSProtocolSettings(DataModel* owner) : ProtocolSettings(owner) {}

void DataModel::HTTPSProtocolSettings::Assign(const ProtocolSettings& other) {
    // Settings of the same class give every field; the word set then shares its entries.
    if (const auto* https = dynamic_cast<const HTTPSProtocolSettings*>(&other))
        *this = *https;
    else
        ProtocolSettings::Assign(other);
}

namespace {
const PolicyFields<DataModel::HTTPSProtocolSettings>& Fields() {
    using S = DataModel::HTTPSProtocolSettings;
    static const PolicyFields<S> fields{
        SetField<DataModel::BlockedUrlWordManager, DataModel::BlockedUrlWords, S>(
            u"blockedurlwords", u"blockedurlword", &S::GetWords, &S::SetWords, "Same word already added: "),
        BoolField<DataModel::BlockedUrlWordManager, S>(
            u"blockedurlwordsenabled", &S::GetIsBlockedUrlWordsEnabled, &S::SetIsBlockedUrlWordsEnabled),
    };
    return fields;
}
} // namespace

Ret DataModel::HTTPSProtocolSettings::Load(const PolicyNode& record) {
    const Ret read = ReadFields(*this, record, Fields());
    return read.IsOK() ? ProtocolSettings::Load(record) : read;
}

void DataModel::HTTPSProtocolSettings::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
    ProtocolSettings::Save(record);
}

} // namespace tav
