#include "InapContentWordsModule.hpp"

namespace tav::http::admin {

using Word = DataModel::InapContentWord;

InapContentWordsModule::InapContentWordsModule(AdminPlugin& plugin)
    : RuleListModule(plugin, DataModel::PST_HTTP,
                     {"InapContentWords.tpl.html", "InapContentWords_TableRow.tpl.html",
                      "InapContentWordForm.tpl.html", "%TPL_INAPCONTENTWORDS%",
                      "%TPL_TOGGLE_INAPCONTENTWORDS_TITLE%", "InapContentWords"}) {}

void InapContentWordsModule::Read(const FormFields& fields, Word& rule) const {
    rule.SetWord(TrimBlanks(fields.Get("Word")));
}

void InapContentWordsModule::FillRow(std::string& row, const Word& rule) const {
    FillText(row, "%TPL_WORD%", rule.GetWord());
    FillText(row, "%TPL_ID%", rule.GetID());
}

void InapContentWordsModule::FillForm(std::string& form, const Word* rule) const {
    FillText(form, "%TPL_WORD%", rule ? rule->GetWord() : "");
}

} // namespace tav::http::admin
