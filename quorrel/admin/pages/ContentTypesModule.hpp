#pragma once

// The content types of the group's HTTP answers and what the filter does with each ("ContentTypes").

#include "RuleListModule.hpp"

#include <quorrel/ContentType.hpp>

namespace tav::http::admin {

class ContentTypesModule : public RuleListModule<DataModel::ContentType> {
public:
    explicit ContentTypesModule(AdminPlugin& plugin);

protected:
    void Read(const FormFields& fields, DataModel::ContentType& rule) const override;
    void FillRow(std::string& row, const DataModel::ContentType& rule) const override;
    void FillForm(std::string& form, const DataModel::ContentType* rule) const override;
};

} // namespace tav::http::admin
