#pragma once

// The clients ("Client"): the computers of one group or of all, with what each used today, and the form
// of one client.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ClientsModule : public WebModule {
public:
    explicit ClientsModule(AdminPlugin& plugin);

    AdminPluginRet GetList(FormFields& fields, std::string& text,
                           const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet GetNew(FormFields& fields, std::string& text) override;
    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override;
    AdminPluginRet GetEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;
    AdminPluginRet Delete(FormFields& fields, std::string& text) override;
    void BuildNavigationMenu(std::string& menu) override;
    bool UsesProtocolSettingsMenu() const override { return false; }

    // Today's traffic as the table shows it: kibibytes with " Kb" below one mebibyte, else mebibytes.
    static std::string TrafficText(std::int32_t bytes);

private:
    // The form of a client, or the emptied form without one; `changeLogin` ticks the box that lets a save
    // change the login and password.
    void FillForm(std::string& text, const DataModel::Client* client, bool changeLogin) const;

    std::string m_list;
    std::string m_row;
    std::string m_form;
};

} // namespace tav::http::admin
