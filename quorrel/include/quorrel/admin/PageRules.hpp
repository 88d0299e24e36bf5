#pragma once

// The rules the page modules share for check boxes and for the group a page is about.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/AdminPluginRet.hpp>
#include <quorrel/admin/FormFields.hpp>
#include <quorrel/export.hpp>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tav::http::admin {

// A check box is on when its field's first value is not blank, whatever the text; an absent field is off.
QUORREL_EXPORT bool IsChecked(const FormFields& fields, const std::string& name);
// What a check box's placeholder becomes: "checked" when on, else nothing.
QUORREL_EXPORT std::string Checked(bool on);

// The group a page is about: the one "ClientGroupID" names, or the first group when it is blank. On
// success `group` holds a copy; otherwise the result is the model's failure.
QUORREL_EXPORT AdminPluginRet GetGroupContext(const DataModel& model, const FormFields& fields,
                                              std::unique_ptr<DataModel::ClientGroup>& group);
// Starts the page of the group a request is about from the page's template: on success `group` holds the
// group of GetGroupContext and "ClientGroupID" names it; otherwise the page's placeholders are emptied and
// the result is the model's failure. The second form also reads the group's settings of one protocol.
QUORREL_EXPORT AdminPluginRet OpenGroupPage(const DataModel& model, FormFields& fields,
                                            const std::string& page, std::string& text,
                                            std::unique_ptr<DataModel::ClientGroup>& group);
QUORREL_EXPORT AdminPluginRet OpenGroupPage(const DataModel& model, FormFields& fields,
                                            const std::string& page, std::string& text,
                                            std::unique_ptr<DataModel::ClientGroup>& group,
                                            DataModel::ProtocolSettingsType type,
                                            std::unique_ptr<DataModel::ProtocolSettings>& settings);
// Fills "%TPL_GROUP_ID%" and "%TPL_GROUP_NAME%" of a page's own template with the group.
QUORREL_EXPORT void FillGroup(std::string& text, const DataModel::ClientGroup& group);
// The check of the save operations: -1 "Empty Client Group" when "ClientGroupID" is blank, else 0.
QUORREL_EXPORT AdminPluginRet RequireGroup(const FormFields& fields);
// The group "ClientGroupID" names, with no fallback to the first group: what the switches and saves change.
QUORREL_EXPORT AdminPluginRet FindGroup(const DataModel& model, const FormFields& fields,
                                        std::unique_ptr<DataModel::ClientGroup>& group);

// What a display operation returns when it succeeds: the preset result when it was given one, else 0.
QUORREL_EXPORT AdminPluginRet PresetOr(const std::optional<AdminPluginRet>& preset);

// The state words of the switches, as markup: "<b>On</b>" or "Off", "<b>Enabled</b>" or "Disabled".
QUORREL_EXPORT std::string OnOff(bool on);
QUORREL_EXPORT std::string EnabledDisabled(bool enabled);

// A text cut to at most n characters: its first n - 3 followed by "..." when it is longer.
QUORREL_EXPORT std::string Shorten(const std::string& text, std::size_t n);

// Sorts entities by the text `key` gives them, byte-wise ascending; equal keys keep their order.
template <class T, class Key> void SortBy(std::vector<T*>& items, Key key) {
    std::stable_sort(items.begin(), items.end(),
                     [&key](const T* a, const T* b) { return key(*a) < key(*b); });
}

// The categories of the model sorted by name.
QUORREL_EXPORT std::vector<const DataModel::Category*> SortedCategories(const DataModel& model);

// A switch that "Toggle" can flip, named as the pages send it in "ToggleWhat".
template <class S> struct Switch {
    const char* name;
    bool (S::*get)() const;
    void (S::*set)(bool);
};

// Flips the switch named `what`, if it is one of `switches`.
template <class S>
void FlipSwitch(S& object, const std::vector<Switch<S>>& switches, const std::string& what) {
    for (const Switch<S>& entry : switches)
        if (what == entry.name)
            (object.*entry.set)(!(object.*entry.get)());
}

// "Toggle" on a group's settings of one protocol: looks the group up by "ClientGroupID", lets `flip` change
// the settings for the value of "ToggleWhat" and saves them, even when nothing was flipped. The result is
// the lookup's failure or the save's result.
QUORREL_EXPORT AdminPluginRet
ToggleProtocolSettings(DataModel& model, const FormFields& fields, DataModel::ProtocolSettingsType type,
                       const std::function<void(DataModel::ProtocolSettings&, const std::string&)>& flip);

} // namespace tav::http::admin
