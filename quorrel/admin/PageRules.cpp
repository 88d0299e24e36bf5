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

AdminPluginRet GetGroupContext(const DataModel& model, const FormFields& fields,
                               std::unique_ptr<DataModel::ClientGroup>& group) {
    const std::string& id = fields.Get("ClientGroupID");
    const Ret found = IsBlank(id) ? model.GetFirstClientGroup() : model.GetClientGroup(id);
    group.reset(static_cast<DataModel::ClientGroup*>(found.GetObj()));
    if (!found.IsOK())
        group.reset();
    return AdminPluginRet(found);
}

void FillGroup(std::string& text, const DataModel::ClientGroup& group) {
    FillText(text, "%TPL_GROUP_ID%", group.GetID());
    FillText(text, "%TPL_GROUP_NAME%", group.GetName());
}

AdminPluginRet RequireGroup(const FormFields& fields) {
    if (IsBlank(fields.Get("ClientGroupID")))
        return AdminPluginRet(Ret::ERR, "Empty Client Group");
    return AdminPluginRet(Ret::OK, "");
}

} // namespace tav::http::admin
