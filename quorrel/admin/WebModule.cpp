#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/Templates.hpp>
#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

WebModule::WebModule(AdminPlugin& plugin) : m_plugin(plugin) {}

WebModule::~WebModule() = default;

void WebModule::AddTemplate(const std::string& file, std::string& text) {
    m_templates.emplace_back(file, &text);
}

AdminPluginRet WebModule::ShowPage(const std::string& objectName, FormFields& fields, std::string& text,
                                   const std::optional<AdminPluginRet>& preset) const {
    fields.Set("ObjectName", objectName);
    return m_plugin.GetModule(objectName)->Get(fields, text, preset);
}

AdminPluginRet WebModule::LoadTemplates(const std::string& siteRoot) {
    for (const auto& entry : m_templates) {
        const std::string path = siteRoot + entry.first;
        if (!ReadTemplate(path, *entry.second))
            return AdminPluginRet(Ret::ERR, "Error opening file " + path);
    }
    return AdminPluginRet(Ret::OK, "");
}

AdminPluginRet WebModule::ExecuteAction(FormFields& fields, std::string& text) {
    const std::string action = fields.Get("Action");
    if (action == "Get")
        return Get(fields, text);
    if (action == "GetList")
        return GetList(fields, text);
    if (action == "GetNew")
        return GetNew(fields, text);
    if (action == "GetEdit")
        return GetEdit(fields, text);
    if (action == "SaveNew")
        return Change(fields, text, [&] { return SaveNew(fields, text); });
    if (action == "SaveEdit" && WeighsSecrets())
        return SaveEdit(fields, text);
    if (action == "SaveEdit")
        return Change(fields, text, [&] { return SaveEdit(fields, text); });
    if (action == "Delete")
        return Change(fields, text, [&] { return Delete(fields, text); });
    return AdminPluginRet(AdminPluginRet::UNKNOWN_ACTION, "Unknown Action");
}

AdminPluginRet WebModule::Change(FormFields& fields, std::string& text,
                                 const std::function<AdminPluginRet()>& action) {
    const std::string object = fields.Get("ObjectName"); // the action may show another module's page
    AdminPluginRet result(Ret::OK, "");
    const Ret saved = Plugin().GetModel().EditAndSave([&] {
        result = action();
        return Ret(result);
    });
    if (saved.IsOK() || !result.IsOK())
        return result;
    fields.Set("ObjectName", object);
    const AdminPluginRet failed(saved);
    text.clear();
    if (GetList(fields, text, failed).GetCode() == AdminPluginRet::NOT_OFFERED)
        Get(fields, text, failed);
    return failed;
}

AdminPluginRet WebModule::BuildMainContent(FormFields& fields, std::string& content) {
    std::string text;
    AdminPluginRet result = ExecuteAction(fields, text);
    if (!UsesStandardMainContent()) {
        content = text;
        return result;
    }
    const SharedTemplates& shared = Plugin().GetTemplates();
    content = UsesProtocolSettingsMenu() ? shared.standardContentPS : shared.standardContent;
    std::string menu;
    BuildNavigationMenu(menu);
    FillMarkup(content, "%TPL_NVG_MENU%", menu);
    if (UsesProtocolSettingsMenu())
        FillMarkup(content, "%PROTOCOL_SETTINGS_MENU%", shared.protocolMenu);
    FillMarkup(content, "%TPL_CONTENT%", text);
    return result;
}

AdminPluginRet WebModule::Get(FormFields&, std::string&, const std::optional<AdminPluginRet>&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::GetList(FormFields&, std::string&, const std::optional<AdminPluginRet>&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::GetNew(FormFields&, std::string&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::SaveNew(FormFields&, std::string&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::GetEdit(FormFields&, std::string&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::SaveEdit(FormFields&, std::string&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

AdminPluginRet WebModule::Delete(FormFields&, std::string&) {
    return AdminPluginRet(AdminPluginRet::NOT_OFFERED, "");
}

bool WebModule::UsesStandardMainContent() const {
    return true;
}

void WebModule::BuildNavigationMenu(std::string& menu) {
    menu = Plugin().NavigationMenu(false);
}

bool WebModule::UsesProtocolSettingsMenu() const {
    return true;
}

WebModule::AnswerType WebModule::TypeOfAnswer(const FormFields& /*fields*/) const {
    return AnswerType();
}

AdminPluginRet WebModule::RenderPage(FormFields& fields, std::string& page) {
    const SharedTemplates& shared = Plugin().GetTemplates();
    page = shared.basePage;
    std::string root;
    Plugin().GetRootUri().flatten(root, tav::uri::all_bits);
    FillText(page, "%TPL_ROOT_URL%", root);
    std::string content;
    AdminPluginRet result = BuildMainContent(fields, content);
    FillText(page, "%TPL_MODULE_NAME%", fields.Get("ObjectName"));
    FillMarkup(page, "%TPL_MAIN_MENU%", shared.mainMenu);
    FillMarkup(page, "%TPL_SETUP_BANNER%", Plugin().SetupBanner(fields.Get("_Client_")));
    FillMarkup(page, "%TPL_MAIN_CONTENT%", content);
    FillMarkup(page, "%TPL_PAGE_TITLE%", "TAV Administration Tool");
    const std::string message = MessagesMarkup(result.GetMessages());
    std::string box = shared.messages;
    FillMarkup(box, "%TPL_MESSAGES%", result.IsOK() ? message : "");
    FillMarkup(box, "%TPL_ERROR_MESSAGES%", result.IsOK() ? "" : message);
    FillMarkup(page, "%TPL_MESSAGES%", box);
    FillMarkup(page, "%TPL_COMMON_JS%", shared.commonScript);
    FillMarkup(page, "%TPL_STYLE%", shared.style);
    const std::string group = fields.Get("ClientGroupID");
    FillText(page, "%TPL_GROUP_ID%", group == "0" ? "" : group);
    return result;
}

} // namespace tav::http::admin
