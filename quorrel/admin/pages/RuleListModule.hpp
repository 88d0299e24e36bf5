#pragma once

// The pages of a list of rules of a group's protocol settings (words in addresses, words in pages, content
// types): the table with the switch of the list, the form of one rule, and the operations on them. RuleDoors
// gives the model's operations on the rules and the switch; a subclass names its templates and how a rule is
// read from the form and shown.

#include "RuleDoors.hpp"
#include "SaveStored.hpp"
#include "ToggleModule.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <boost/shared_ptr.hpp>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tav::http::admin {

template <class Rule> class RuleListModule : public ToggleModule {
    using Doors = RuleDoors<Rule>;

public:
    // The three templates below "/pages/templates/"; `rows` and `state` are the list's placeholders of the
    // rows and of the switch's state; `switchName` is the switch's "ToggleWhat".
    struct Layout {
        std::string list;
        std::string row;
        std::string form;
        std::string rows;
        std::string state;
        std::string switchName;
    };

    RuleListModule(AdminPlugin& plugin, DataModel::ProtocolSettingsType type, Layout layout)
        : ToggleModule(plugin), m_type(type), m_layout(std::move(layout)) {
        AddTemplate("/pages/templates/" + m_layout.list, m_list);
        AddTemplate("/pages/templates/" + m_layout.row, m_row);
        AddTemplate("/pages/templates/" + m_layout.form, m_form);
    }

    AdminPluginRet GetList(FormFields& fields, std::string& text,
                           const std::optional<AdminPluginRet>& preset = std::nullopt) override {
        const DataModel& model = Plugin().GetModel();
        std::unique_ptr<DataModel::ClientGroup> group;
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        AdminPluginRet found = OpenGroupPage(model, fields, m_list, text, group, m_type, settings);
        if (!found.IsOK())
            return found;
        FillMarkup(text, m_layout.state, EnabledDisabled(IsOn(*settings)));
        std::vector<boost::shared_ptr<Rule>> rules;
        const AdminPluginRet listed = Call(Doors::list, group->GetID(), rules);
        if (!listed.IsOK())
            return listed;
        std::string rows;
        for (const boost::shared_ptr<Rule>& rule : rules) {
            std::string row = m_row;
            FillRow(row, *rule);
            rows += row;
        }
        FillMarkup(text, m_layout.rows, rows);
        FillGroup(text, *group);
        return PresetOr(preset);
    }

    AdminPluginRet GetNew(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        ShowForm(text, Create().get(), fields);
        return AdminPluginRet(Ret::OK, "");
    }

    AdminPluginRet GetEdit(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        std::unique_ptr<Rule> rule;
        const AdminPluginRet found = Call(Doors::find, fields.Get("ClientGroupID"), fields.Get("ID"), rule);
        ShowForm(text, found.IsOK() ? rule.get() : nullptr, fields);
        return found;
    }

    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        return Store(AdminPluginRet(Ret::OK, ""), Create(), fields, text);
    }

    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        std::unique_ptr<Rule> rule;
        const AdminPluginRet found = Call(Doors::find, fields.Get("ClientGroupID"), fields.Get("ID"), rule);
        return Store(found, std::move(rule), fields, text);
    }

    AdminPluginRet Delete(FormFields& fields, std::string& text) override {
        AdminPluginRet result = RequireGroup(fields);
        if (result.IsOK())
            result = Call(Doors::remove, fields.Get("ClientGroupID"), fields.GetAll("DeleteID"));
        return GetList(fields, text, result);
    }

protected:
    AdminPluginRet Toggle(FormFields& fields, std::string& text) override {
        const AdminPluginRet saved =
            ToggleProtocolSettings(Plugin().GetModel(), fields, m_type,
                                   [this](DataModel::ProtocolSettings& settings, const std::string& what) {
                                       if (what == m_layout.switchName)
                                           SetOn(settings, !IsOn(settings));
                                   });
        return GetList(fields, text, saved);
    }

    // What a subclass says about its rules: takes what the form sent into the rule.
    virtual void Read(const FormFields& fields, Rule& rule) const = 0;
    // Fills a copy of the row template, and the rest of the form for a rule or none ("%TPL_ID%" and
    // "%TPL_GROUP_ID%" are filled already).
    virtual void FillRow(std::string& row, const Rule& rule) const = 0;
    virtual void FillForm(std::string& form, const Rule* rule) const = 0;

private:
    using Settings = typename Doors::Settings;

    std::unique_ptr<Rule> Create() const { return (Plugin().GetModel().*Doors::create)(); }

    // Calls one of the model's operations on the group's rules, with the page's protocol where it takes one.
    template <class Operation, class... Args>
    Ret Call(Operation operation, const std::string& groupId, Args&&... args) const {
        DataModel& model = Plugin().GetModel();
        if constexpr (std::is_invocable_v<Operation, DataModel&, const std::string&,
                                          DataModel::ProtocolSettingsType, Args...>)
            return std::invoke(operation, model, groupId, m_type, std::forward<Args>(args)...);
        else
            return std::invoke(operation, model, groupId, std::forward<Args>(args)...);
    }

    // The list's switch in the settings of the protocol.
    static bool IsOn(const DataModel::ProtocolSettings& settings) {
        return (dynamic_cast<const Settings&>(settings).*Doors::isOn)();
    }
    static void SetOn(DataModel::ProtocolSettings& settings, bool on) {
        (dynamic_cast<Settings&>(settings).*Doors::setOn)(on);
    }

    void ShowForm(std::string& text, const Rule* rule, const FormFields& fields) const {
        text = m_form;
        FillText(text, "%TPL_ID%", rule ? rule->GetID() : "");
        FillText(text, "%TPL_GROUP_ID%", rule ? fields.Get("ClientGroupID") : "");
        FillText(text, "%TPL_SAVE_ACTION%", rule && !rule->GetID().empty() ? "SaveEdit" : "SaveNew");
        FillForm(text, rule);
    }

    // Saves the rule found as the form sent it: the list with the save's result, or the form again.
    AdminPluginRet Store(const AdminPluginRet& found, std::unique_ptr<Rule> rule, FormFields& fields,
                         std::string& text) {
        return SaveStored(
            found, std::move(rule), [&](Rule& stored) { Read(fields, stored); },
            [&](const Rule& stored) { return Call(Doors::save, fields.Get("ClientGroupID"), stored); },
            [&](const Rule* stored) { ShowForm(text, stored, fields); },
            [&](const AdminPluginRet& saved) { return GetList(fields, text, saved); });
    }

    DataModel::ProtocolSettingsType m_type;
    Layout m_layout;
    std::string m_list;
    std::string m_row;
    std::string m_form;
};

} // namespace tav::http::admin
