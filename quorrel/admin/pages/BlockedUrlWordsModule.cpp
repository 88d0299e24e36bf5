#include "BlockedUrlWordsModule.hpp"

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/Category.hpp>

namespace tav::http::admin {

namespace {

const std::string fieldPrefix = "BlockedUrlWord_";

// The bit of a category in a word's mask.
std::uint32_t Bit(const DataModel::Category& category) {
    const std::int32_t id = ToInt(category.GetID());
    return id >= 1 && id <= 32 ? 1u << (id - 1) : 0;
}

bool HasCategory(const DataModel::BlockedUrlWord& word, const DataModel::Category& category) {
    return (static_cast<std::uint32_t>(word.GetCategoriesMask()) & Bit(category)) != 0;
}

const DataModel::BlockedUrlWordManager& Words(const DataModel::ProtocolSettings& settings) {
    return dynamic_cast<const DataModel::BlockedUrlWordManager&>(settings);
}

RuleListModule<DataModel::BlockedUrlWord>::Layout LayoutOf(DataModel::ProtocolSettingsType type) {
    const std::string protocol = type == DataModel::PST_HTTP ? "HTTP" : "HTTPS";
    return {protocol + "BlockedUrlWords.tpl.html",    "BlockedUrlWords_TableRow.tpl.html",
            protocol + "BlockedUrlWordForm.tpl.html", "%TPL_BLOCKED_WORDS%",
            "%TPL_TOGGLE_BLOCKEDURLWORDS_TITLE%",     "BlockedUrlWords"};
}

} // namespace

BlockedUrlWordsModule::BlockedUrlWordsModule(AdminPlugin& plugin, DataModel::ProtocolSettingsType type)
    : RuleListModule(plugin, type, LayoutOf(type)) {
    AddTemplate("/pages/templates/BlockedUrlWordForm_TableRow.tpl.html", m_formRow);
}

std::unique_ptr<DataModel::BlockedUrlWord> BlockedUrlWordsModule::Create() const {
    return Plugin().GetModel().CreateBlockedUrlWord();
}

Ret BlockedUrlWordsModule::Find(const std::string& groupId, const std::string& id,
                                std::unique_ptr<DataModel::BlockedUrlWord>& word) const {
    return Plugin().GetModel().GetBlockedUrlWord(groupId, Type(), id, word);
}

void BlockedUrlWordsModule::List(const std::string& groupId,
                                 std::vector<boost::shared_ptr<DataModel::BlockedUrlWord>>& words) const {
    Plugin().GetModel().GetBlockedUrlWords(groupId, Type(), words);
}

Ret BlockedUrlWordsModule::Save(const std::string& groupId, const DataModel::BlockedUrlWord& word) {
    return Plugin().GetModel().SaveBlockedUrlWord(groupId, Type(), word);
}

Ret BlockedUrlWordsModule::Remove(const std::string& groupId, const std::vector<std::string>& ids) {
    return Plugin().GetModel().DeleteBlockedUrlWords(groupId, Type(), ids);
}

void BlockedUrlWordsModule::Read(const FormFields& fields, DataModel::BlockedUrlWord& word) const {
    word.SetWord(TrimBlanks(fields.Get("Word")));
    std::uint32_t mask = 0;
    for (const DataModel::Category* category : SortedCategories(Plugin().GetModel()))
        if (fields.Get(fieldPrefix + category->GetID()) == "1")
            mask |= Bit(*category);
    word.SetCategoriesMask(static_cast<std::int32_t>(mask));
}

void BlockedUrlWordsModule::FillRow(std::string& row, const DataModel::BlockedUrlWord& word) const {
    std::string names;
    for (const DataModel::Category* category : SortedCategories(Plugin().GetModel()))
        if (HasCategory(word, *category))
            names += (names.empty() ? "" : ", ") + category->GetName();
    FillText(row, "%TPL_WORD%", word.GetWord());
    FillText(row, "%TPL_ID%", word.GetID());
    FillText(row, "%TPL_CATEGORIES_FULL%", names);
    FillText(row, "%TPL_CATEGORIES%", Shorten(names, 50));
}

void BlockedUrlWordsModule::FillForm(std::string& form, const DataModel::BlockedUrlWord* word) const {
    FillText(form, "%TPL_WORD%", word ? word->GetWord() : "");
    std::string rows;
    for (const DataModel::Category* category : SortedCategories(Plugin().GetModel())) {
        std::string row = m_formRow;
        FillText(row, "%TPL_ID%", fieldPrefix + category->GetID());
        FillText(row, "%TPL_NAME%", category->GetName());
        FillText(row, "%TPL_CHECKED%", Checked(word && HasCategory(*word, *category)));
        rows += row;
    }
    FillMarkup(form, "%TPL_CATEGORIES%", rows);
}

bool BlockedUrlWordsModule::IsOn(const DataModel::ProtocolSettings& settings) const {
    return Words(settings).GetIsBlockedUrlWordsEnabled();
}

void BlockedUrlWordsModule::SetOn(DataModel::ProtocolSettings& settings, bool on) const {
    dynamic_cast<DataModel::BlockedUrlWordManager&>(settings).SetIsBlockedUrlWordsEnabled(on);
}

} // namespace tav::http::admin
