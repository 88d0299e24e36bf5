#include "ClientGroupsModule.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/Templates.hpp>

#include <algorithm>
#include <vector>

namespace tav::http::admin {

ClientGroupsModule::ClientGroupsModule(AdminPlugin& plugin) : PendingPageModule(plugin, "Client Groups") {
    AddTemplate("/pages/templates/NvgMenuClientGroups.tpl.html", m_menu);
    AddTemplate("/pages/templates/NvgMenuClientGroups_TableRow.tpl.html", m_menuRow);
    AddTemplate("/pages/templates/NvgMenuClientGroups_AllGroupsLink.tpl.html", m_allGroupsLink);
}

std::string ClientGroupsModule::NavigationMenu(bool withAllGroupsLink) const {
    std::string rows;
    {
        // The groups stay the model's: they are read under its lock.
        ACE_Guard<ACE_Recursive_Thread_Mutex> guard(DataModel::m_mutex);
        std::vector<DataModel::ClientGroup*> groups;
        Plugin().GetModel().GetClientGroups(groups);
        std::stable_sort(groups.begin(), groups.end(),
                         [](const DataModel::ClientGroup* a, const DataModel::ClientGroup* b) {
                             return a->GetName() < b->GetName();
                         });
        for (const DataModel::ClientGroup* group : groups) {
            std::string row = m_menuRow;
            FillText(row, "%TPL_ID%", group->GetID());
            FillText(row, "%TPL_NAME%", group->GetName());
            rows += row;
        }
    }
    std::string menu = m_menu;
    FillMarkup(menu, "%TPL_LINK_ALL_GROUPS%", withAllGroupsLink ? m_allGroupsLink : "");
    FillMarkup(menu, "%TPL_TABLE_ROWS%", rows);
    return menu;
}

} // namespace tav::http::admin
