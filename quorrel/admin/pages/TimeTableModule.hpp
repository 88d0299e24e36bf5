#pragma once

// The weekly time table of a group ("TimeTable"): the half hours in which its computers may go online.

#include <quorrel/admin/WebModule.hpp>

namespace tav::http::admin {

class TimeTableModule : public WebModule {
public:
    explicit TimeTableModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;

private:
    std::string m_page;
};

} // namespace tav::http::admin
