#pragma once

// The daily limits of a group per weekday: minutes online ("TimeLimits") or megabytes ("TrafficLimits"),
// and their switch. One class serves both; a Kind names the fields, placeholders and group members.

#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

#include <cstdint>

namespace tav::http::admin {

class LimitsModule : public WebModule {
public:
    struct Kind {
        const char* page; // the templates below "/pages/templates/"
        const char* row;
        const char* value;         // the placeholder of a day's value, without the day index and the last "%"
        const char* checkBox;      // the placeholder of the switch's check box
        const char* enabledField;  // the check box's field
        const char* field;         // a day's field, without the day index
        const char* fallbackField; // the field read when the first is empty; null for none
        const char* what;          // for messages: "time limit"
        bool (DataModel::ClientGroup::*isEnabled)() const;
        void (DataModel::ClientGroup::*setEnabled)(bool);
        std::int32_t (DataModel::ClientGroup::*get)(unsigned) const;
        void (DataModel::ClientGroup::*set)(unsigned, std::int32_t);
    };
    static const Kind timeLimits;
    static const Kind trafficLimits;

    LimitsModule(AdminPlugin& plugin, const Kind& kind);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    AdminPluginRet SaveEdit(FormFields& fields, std::string& text) override;

private:
    void FillPage(std::string& text, const DataModel::ClientGroup& group) const;

    const Kind& m_kind;
    std::string m_page;
    std::string m_row;
};

} // namespace tav::http::admin
