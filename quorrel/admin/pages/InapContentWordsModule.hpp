#pragma once

// The words that block a page of the group's HTTP answers when it contains one ("InapContentWords").

#include "RuleListModule.hpp"

#include <quorrel/InapContentWord.hpp>

namespace tav::http::admin {

class InapContentWordsModule : public RuleListModule<DataModel::InapContentWord> {
public:
    explicit InapContentWordsModule(AdminPlugin& plugin);

protected:
    void Read(const FormFields& fields, DataModel::InapContentWord& rule) const override;
    void FillRow(std::string& row, const DataModel::InapContentWord& rule) const override;
    void FillForm(std::string& form, const DataModel::InapContentWord* rule) const override;
};

} // namespace tav::http::admin
