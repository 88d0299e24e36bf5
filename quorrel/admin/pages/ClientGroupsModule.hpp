#pragma once

// The client groups ("ClientGroup"): their table, the form of one group with its everyday controls, and
// the navigation menu of the groups that the pages of one group show beside their content.
//
// The controls take one click each and write the policy at once: "Pause" with "Minutes" 15 or 60, "tomorrow"
// (until the next local midnight) or 0 (resume); "SafeSearch" with "What" search or youtube and "Level" 0
// (off), 1 (moderate) or 2 (strict). Both then show the group's form, or the home page when "Back" is "Home".

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ClientGroupsModule : public WebModule {
public:
    explicit ClientGroupsModule(AdminPlugin& plugin);

    // The menu of every group, sorted by name, each entry leading to the group's pages; with the link to
    // all groups first when asked for.
    std::string NavigationMenu(bool withAllGroupsLink) const;
    // Fills "%TPL_RIGHT_NOW%" of the home page with the groups paused now and the computers given extra
    // time today; with nothing when there are none.
    void FillRightNow(std::string& page) const;

    AdminPluginRet ExecuteAction(FormFields& fields, std::string& text) override;

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
    // The safe search choices of a stored group, the current level of each marked.
    std::string SafeSearchRows(const DataModel::ClientGroup& group) const;
    // The form of the group "ClientGroupID" with `result`; the lookup's failure when there is no such group.
    AdminPluginRet ShowForm(FormFields& fields, std::string& text, const AdminPluginRet& result);
    // The page a control answers with: the home page when "Back" is "Home", else the group's form.
    AdminPluginRet ShowAfterControl(FormFields& fields, std::string& text, const AdminPluginRet& result);
    AdminPluginRet Pause(FormFields& fields, std::string& text);
    AdminPluginRet SetSafeSearch(FormFields& fields, std::string& text);
    // Takes the typed name into the group; refuses what no one means as a name.
    static AdminPluginRet ReadName(const FormFields& fields, DataModel::ClientGroup& group);

    std::string m_list;
    std::string m_row;
    std::string m_form;
    std::string m_menu;
    std::string m_menuRow;
    std::string m_allGroupsLink;
    std::string m_safeSearchRow;
    std::string m_rightNow;
    std::string m_pausedRow;
    std::string m_extraTimeRow;
};

} // namespace tav::http::admin
