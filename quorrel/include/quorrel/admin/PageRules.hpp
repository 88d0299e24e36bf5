#pragma once

// The rules the page modules share for check boxes and for the group a page is about.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPluginRet.hpp>
#include <quorrel/admin/FormFields.hpp>
#include <quorrel/export.hpp>

#include <memory>
#include <string>

namespace tav::http::admin {

// A check box is on when its field's first value is not blank, whatever the text; an absent field is off.
QUORREL_EXPORT bool IsChecked(const FormFields& fields, const std::string& name);
// What a check box's placeholder becomes: "checked" when on, else nothing.
QUORREL_EXPORT std::string Checked(bool on);

// The group a page is about: the one "ClientGroupID" names, or the first group when it is blank. On
// success `group` holds a copy; otherwise the result is the model's failure.
QUORREL_EXPORT AdminPluginRet GetGroupContext(const DataModel& model, const FormFields& fields,
                                              std::unique_ptr<DataModel::ClientGroup>& group);
// Fills "%TPL_GROUP_ID%" and "%TPL_GROUP_NAME%" of a page's own template with the group.
QUORREL_EXPORT void FillGroup(std::string& text, const DataModel::ClientGroup& group);
// The check of the save operations: -1 "Empty Client Group" when "ClientGroupID" is blank, else 0.
QUORREL_EXPORT AdminPluginRet RequireGroup(const FormFields& fields);

} // namespace tav::http::admin
