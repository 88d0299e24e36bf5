#pragma once

// The clients ("Client"): the computers of one group or of all, with what each used today and has left,
// and the form of one client. "ExtraTime" gives a computer more minutes today with one click.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class ClientsModule : public WebModule {
public:
    explicit ClientsModule(AdminPlugin& plugin);

    // "ExtraTime" adds "Minutes" (15, 30 or 60) to today's extra time of the computer "ID" and writes the
    // policy; then shows the computer's form when "Back" is "Form", else the list of "ClientGroupID".
    AdminPluginRet ExecuteAction(FormFields& fields, std::string& text) override;

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
    // The minutes left today as the pages say it: "42 min left today", or "no time limit" for -1.
    static std::string TimeLeftText(std::int32_t minutes);
    // The extra minutes given today: "+30 today", or nothing for none.
    static std::string ExtraTodayText(std::int32_t minutes);

private:
    // The form of a client, or the emptied form without one; `changeLogin` ticks the box that lets a save
    // change the login and password.
    void FillForm(std::string& text, const DataModel::Client* client, bool changeLogin) const;
    // The time today of a stored computer with its extra-time buttons; `back` goes into their "Back" field.
    std::string TimeToday(const DataModel::Client& client, const std::string& back) const;
    AdminPluginRet GiveExtraTime(FormFields& fields, std::string& text);

    std::string m_list;
    std::string m_row;
    std::string m_form;
    std::string m_timeToday;
};

} // namespace tav::http::admin
