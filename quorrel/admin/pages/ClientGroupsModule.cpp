#include "ClientGroupsModule.hpp"

#include <quorrel/Category.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <vector>

namespace tav::http::admin {

namespace {

// Longer names would break every page that shows them; the policy file itself sets no bound.
constexpr std::size_t maxNameLength = 100;

// The groups of the model sorted by name; they stay the model's, so the caller holds its lock.
std::vector<DataModel::ClientGroup*> SortedGroups(const DataModel& model) {
    std::vector<DataModel::ClientGroup*> groups;
    model.GetClientGroups(groups);
    SortBy(groups, [](const DataModel::ClientGroup& group) -> const std::string& { return group.GetName(); });
    return groups;
}

} // namespace

ClientGroupsModule::ClientGroupsModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/ClientGroups.tpl.html", m_list);
    AddTemplate("/pages/templates/ClientGroups_TableRow.tpl.html", m_row);
    AddTemplate("/pages/templates/ClientGroupForm.tpl.html", m_form);
    AddTemplate("/pages/templates/NvgMenuClientGroups.tpl.html", m_menu);
    AddTemplate("/pages/templates/NvgMenuClientGroups_TableRow.tpl.html", m_menuRow);
    AddTemplate("/pages/templates/NvgMenuClientGroups_AllGroupsLink.tpl.html", m_allGroupsLink);
}

std::string ClientGroupsModule::NavigationMenu(bool withAllGroupsLink) const {
    std::string rows;
    {
        ACE_Guard<ACE_Recursive_Thread_Mutex> guard(DataModel::m_mutex);
        for (const DataModel::ClientGroup* group : SortedGroups(Plugin().GetModel())) {
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

void ClientGroupsModule::FillForm(std::string& text, const DataModel::ClientGroup* group) const {
    text = m_form;
    FillText(text, "%TPL_GROUP_ID%", group ? group->GetID() : "");
    FillText(text, "%TPL_NAME%", group ? group->GetName() : "");
    FillText(text, "%TPL_CAN_ACCESS_BY_IP%", "");
    FillText(text, "%TPL_SAVE_ACTION%", group && !group->GetID().empty() ? "SaveEdit" : "SaveNew");
    FillText(text, "%TPL_ACTIVITY_HIDDEN%", group && !group->GetID().empty() ? "" : "hidden");
}

AdminPluginRet ClientGroupsModule::ReadName(const FormFields& fields, DataModel::ClientGroup& group) {
    group.SetName(TrimBlanks(fields.Get("Name")));
    if (group.GetName().size() > maxNameLength)
        return AdminPluginRet(Ret::ERR,
                              "The Name must be " + std::to_string(maxNameLength) + " characters or fewer");
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ClientGroupsModule::GetList(FormFields& /*fields*/, std::string& text,
                                           const std::optional<AdminPluginRet>& preset) {
    std::string rows;
    {
        ACE_Guard<ACE_Recursive_Thread_Mutex> guard(DataModel::m_mutex);
        for (const DataModel::ClientGroup* group : SortedGroups(Plugin().GetModel())) {
            std::string row = m_row;
            FillText(row, "%TPL_ID%", group->GetID());
            FillText(row, "%TPL_NAME%", group->GetName());
            rows += row;
        }
    }
    text = m_list;
    FillMarkup(text, "%TPL_TABLE_ROWS%", rows);
    return PresetOr(preset);
}

AdminPluginRet ClientGroupsModule::GetNew(FormFields& /*fields*/, std::string& text) {
    FillForm(text, Plugin().GetModel().CreateClientGroup().get());
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ClientGroupsModule::SaveNew(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const std::unique_ptr<DataModel::ClientGroup> group = model.CreateClientGroup();
    AdminPluginRet saved = ReadName(fields, *group);
    if (saved.IsOK())
        saved = model.SaveClientGroup(*group);
    if (!saved.IsOK()) {
        FillForm(text, group.get());
        return saved;
    }
    // A new group blocks every category but web chat and web mail.
    const std::vector<std::string> blocked = {DataModel::CAT_VIOLENCE.GetID(),
                                              DataModel::CAT_HATE_SPEECH.GetID(),
                                              DataModel::CAT_PORNOGRAPHY.GetID(),
                                              DataModel::CAT_GAMBLING.GetID(),
                                              DataModel::CAT_MATURE_CONTENT.GetID(),
                                              DataModel::CAT_DRUGS.GetID(),
                                              DataModel::CAT_HACKING_AND_SPYWARE.GetID(),
                                              DataModel::CAT_WEAPONS.GetID(),
                                              DataModel::CAT_SEX_EDUCATION.GetID(),
                                              DataModel::CAT_BOMB_MAKING.GetID(),
                                              DataModel::CAT_ALCOHOL.GetID(),
                                              DataModel::CAT_TOBACCO.GetID(),
                                              DataModel::CAT_OBSCENE.GetID()};
    model.SetBlockedCategories(group->GetID(), blocked);
    fields.Set("ClientGroupID", group->GetID());
    return GetList(fields, text, saved);
}

AdminPluginRet ClientGroupsModule::GetEdit(FormFields& fields, std::string& text) {
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = FindGroup(Plugin().GetModel(), fields, group);
    FillForm(text, group.get());
    return found;
}

AdminPluginRet ClientGroupsModule::SaveEdit(FormFields& fields, std::string& text) {
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = FindGroup(Plugin().GetModel(), fields, group);
    if (!found.IsOK()) {
        FillForm(text, nullptr);
        return found;
    }
    AdminPluginRet saved = ReadName(fields, *group);
    if (saved.IsOK())
        saved = Plugin().GetModel().SaveClientGroup(*group);
    if (!saved.IsOK()) {
        FillForm(text, group.get());
        return saved;
    }
    return GetList(fields, text);
}

AdminPluginRet ClientGroupsModule::Delete(FormFields& fields, std::string& text) {
    return GetList(fields, text,
                   AdminPluginRet(Plugin().GetModel().DeleteClientGroups(fields.GetAll("DeleteID"))));
}

} // namespace tav::http::admin
