#pragma once

// The pages of a list of rules of a group's protocol settings (words in addresses, words in pages, content
// types): the table with the switch of the list, the form of one rule, and the operations on them. A
// subclass names its templates, its switch and how a rule is read, shown and stored.

#include "ToggleModule.hpp"

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>
#include <vector>

namespace tav::http::admin {

template <class Rule> class RuleListModule : public ToggleModule {
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
        List(group->GetID(), rules);
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
        const AdminPluginRet found = Find(fields.Get("ClientGroupID"), fields.Get("ID"), rule);
        ShowForm(text, found.IsOK() ? rule.get() : nullptr, fields);
        return found;
    }

    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        return Store(Create(), fields, text);
    }

    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override {
        const AdminPluginRet given = RequireGroup(fields);
        if (!given.IsOK())
            return GetList(fields, text, given);
        std::unique_ptr<Rule> rule;
        const AdminPluginRet found = Find(fields.Get("ClientGroupID"), fields.Get("ID"), rule);
        if (!found.IsOK() || rule == nullptr) {
            ShowForm(text, nullptr, fields);
            return found;
        }
        return Store(std::move(rule), fields, text);
    }

    AdminPluginRet Delete(FormFields& fields, std::string& text) override {
        AdminPluginRet result = RequireGroup(fields);
        if (result.IsOK())
            result = Remove(fields.Get("ClientGroupID"), fields.GetAll("DeleteID"));
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

    DataModel::ProtocolSettingsType Type() const { return m_type; }

    // What a subclass says about its rules.
    virtual std::unique_ptr<Rule> Create() const = 0;
    virtual Ret Find(const std::string& groupId, const std::string& id,
                     std::unique_ptr<Rule>& rule) const = 0;
    virtual void List(const std::string& groupId, std::vector<boost::shared_ptr<Rule>>& rules) const = 0;
    virtual Ret Save(const std::string& groupId, const Rule& rule) = 0;
    virtual Ret Remove(const std::string& groupId, const std::vector<std::string>& ids) = 0;
    // Takes what the form sent into the rule.
    virtual void Read(const FormFields& fields, Rule& rule) const = 0;
    // Fills a copy of the row template, and the rest of the form for a rule or none ("%TPL_ID%" and
    // "%TPL_GROUP_ID%" are filled already).
    virtual void FillRow(std::string& row, const Rule& rule) const = 0;
    virtual void FillForm(std::string& form, const Rule* rule) const = 0;
    // The list's switch in the settings of the protocol.
    virtual bool IsOn(const DataModel::ProtocolSettings& settings) const = 0;
    virtual void SetOn(DataModel::ProtocolSettings& settings, bool on) const = 0;

private:
    void ShowForm(std::string& text, const Rule* rule, const FormFields& fields) const {
        text = m_form;
        FillText(text, "%TPL_ID%", rule ? rule->GetID() : "");
        FillText(text, "%TPL_GROUP_ID%", rule ? fields.Get("ClientGroupID") : "");
        FillText(text, "%TPL_SAVE_ACTION%", rule && !rule->GetID().empty() ? "SaveEdit" : "SaveNew");
        FillForm(text, rule);
    }

    // Saves the rule as the form sent it: the list with the save's result, or the form again.
    AdminPluginRet Store(std::unique_ptr<Rule> rule, FormFields& fields, std::string& text) {
        Read(fields, *rule);
        const AdminPluginRet saved = Save(fields.Get("ClientGroupID"), *rule);
        if (!saved.IsOK()) {
            ShowForm(text, rule.get(), fields);
            return saved;
        }
        return GetList(fields, text, saved);
    }

    DataModel::ProtocolSettingsType m_type;
    Layout m_layout;
    std::string m_list;
    std::string m_row;
    std::string m_form;
};

} // namespace tav::http::admin
