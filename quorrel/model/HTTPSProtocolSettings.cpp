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
bool IsLevel(std::int32_t level) {
    return level >= 0 && level <= 2;
}
} // namespace

Ret DataModel::HTTPSProtocolSettings::Validate(bool skipIdCheck) const {
    std::vector<std::string> problems;
    if (!IsLevel(m_safeSearch))
        problems.emplace_back("The safe search value must be 0, 1 or 2");
    if (!IsLevel(m_youTubeRestrict))
        problems.emplace_back("The YouTube restriction value must be 0, 1 or 2");
    return problems.empty() ? ProtocolSettings::Validate(skipIdCheck) : Problems(problems);
}

namespace {
const PolicyFields<DataModel::HTTPSProtocolSettings>& Fields() {
    using S = DataModel::HTTPSProtocolSettings;
    static const PolicyFields<S> fields{
        SetField<DataModel::BlockedUrlWordManager, DataModel::BlockedUrlWords, S>(
            u"blockedurlwords", u"blockedurlword", &S::GetWords, &S::SetWords, "Same word already added: "),
        BoolField<DataModel::BlockedUrlWordManager, S>(
            u"blockedurlwordsenabled", &S::GetIsBlockedUrlWordsEnabled, &S::SetIsBlockedUrlWordsEnabled),
        WhenSet(IntField(u"safesearch", &S::GetSafeSearch, &S::SetSafeSearch)),
        WhenSet(IntField(u"youtuberestrict", &S::GetYouTubeRestrict, &S::SetYouTubeRestrict)),
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
