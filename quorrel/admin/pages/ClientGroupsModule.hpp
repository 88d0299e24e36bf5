#pragma once

// The client groups ("ClientGroup"), and the navigation menu of the groups that the pages of one group
// show beside their content. Its list and edit pages are not built yet: until then it says so.

#include "PendingPageModule.hpp"

namespace tav::http::admin {

class ClientGroupsModule : public PendingPageModule {
public:
    explicit ClientGroupsModule(AdminPlugin& plugin);

    // The menu of every group, sorted by name, each entry leading to the group's pages; with the link to
    // all groups first when asked for.
    std::string NavigationMenu(bool withAllGroupsLink) const;

    void BuildNavigationMenu(std::string& menu) override { menu.clear(); }

private:
    std::string m_menu;
    std::string m_menuRow;
    std::string m_allGroupsLink;
};

} // namespace tav::http::admin
