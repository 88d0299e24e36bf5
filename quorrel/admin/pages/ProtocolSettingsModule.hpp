#pragma once

// The settings of one protocol of a group ("HTTPProtocolSettings", "HTTPSProtocolSettings",
// "MailProtocolSettings", "SOCKSProtocolSettings", "FTPProtocolSettings"): the state of its switches and
// the size of its lists, each switch flipped by "Toggle".

#include "ToggleModule.hpp"

#include <quorrel/DataModel.hpp>

namespace tav::http::admin {

class ProtocolSettingsModule : public ToggleModule {
public:
    // `page`: the page's template file below "/pages/templates/".
    ProtocolSettingsModule(AdminPlugin& plugin, DataModel::ProtocolSettingsType type,
                           const std::string& page);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;

protected:
    AdminPluginRet Toggle(FormFields& fields, std::string& text) override;

private:
    DataModel::ProtocolSettingsType m_type;
    std::string m_page;
};

} // namespace tav::http::admin
