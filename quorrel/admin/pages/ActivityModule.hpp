#pragma once

// What the computers did ("Activity"), from the history the service keeps: the last 7 days' minutes and
// megabytes per computer as bar charts, the sites used most today and this week, the latest refusals, each
// with a button that trusts the refused site for the computer's group, the administration's latest events
// and the state of the history. "ID" narrows the page to a group (its ID) or a computer (its IP address).
// "Export" answers the same days' records as a CSV file, and the home page gets today's summary per group.

#include <quorrel/ActivityHistory.hpp>
#include <quorrel/DataModel.hpp>
#include <quorrel/admin/WebModule.hpp>

#include <string>
#include <vector>

namespace tav::http::admin {

class ActivityModule : public WebModule {
public:
    explicit ActivityModule(AdminPlugin& plugin);

    AdminPluginRet Get(FormFields& fields, std::string& text,
                       const std::optional<AdminPluginRet>& preset = std::nullopt) override;
    // Trusts a refused site: the host "Uri" joins the trusted sites of the group "ClientGroupID" through the
    // sites page's own save; the page then shows the group's activity with what was done.
    AdminPluginRet SaveNew(FormFields& fields, std::string& text) override;
    // "Export" renders the CSV file alone; every other action the framed page.
    AdminPluginRet RenderPage(FormFields& fields, std::string& page) override;
    AnswerType TypeOfAnswer(const FormFields& fields) const override;
    bool UsesStandardMainContent() const override { return false; }
    bool UsesProtocolSettingsMenu() const override { return false; }

    // Fills "%TPL_TODAY_SUMMARY%" of a page with today's minutes, traffic and refusals per group.
    void FillTodaySummary(std::string& page) const;

    // A field of a CSV line, quoted when it holds a comma, a quote or a line break, and with an apostrophe
    // before a text that a spreadsheet would take for a formula.
    static std::string CsvField(const std::string& text);

private:
    class Names;

    // The records of the 7 days up to today as CSV: a header, then the use of each day, computer and site,
    // then each refusal, oldest first.
    AdminPluginRet Export(const FormFields& fields, std::string& csv) const;
    // The parts of the page below its heading, for a history that could be opened.
    std::string History(ActivityHistory& history, const ActivityHistory::Scope& scope, const Names& names,
                        const std::string& id) const;
    std::string Charts(const std::vector<std::string>& days, const std::vector<ActivityHistory::DayUse>& uses,
                       const Names& names) const;
    std::string TopSites(const std::string& title, const std::vector<ActivityHistory::SiteUse>& sites) const;
    std::string Refusals(const std::vector<ActivityHistory::Refusal>& refusals, const Names& names) const;
    std::string Events(const std::vector<ActivityHistory::AdminEvent>& events) const;

    std::string m_page;
    std::string m_history;
    std::string m_chart;
    std::string m_top;
    std::string m_topRow;
    std::string m_refusalRow;
    std::string m_trustButton;
    std::string m_eventRow;
    std::string m_summary;
    std::string m_summaryRow;
};

} // namespace tav::http::admin
