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

Ret DataModel::HTTPSProtocolSettings::Load(const xercesc::DOMElement* element) {
    const Ret read = ReadFields(*this, element, Fields());
    return read.IsOK() ? ProtocolSettings::Load(element) : read;
}

void DataModel::HTTPSProtocolSettings::Save(xercesc::DOMDocument* document,
                                            xercesc::DOMElement* element) const {
    WriteFields(*this, document, element, Fields());
    ProtocolSettings::Save(document, element);
}

} // namespace tav
