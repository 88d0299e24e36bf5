#pragma once

// The general page of a group ("GeneralProtocolSettings", "Filtering"): what its categories, time table
// and limits allow, and the switches of its time rules, flipped by "Toggle".

#include "ToggleModule.hpp"

#include <quorrel/DataModel.hpp>

namespace tav::http::admin {

class GeneralProtocolSettingsModule : public ToggleModule {
public:
    explicit GeneralProtocolSettingsModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;

    // The summaries of the page: per weekday, the share of allowed hours, the minutes and the megabytes.
    static std::string TimeTableInfo(const DataModel::ClientGroup& group);
    static std::string TimeLimitsInfo(const DataModel::ClientGroup& group);
    static std::string TrafficLimitsInfo(const DataModel::ClientGroup& group);

protected:
    AdminPluginRet Toggle(FormFields& fields, std::string& text) override;

private:
    std::string m_page;
};

} // namespace tav::http::admin
