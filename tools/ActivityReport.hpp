#pragma once

#include <quorrel/ActivityHistory.hpp>
#include <quorrel/DataModel.hpp>

#include <ctime>
#include <iosfwd>
#include <string>

// The activity history as text tables: each computer's use per day, the sites used most by time and by
// traffic, and the last refusals, over the last days up to today. Computers and groups are named from the
// policy as it is now; a computer it does not know is shown by its address.
class ActivityReport {
public:
    ActivityReport(const tav::DataModel& model, tav::ActivityHistory& history, std::ostream& out);

    // The days up to the one of `now`, narrowed to one client when `client` is not empty.
    void Print(std::time_t now, int days, const std::string& client);

private:
    std::string ComputerName(const std::string& ip) const;
    std::string GroupName(const std::string& id) const;

    const tav::DataModel& m_model;
    tav::ActivityHistory& m_history;
    std::ostream& m_out;
};
