#pragma once

// The content types of the group's HTTP answers and what the filter does with each ("ContentTypes").

#include "RuleListModule.hpp"

#include <quorrel/ContentType.hpp>

namespace tav::http::admin {

class ContentTypesModule : public RuleListModule<DataModel::ContentType> {
public:
    explicit ContentTypesModule(AdminPlugin& plugin);

protected:
    std::unique_ptr<DataModel::ContentType> Create() const override;
    Ret Find(const std::string& groupId, const std::string& id,
             std::unique_ptr<DataModel::ContentType>& rule) const override;
    void List(const std::string& groupId,
              std::vector<boost::shared_ptr<DataModel::ContentType>>& rules) const override;
    Ret Save(const std::string& groupId, const DataModel::ContentType& rule) override;
    Ret Remove(const std::string& groupId, const std::vector<std::string>& ids) override;
    void Read(const FormFields& fields, DataModel::ContentType& rule) const override;
    void FillRow(std::string& row, const DataModel::ContentType& rule) const override;
    void FillForm(std::string& form, const DataModel::ContentType* rule) const override;
    bool IsOn(const DataModel::ProtocolSettings& settings) const override;
    void SetOn(DataModel::ProtocolSettings& settings, bool on) const override;
};

} // namespace tav::http::admin
