#include <quorrel/Category.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

bool IsChecked(const FormFields& fields, const std::string& name) {
    return !IsBlank(fields.Get(name));
}

std::string Checked(bool on) {
    return on ? "checked" : "";
}

namespace {
// Takes over the copy of a group that a lookup returned.
AdminPluginRet Adopt(const Ret& found, std::unique_ptr<DataModel::ClientGroup>& group) {
    group.reset(found.IsOK() ? static_cast<DataModel::ClientGroup*>(found.GetObj()) : nullptr);
    return AdminPluginRet(found);
}
} // namespace

AdminPluginRet GetGroupContext(const DataModel& model, const FormFields& fields,
                               std::unique_ptr<DataModel::ClientGroup>& group) {
    const std::string& id = fields.Get("ClientGroupID");
    return Adopt(IsBlank(id) ? model.GetFirstClientGroup() : model.GetClientGroup(id), group);
}

AdminPluginRet OpenGroupPage(const DataModel& model, FormFields& fields, const std::string& page,
                             std::string& text, std::unique_ptr<DataModel::ClientGroup>& group) {
    text = page;
    AdminPluginRet found = GetGroupContext(model, fields, group);
    if (!found.IsOK()) {
        ClearPlaceholders(text);
        return found;
    }
    fields.Set("ClientGroupID", group->GetID());
    return found;
}

AdminPluginRet OpenGroupPage(const DataModel& model, FormFields& fields, const std::string& page,
                             std::string& text, std::unique_ptr<DataModel::ClientGroup>& group,
                             DataModel::ProtocolSettingsType type,
                             std::unique_ptr<DataModel::ProtocolSettings>& settings) {
    AdminPluginRet found = OpenGroupPage(model, fields, page, text, group);
    if (found.IsOK())
        found = model.GetProtocolSettings(group->GetID(), type, settings);
    if (found.IsOK() && settings == nullptr)
        found = AdminPluginRet(Ret::ERR, "No such Protocol Settings");
    if (!found.IsOK()) {
        text = page;
        ClearPlaceholders(text);
    }
    return found;
}

void FillGroup(std::string& text, const DataModel::ClientGroup& group) {
    FillText(text, "%TPL_GROUP_ID%", group.GetID());
    FillText(text, "%TPL_GROUP_NAME%", group.GetName());
}

AdminPluginRet FindGroup(const DataModel& model, const FormFields& fields,
                         std::unique_ptr<DataModel::ClientGroup>& group) {
    return Adopt(model.GetClientGroup(fields.Get("ClientGroupID")), group);
}

AdminPluginRet PresetOr(const std::optional<AdminPluginRet>& preset) {
    return preset ? *preset : AdminPluginRet(Ret::OK, "");
}

std::string OnOff(bool on) {
    return on ? "<b>On</b>" : "Off";
}

std::string EnabledDisabled(bool enabled) {
    return enabled ? "<b>Enabled</b>" : "Disabled";
}

std::string Shorten(const std::string& text, std::size_t n) {
    if (text.size() <= n)
        return text;
    return text.substr(0, n < 3 ? 0 : n - 3) + "...";
}

std::vector<const DataModel::Category*> SortedCategories(const DataModel& model) {
    std::vector<const DataModel::Category*> categories;
    if (!model.GetCategories(categories).IsOK())
        return {};
    SortBy(categories,
           [](const DataModel::Category& category) -> const std::string& { return category.GetName(); });
    return categories;
}

AdminPluginRet
ToggleProtocolSettings(DataModel& model, const FormFields& fields, DataModel::ProtocolSettingsType type,
                       const std::function<void(DataModel::ProtocolSettings&, const std::string&)>& flip) {
    std::unique_ptr<DataModel::ClientGroup> group;
    AdminPluginRet found = FindGroup(model, fields, group);
    if (!found.IsOK())
        return found;
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    const Ret read = model.GetProtocolSettings(group->GetID(), type, settings);
    if (!read.IsOK() || settings == nullptr)
        return AdminPluginRet(read);
    flip(*settings, fields.Get("ToggleWhat"));
    return AdminPluginRet(model.SaveProtocolSettings(group->GetID(), *settings));
}

AdminPluginRet RequireGroup(const FormFields& fields) {
    if (IsBlank(fields.Get("ClientGroupID")))
        return AdminPluginRet(Ret::ERR, "Empty Client Group");
    return AdminPluginRet(Ret::OK, "");
}

} // namespace tav::http::admin
