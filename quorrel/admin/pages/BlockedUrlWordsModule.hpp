#pragma once

// The words that block an address of the group's HTTP or HTTPS requests ("HTTPBlockedUrlWords",
// "HTTPSBlockedUrlWords"), each with the categories it stands for.

#include "RuleListModule.hpp"

#include <quorrel/BlockedUrlWord.hpp>

namespace tav::http::admin {

class BlockedUrlWordsModule : public RuleListModule<DataModel::BlockedUrlWord> {
public:
    // `type`: PST_HTTP or PST_HTTPS.
    BlockedUrlWordsModule(AdminPlugin& plugin, DataModel::ProtocolSettingsType type);

protected:
    void Read(const FormFields& fields, DataModel::BlockedUrlWord& word) const override;
    void FillRow(std::string& row, const DataModel::BlockedUrlWord& word) const override;
    void FillForm(std::string& form, const DataModel::BlockedUrlWord* word) const override;

private:
    std::string m_formRow;
};

} // namespace tav::http::admin
