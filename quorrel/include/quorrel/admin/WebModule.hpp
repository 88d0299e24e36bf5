#pragma once

// tav::http::admin::WebModule - the base of every page module of the administration site.
//
// A module carries out the request's "Action" on one kind of object and renders the whole page: its own
// output framed by the shared templates of the extension. The slots below are overridden per module; the
// base offers none of the operations (-4) and frames with the standard main content.

#include <quorrel/admin/AdminPluginRet.hpp>
#include <quorrel/admin/FormFields.hpp>
#include <quorrel/export.hpp>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tav::http::admin {

class AdminPlugin;

class QUORREL_EXPORT WebModule {
public:
    explicit WebModule(AdminPlugin& plugin);
    WebModule(const WebModule&) = delete;
    WebModule& operator=(const WebModule&) = delete;
    virtual ~WebModule();

    // Reads the module's templates below the site root: 0, or -1 "Error opening file " + the first path
    // that could not be read.
    AdminPluginRet LoadTemplates(const std::string& siteRoot);

    virtual AdminPluginRet ExecuteAction(FormFields& fields, std::string& text);
    virtual AdminPluginRet BuildMainContent(FormFields& fields, std::string& content);
    // Get and GetList hand back a preset result unchanged when they are given one.
    virtual AdminPluginRet Get(FormFields& fields, std::string& text,
                               const std::optional<AdminPluginRet>& preset = std::nullopt);
    virtual AdminPluginRet GetList(FormFields& fields, std::string& text,
                                   const std::optional<AdminPluginRet>& preset = std::nullopt);
    virtual AdminPluginRet GetNew(FormFields& fields, std::string& text);
    virtual AdminPluginRet SaveNew(FormFields& fields, std::string& text);
    virtual AdminPluginRet GetEdit(FormFields& fields, std::string& text);
    virtual AdminPluginRet SaveEdit(FormFields& fields, std::string& text);
    virtual AdminPluginRet Delete(FormFields& fields, std::string& text);
    virtual bool UsesStandardMainContent() const;
    virtual void BuildNavigationMenu(std::string& menu);
    virtual bool UsesProtocolSettingsMenu() const;
    virtual AdminPluginRet RenderPage(FormFields& fields, std::string& page);

    // What RenderPage answers a request with, when it is not the site's HTML page: a file's content type and
    // the header fields that go with it.
    struct AnswerType {
        std::string contentType; // empty for the HTML page
        std::vector<std::pair<std::string, std::string>> fields;
    };
    // The type of the answer to the request of these fields, asked after RenderPage; the HTML page unless
    // overridden. Only the HTML page gets the session and the nonce filled in.
    virtual AnswerType TypeOfAnswer(const FormFields& fields) const;

protected:
    // Declares a template file (relative to the site root, e.g. "/pages/templates/X.tpl.html") that
    // LoadTemplates reads into `text`, in the order declared.
    void AddTemplate(const std::string& file, std::string& text);
    AdminPlugin& Plugin() const { return m_plugin; }
    // Shows the page of another module after an operation of this one: "ObjectName" becomes that
    // module's name and its Get fills the text with `preset` as its result.
    AdminPluginRet ShowPage(const std::string& objectName, FormFields& fields, std::string& text,
                            const std::optional<AdminPluginRet>& preset) const;
    // Whether SaveEdit weighs a password or an answer. It then runs outside the model lock, so that a slow
    // hash never holds up decisions, and calls Change itself around what it stores.
    virtual bool WeighsSecrets() const { return false; }
    // Runs an action that changes the policy, and writes the policy when it succeeds. When the policy
    // cannot be written, the change is undone and this module's page is shown again with the failure.
    AdminPluginRet Change(FormFields& fields, std::string& text,
                          const std::function<AdminPluginRet()>& action);

private:
    AdminPlugin& m_plugin;
    std::vector<std::pair<std::string, std::string*>> m_templates;
};

} // namespace tav::http::admin
