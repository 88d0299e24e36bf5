#include "ClientsModule.hpp"

#include "SaveStored.hpp"

#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/Clock.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace tav::http::admin {

namespace {

// The model's clock stopped at one moment, so that every row of a table counts the same day.
class StoppedClock : public Clock {
public:
    explicit StoppedClock(const Clock& clock) : m_clock(clock), m_now(clock.Now()) {}
    std::int64_t Now() const override { return m_now; }
    std::tm LocalTime(std::int64_t time) const override { return m_clock.LocalTime(time); }

private:
    const Clock& m_clock;
    std::int64_t m_now;
};

constexpr std::int32_t mebibyte = 1048576;

// The minutes one click of the extra-time buttons gives.
const char* const extraMinutes[] = {"15", "30", "60"};

// Whether an address the policy accepts is also written as the proxy sees its computers: four numbers
// from 0 to 255 without leading zeros. Any other spelling would name a computer that never asks.
AdminPluginRet CheckAddress(const std::string& ip) {
    std::size_t parts = 0;
    std::size_t from = 0;
    bool plain = true;
    while (plain && from <= ip.size()) {
        const std::size_t dot = std::min(ip.find('.', from), ip.size());
        const std::string part = ip.substr(from, dot - from);
        plain = !part.empty() && part.size() <= 3 && (part == "0" || part[0] != '0') &&
                part.find_first_not_of("0123456789") == std::string::npos && std::stoi(part) <= 255;
        ++parts;
        from = dot + 1;
    }
    if (plain && parts == 4)
        return AdminPluginRet(Ret::OK, "");
    return AdminPluginRet(Ret::ERR, "Write the IP address as 4 numbers from 0 to 255 without leading zeros");
}

} // namespace

ClientsModule::ClientsModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/Clients.tpl.html", m_list);
    AddTemplate("/pages/templates/Clients_TableRow.tpl.html", m_row);
    AddTemplate("/pages/templates/ClientForm.tpl.html", m_form);
    AddTemplate("/pages/templates/Clients_TimeToday.tpl.html", m_timeToday);
}

AdminPluginRet ClientsModule::ExecuteAction(FormFields& fields, std::string& text) {
    if (fields.Get("Action") != "ExtraTime")
        return WebModule::ExecuteAction(fields, text);
    return Change(fields, text, [&] { return GiveExtraTime(fields, text); });
}

void ClientsModule::BuildNavigationMenu(std::string& menu) {
    menu = Plugin().NavigationMenu(true);
}

std::string ClientsModule::TrafficText(std::int32_t bytes) {
    if (bytes < mebibyte)
        return std::to_string(bytes / 1024) + " Kb";
    return std::to_string(bytes / mebibyte);
}

std::string ClientsModule::TimeLeftText(std::int32_t minutes) {
    return minutes < 0 ? "no time limit" : std::to_string(minutes) + " min left today";
}

std::string ClientsModule::ExtraTodayText(std::int32_t minutes) {
    return minutes > 0 ? "+" + std::to_string(minutes) + " today" : "";
}

std::string ClientsModule::TimeToday(const DataModel::Client& client, const std::string& back) const {
    const DataModel& model = Plugin().GetModel();
    std::string block = m_timeToday;
    FillText(block, "%TPL_TIME_LEFT%", TimeLeftText(model.GetRemainingMinutesToday(client)));
    FillText(block, "%TPL_EXTRA_TODAY%", ExtraTodayText(model.GetExtraMinutesToday(client)));
    FillText(block, "%TPL_ID%", client.GetID());
    FillText(block, "%TPL_NAME%", client.GetDisplayName());
    FillText(block, "%TPL_BACK%", back);
    return block;
}

void ClientsModule::FillForm(std::string& text, const DataModel::Client* client, bool changeLogin) const {
    std::vector<std::pair<std::string, std::string>> choices = Plugin().GetModel().GetClientGroupNames();
    std::stable_sort(choices.begin(), choices.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    const std::pair<std::string, std::string> none("0", "<..........>");
    const std::string& selected = client ? client->GetGroupID() : none.first;
    const bool stored = client && !client->GetID().empty();
    text = m_form;
    FillText(text, "%TPL_ID%", client ? client->GetID() : "");
    FillText(text, "%TPL_IP%", client ? client->GetIP() : "");
    FillText(text, "%TPL_LOGIN%", client ? client->GetLogin() : "");
    FillText(text, "%TPL_PASSWORD%", client ? client->GetPassword() : "");
    FillMarkup(text, "%TPL_GROUP_OPTIONS%", BuildOptions(choices, IsBlank(selected) ? "0" : selected, &none));
    FillText(text, "%TPL_CHANGELOGININFO%", Checked(changeLogin));
    FillText(text, "%TPL_SAVE_ACTION%", stored ? "SaveEdit" : "SaveNew");
    FillText(text, "%TPL_ACTIVITY_HIDDEN%", stored ? "" : "hidden");
    FillText(text, "%TPL_TIME_HIDDEN%", stored ? "" : "hidden");
    FillMarkup(text, "%TPL_TIME_TODAY%", stored ? TimeToday(*client, "Form") : "");
}

AdminPluginRet ClientsModule::GetList(FormFields& fields, std::string& text,
                                      const std::optional<AdminPluginRet>& preset) {
    const DataModel& model = Plugin().GetModel();
    const std::string groupId = fields.Get("ClientGroupID");
    std::string title = "All Groups";
    if (!IsBlank(groupId)) {
        std::unique_ptr<DataModel::ClientGroup> group;
        AdminPluginRet found = FindGroup(model, fields, group);
        if (!found.IsOK()) {
            text = m_list;
            FillText(text, "%TPL_TABLE_ROWS%", "");
            FillText(text, "%TPL_GROUP_NAME%", "");
            return found;
        }
        title = group->GetName();
    }
    std::vector<std::unique_ptr<DataModel::Client>> clients = model.CopyClients(groupId);
    std::stable_sort(clients.begin(), clients.end(),
                     [](const auto& a, const auto& b) { return a->GetIP() < b->GetIP(); });
    const std::vector<std::pair<std::string, std::string>> groupNames = model.GetClientGroupNames();
    const std::map<std::string, std::string> namesById(groupNames.begin(), groupNames.end());
    const StoppedClock now(model.GetClock());
    std::string rows;
    for (const std::unique_ptr<DataModel::Client>& client : clients) {
        const auto name = namesById.find(client->GetGroupID());
        std::string row = m_row;
        FillText(row, "%TPL_ID%", client->GetID());
        FillText(row, "%TPL_IP%", client->GetIP());
        FillText(row, "%TPL_GROUP_NAME%", name != namesById.end() ? name->second : "");
        FillText(row, "%TPL_DAILY_TIME%", std::to_string(client->GetDailyWorkedTime(now) / 60));
        FillText(row, "%TPL_DAILY_TRAFFIC%", TrafficText(client->GetDailyWorkedTraffic(now)));
        FillMarkup(row, "%TPL_TIME_TODAY%", TimeToday(*client, "List"));
        rows += row;
    }
    text = m_list;
    FillMarkup(text, "%TPL_TABLE_ROWS%", rows);
    FillText(text, "%TPL_GROUP_NAME%", title);
    return PresetOr(preset);
}

AdminPluginRet ClientsModule::GetNew(FormFields& fields, std::string& text) {
    const std::unique_ptr<DataModel::Client> client = Plugin().GetModel().CreateClient();
    client->SetGroupID(fields.Get("ClientGroupID"));
    client->SetIP(fields.Get("NewClientIP"));
    FillForm(text, client.get(), true);
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet ClientsModule::SaveNew(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const std::unique_ptr<DataModel::Client> client = model.CreateClient();
    client->SetIP(fields.Get("IP"));
    client->SetGroupID(fields.Get("ClientGroupID"));
    client->SetLogin(fields.Get("Login"));
    client->SetPassword(fields.Get("Password"));
    AdminPluginRet saved(client->Validate(true));
    if (saved.IsOK())
        saved = CheckAddress(client->GetIP());
    if (saved.IsOK())
        saved = model.SaveClient(*client);
    if (!saved.IsOK()) {
        FillForm(text, client.get(), true);
        return saved;
    }
    return GetList(fields, text, saved);
}

AdminPluginRet ClientsModule::GetEdit(FormFields& fields, std::string& text) {
    const Ret found = Plugin().GetModel().GetClient(fields.Get("ID"));
    const std::unique_ptr<DataModel::Client> client(
        found.IsOK() ? static_cast<DataModel::Client*>(found.GetObj()) : nullptr);
    FillForm(text, client.get(), IsChecked(fields, "ChangeLoginInfo"));
    return AdminPluginRet(found);
}

AdminPluginRet ClientsModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const Ret found = model.GetClient(fields.Get("ID"));
    std::unique_ptr<DataModel::Client> client(found.IsOK() ? static_cast<DataModel::Client*>(found.GetObj())
                                                           : nullptr);
    const bool changeLogin = IsChecked(fields, "ChangeLoginInfo");
    return SaveStored(
        AdminPluginRet(found), std::move(client),
        [&](DataModel::Client& stored) {
            stored.SetIP(fields.Get("IP"));
            stored.SetGroupID(fields.Get("ClientGroupID"));
            if (changeLogin) {
                stored.SetLogin(fields.Get("Login"));
                stored.SetPassword(fields.Get("Password"));
            }
        },
        [&](const DataModel::Client& stored) {
            const AdminPluginRet plain = CheckAddress(stored.GetIP());
            return plain.IsOK() ? AdminPluginRet(model.SaveClient(stored)) : plain;
        },
        [&](const DataModel::Client* stored) { FillForm(text, stored, stored != nullptr && changeLogin); },
        [&](const AdminPluginRet&) { return GetList(fields, text); });
}

AdminPluginRet ClientsModule::GiveExtraTime(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    const std::string minutes = fields.Get("Minutes");
    const Ret found = model.GetClient(fields.Get("ID"));
    std::unique_ptr<DataModel::Client> client(found.IsOK() ? static_cast<DataModel::Client*>(found.GetObj())
                                                           : nullptr);
    AdminPluginRet given(found);
    if (given.IsOK() &&
        std::find(std::begin(extraMinutes), std::end(extraMinutes), minutes) == std::end(extraMinutes))
        given = AdminPluginRet(Ret::ERR, "Extra time is given in 15, 30 or 60 minutes");
    if (given.IsOK())
        given = AdminPluginRet(model.GiveExtraMinutes(client->GetIP(), std::stoi(minutes)));
    if (given.IsOK()) {
        // The copy read before holds the extra time as it was.
        const Ret now = model.GetClient(client->GetID());
        client.reset(now.IsOK() ? static_cast<DataModel::Client*>(now.GetObj()) : nullptr);
        given = AdminPluginRet(now);
    }
    if (given.IsOK()) {
        const std::int32_t left = model.GetRemainingMinutesToday(*client);
        given = AdminPluginRet(
            Ret::OK, client->GetDisplayName() + " has " +
                         std::to_string(model.GetExtraMinutesToday(*client)) + " extra minutes today" +
                         (left < 0 ? "; its group has no time limit." : ": " + TimeLeftText(left) + "."));
    }
    if (fields.Get("Back") == "Form") {
        FillForm(text, client.get(), false);
        return given;
    }
    return GetList(fields, text, given);
}

AdminPluginRet ClientsModule::Delete(FormFields& fields, std::string& text) {
    return GetList(fields, text,
                   AdminPluginRet(Plugin().GetModel().DeleteClients(fields.GetAll("DeleteID"))));
}

} // namespace tav::http::admin
