#pragma once

// The client groups ("ClientGroup"): their table, the form of one group, and the navigation menu of the
// groups that the pages of one group show beside their content.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ClientGroupsModule : public WebModule {
public:
    explicit ClientGroupsModule(AdminPlugin& plugin);

    // The menu of every group, sorted by name, each entry leading to the group's pages; with the link to
    // all groups first when asked for.
    std::string NavigationMenu(bool withAllGroupsLink) const;

    AdminPluginRet GetList(FormFields& fields, std::string& text,
                           const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet GetNew(FormFields& fields, std::string& text) override;
    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override;
    AdminPluginRet GetEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet Delete(FormFields& fields, std::string& text) override;
    void BuildNavigationMenu(std::string& menu) override { menu.clear(); }
    bool UsesProtocolSettingsMenu() const override { return false; }

private:
    // The form of a group, or the emptied form without one.
    void FillForm(std::string& text, const DataModel::ClientGroup* group) const;
    // Takes the typed name into the group; refuses what no one means as a name.
    static AdminPluginRet ReadName(const FormFields& fields, DataModel::ClientGroup& group);

    std::string m_list;
    std::string m_row;
    std::string m_form;
    std::string m_menu;
    std::string m_menuRow;
    std::string m_allGroupsLink;
};

} // namespace tav::http::admin
