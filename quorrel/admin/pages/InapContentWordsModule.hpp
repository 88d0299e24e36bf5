#pragma once

// The words that block a page of the group's HTTP answers when it contains one ("InapContentWords").

#include "RuleListModule.hpp"

#include <quorrel/InapContentWord.hpp>

namespace tav::http::admin {

class InapContentWordsModule : public RuleListModule<DataModel::InapContentWord> {
public:
    explicit InapContentWordsModule(AdminPlugin& plugin);

protected:
    std::unique_ptr<DataModel::InapContentWord> Create() const override;
    Ret Find(const std::string& groupId, const std::string& id,
             std::unique_ptr<DataModel::InapContentWord>& rule) const override;
    void List(const std::string& groupId,
              std::vector<boost::shared_ptr<DataModel::InapContentWord>>& rules) const override;
    Ret Save(const std::string& groupId, const DataModel::InapContentWord& rule) override;
    Ret Remove(const std::string& groupId, const std::vector<std::string>& ids) override;
    void Read(const FormFields& fields, DataModel::InapContentWord& rule) const override;
    void FillRow(std::string& row, const DataModel::InapContentWord& rule) const override;
    void FillForm(std::string& form, const DataModel::InapContentWord* rule) const override;
    bool IsOn(const DataModel::ProtocolSettings& settings) const override;
    void SetOn(DataModel::ProtocolSettings& settings, bool on) const override;
};

} // namespace tav::http::admin
