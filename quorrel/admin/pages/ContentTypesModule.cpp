#include "ContentTypesModule.hpp"

namespace tav::http::admin {

using Kind = DataModel::ContentType;

namespace {

const char* ActionName(DataModel::ContentTypeAction action) {
    switch (action) {
    case DataModel::PassingThrough:
        return "Passing through";
    case DataModel::Preventing:
        return "Preventing";
    default:
        return "Filtering";
    }
}

} // namespace

ContentTypesModule::ContentTypesModule(AdminPlugin& plugin)
    : RuleListModule(plugin, DataModel::PST_HTTP,
                     {"ContentTypes.tpl.html", "ContentTypes_TableRow.tpl.html", "ContentTypeForm.tpl.html",
                      "%TPL_CONTENT_TYPES%", "%TPL_TOGGLE_CONTENTTYPES_TITLE%", "ContentTypes"}) {}

void ContentTypesModule::Read(const FormFields& fields, Kind& rule) const {
    rule.SetType(TrimBlanks(fields.Get("ContentType")));
    rule.SetDescription(fields.Get("Description"));
    rule.SetAction(static_cast<DataModel::ContentTypeAction>(ToInt(fields.Get("ContentTypeAction"))));
}

void ContentTypesModule::FillRow(std::string& row, const Kind& rule) const {
    FillText(row, "%TPL_ID%", rule.GetID());
    FillText(row, "%TPL_TYPE%", Shorten(rule.GetType(), 30));
    FillText(row, "%TPL_DESCRIPTION_FULL%", rule.GetDescription());
    FillText(row, "%TPL_DESCRIPTION%", Shorten(rule.GetDescription(), 40));
    FillText(row, "%TPL_ACTION%", ActionName(rule.GetAction()));
}

void ContentTypesModule::FillForm(std::string& form, const Kind* rule) const {
    FillText(form, "%TPL_CONTENTTYPE_TYPE%", rule ? rule->GetType() : "");
    FillText(form, "%TPL_CONTENTTYPE_DESCRIPTION%", rule ? rule->GetDescription() : "");
    FillText(form, "%TPL_CONTENTTYPE_ACTION%", rule ? ToString(rule->GetAction()) : "");
}

} // namespace tav::http::admin
