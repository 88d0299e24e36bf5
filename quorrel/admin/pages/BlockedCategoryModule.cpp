#include "BlockedCategoryModule.hpp"

#include <quorrel/Category.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <vector>

namespace tav::http::admin {

namespace {
const std::string fieldPrefix = "BlockedCategory_";
} // namespace

BlockedCategoryModule::BlockedCategoryModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/BlockedCategories.tpl.html", m_list);
    AddTemplate("/pages/templates/BlockedCategories_TableRow.tpl.html", m_row);
}

AdminPluginRet BlockedCategoryModule::GetList(FormFields& fields, std::string& text,
                                              const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = OpenGroupPage(model, fields, m_list, text, group);
    if (!found.IsOK())
        return found;
    std::string rows;
    for (const DataModel::Category* category : SortedCategories(model)) {
        std::string row = m_row;
        FillText(row, "%TPL_ID%", fieldPrefix + category->GetID());
        FillText(row, "%TPL_NAME%", category->GetName());
        FillText(row, "%TPL_CHECKED%",
                 Checked(!model.IsAllowedCategoryForClientGroup(group->GetID(), category->GetID())));
        rows += row;
    }
    FillMarkup(text, "%TPL_TABLE_ROWS%", rows);
    FillGroup(text, *group);
    return PresetOr(preset);
}

AdminPluginRet BlockedCategoryModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const AdminPluginRet given = RequireGroup(fields);
    if (!given.IsOK())
        return GetList(fields, text, given);
    std::vector<const DataModel::Category*> categories;
    const AdminPluginRet listed = model.GetCategories(categories);
    if (!listed.IsOK())
        return GetList(fields, text, listed);
    std::vector<std::string> blocked;
    for (const DataModel::Category* category : categories)
        if (fields.Get(fieldPrefix + category->GetID()) == "1")
            blocked.push_back(category->GetID());
    const AdminPluginRet saved = model.SetBlockedCategories(fields.Get("ClientGroupID"), blocked);
    if (!saved.IsOK())
        return GetList(fields, text, saved);
    return ShowPage("GeneralProtocolSettings", fields, text, saved);
}

} // namespace tav::http::admin
