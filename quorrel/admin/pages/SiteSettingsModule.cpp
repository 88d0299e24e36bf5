#include "SiteSettingsModule.hpp"

#include <quorrel/Settings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/Templates.hpp>

namespace tav::http::admin {

SiteSettingsModule::SiteSettingsModule(AdminPlugin& plugin) : WebModule(plugin) {
    AddTemplate("/pages/templates/SiteSettings.tpl.html", m_form);
}

AdminPluginRet SiteSettingsModule::Get(FormFields& /*fields*/, std::string& text,
                                       const std::optional<AdminPluginRet>& preset) {
    std::unique_ptr<DataModel::Settings> settings;
    const Ret read = Plugin().GetModel().GetSettings(settings);
    if (!read.IsOK() || settings == nullptr)
        return AdminPluginRet(read);
    text = m_form;
    FillText(text, "%TPL_IS_FILTRATION_OFF%", Checked(!settings->GetIsFiltrationOn()));
    FillText(text, "%TPL_ADMIN_EMAIL%", settings->GetAdminEmail());
    return preset ? *preset : AdminPluginRet(Ret::OK, "");
}

AdminPluginRet SiteSettingsModule::SaveEdit(FormFields& fields, std::string& text) {
    DataModel& model = Plugin().GetModel();
    std::unique_ptr<DataModel::Settings> settings;
    const Ret read = model.GetSettings(settings);
    if (!read.IsOK() || settings == nullptr)
        return AdminPluginRet(read);
    settings->SetIsFiltrationOn(!IsChecked(fields, "IsFiltrationOff"));
    settings->SetAdminEmail(fields.Get("AdminEmail"));
    const Ret valid = settings->Validate(true);
    if (!valid.IsOK())
        return Get(fields, text, AdminPluginRet(valid));
    return Get(fields, text, AdminPluginRet(model.SaveSettings(*settings)));
}

} // namespace tav::http::admin
