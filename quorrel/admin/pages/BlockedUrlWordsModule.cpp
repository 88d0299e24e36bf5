#include "BlockedUrlWordsModule.hpp"

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

} // namespace tav::http::admin
