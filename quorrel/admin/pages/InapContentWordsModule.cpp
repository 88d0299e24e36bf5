#include "InapContentWordsModule.hpp"

#include <quorrel/HTTPProtocolSettings.hpp>

namespace tav::http::admin {

using Word = DataModel::InapContentWord;
using HTTP = DataModel::HTTPProtocolSettings;

InapContentWordsModule::InapContentWordsModule(AdminPlugin& plugin)
    : RuleListModule(plugin, DataModel::PST_HTTP,
                     {"InapContentWords.tpl.html", "InapContentWords_TableRow.tpl.html",
                      "InapContentWordForm.tpl.html", "%TPL_INAPCONTENTWORDS%",
                      "%TPL_TOGGLE_INAPCONTENTWORDS_TITLE%", "InapContentWords"}) {}

std::unique_ptr<Word> InapContentWordsModule::Create() const {
    return Plugin().GetModel().CreateInapContentWord();
}

Ret InapContentWordsModule::Find(const std::string& groupId, const std::string& id,
                                 std::unique_ptr<Word>& rule) const {
    return Plugin().GetModel().GetInapContentWord(groupId, id, rule);
}

void InapContentWordsModule::List(const std::string& groupId,
                                  std::vector<boost::shared_ptr<Word>>& rules) const {
    Plugin().GetModel().GetInapContentWords(groupId, rules);
}

Ret InapContentWordsModule::Save(const std::string& groupId, const Word& rule) {
    return Plugin().GetModel().SaveInapContentWord(groupId, rule);
}

Ret InapContentWordsModule::Remove(const std::string& groupId, const std::vector<std::string>& ids) {
    return Plugin().GetModel().DeleteInapContentWords(groupId, ids);
}

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

bool InapContentWordsModule::IsOn(const DataModel::ProtocolSettings& settings) const {
    return dynamic_cast<const HTTP&>(settings).GetIsInapContentWordsEnabled();
}

void InapContentWordsModule::SetOn(DataModel::ProtocolSettings& settings, bool on) const {
    dynamic_cast<HTTP&>(settings).SetIsInapContentWordsEnabled(on);
}

} // namespace tav::http::admin
