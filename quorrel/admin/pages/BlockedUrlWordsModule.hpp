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
    std::unique_ptr<DataModel::BlockedUrlWord> Create() const override;
    Ret Find(const std::string& groupId, const std::string& id,
             std::unique_ptr<DataModel::BlockedUrlWord>& word) const override;
    void List(const std::string& groupId,
              std::vector<boost::shared_ptr<DataModel::BlockedUrlWord>>& words) const override;
    Ret Save(const std::string& groupId, const DataModel::BlockedUrlWord& word) override;
    Ret Remove(const std::string& groupId, const std::vector<std::string>& ids) override;
    void Read(const FormFields& fields, DataModel::BlockedUrlWord& word) const override;
    void FillRow(std::string& row, const DataModel::BlockedUrlWord& word) const override;
    void FillForm(std::string& form, const DataModel::BlockedUrlWord* word) const override;
    bool IsOn(const DataModel::ProtocolSettings& settings) const override;
    void SetOn(DataModel::ProtocolSettings& settings, bool on) const override;

private:
    std::string m_formRow;
};

} // namespace tav::http::admin
