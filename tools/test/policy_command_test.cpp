#include "PolicyCommand.hpp"

#include <quorrel/ActivityLog.hpp>
#include <quorrel/PolicyWatch.hpp>
#include <quorrel/Settings.hpp>
#include <support/temp_folder.hpp>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// A configuration folder: the sample's URL database and site, and a policy of the test's own.
class Folder {
public:
    explicit Folder(const std::string& policy) {
        std::filesystem::copy(SAMPLE_CFG, m_folder.path(), std::filesystem::copy_options::recursive);
        m_folder.write("zun_data.xml", policy);
    }
    const std::string& Root() const { return m_root; }

private:
    const support::temp_folder m_folder{"command"};
    const std::string m_root = m_folder.path().string();
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Command(const Folder& folder, std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = PolicyCommand(folder.Root(), out, err).Run(args);
    return {status, out.str(), err.str()};
}

const std::string POLICY = R"(<tavdata><clientgroups>
<clientgroup><id>4</id><name>Kids</name><blockedcategoriesmask>20</blockedcategoriesmask><protocolssettings>
<httpprotocolsettings><isblockedsitesenabled>1</isblockedsitesenabled><customersites><customersite><id>1</id>
<uri>http://games.example/</uri><isblocked>1</isblocked></customersite></customersites></httpprotocolsettings>
<ftpprotocolsettings><networkenabled>0</networkenabled></ftpprotocolsettings></protocolssettings></clientgroup>
</clientgroups><clients><client><ip>10.0.0.4</ip><groupid>4</groupid></client></clients>
<settings><isfiltrationon>1</isfiltrationon></settings></tavdata>)";

} // namespace

TEST(PolicyCommand, ChecksRequestsWithExitStatus) {
    const Folder folder(POLICY);
    const Outcome refused = Command(folder, {"check", "10.0.0.4", "http://games.example/play"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "refused: Site is blocked by Customer Blocked Sites List\n");
    EXPECT_EQ(Command(folder, {"check", "10.0.0.4", "http://library.example/"}).out, "allowed\n");
    EXPECT_EQ(
        Command(folder, {"check", "10.0.0.4", "http://GAMES.example./%70lay/../play"}).out,
        "decided as http://games.example/play\nrefused: Site is blocked by Customer Blocked Sites List\n");
    EXPECT_EQ(Command(folder, {"check", "10.0.0.4", "http://library.example/"}).status, 0);

    // The protocol comes from the scheme unless it is given.
    EXPECT_EQ(Command(folder, {"check", "10.0.0.4", "ftp://files.example/"}).out,
              "refused: You are prohibited to access the internet\n");
    EXPECT_EQ(Command(folder, {"check", "10.0.0.4", "ftp://files.example/", "http"}).out, "allowed\n");
    EXPECT_EQ(Command(folder, {"check", "10.0.0.4", "ftp://files.example/", "7"}).status, 1);
}

TEST(PolicyCommand, ReportsAndDumps) {
    const Folder folder(POLICY);
    const Outcome report = Command(folder, {"report", "4", "http://games.example/"});
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(
        report.out.find("Tested URL: http://games.example/\nUser Group: Kids\nCustomer DB: tested URL is  "
                        "defined as Blocked\n"),
        0u);
    EXPECT_NE(
        Command(folder, {"--config", folder.Root(), "dump"}).out.find(" - 10.0.0.4 / 10.0.0.4 / 4 (Kids)"),
        std::string::npos);
    EXPECT_NE(Command(folder, {"--help"}).out.find("usage: tollwick-policy"), std::string::npos);
}

TEST(PolicyCommand, ExplainsWhatItCannotAnswer) {
    const Folder folder(POLICY);
    const std::pair<std::vector<std::string>, std::string> errors[] = {
        {{"check", "10.0.0.4", "games.example"}, "bad URL 'games.example'"},
        {{"check", "10.9.9.9", "http://games.example/"}, "unknown client 10.9.9.9"},
        {{"check", "10.0.0.4", "http://games.example/", "gopher"}, "unknown protocol 'gopher'"},
        {{"report", "9", "http://games.example/"}, "no client group with ID '9'"},
        {{"check", "10.0.0.4"}, "usage: tollwick-policy"},
        {{"frobnicate"}, "usage: tollwick-policy"},
        {{}, "usage: tollwick-policy"},
    };
    for (const auto& [args, message] : errors) {
        const Outcome outcome = Command(folder, args);
        EXPECT_EQ(outcome.status, 2) << message;
        EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
    }

    const Folder broken("<tavdata><clientgroups><clientgroup><id>4</id><name>A</name></clientgroup>"
                        "<clientgroup><id>4</id><name>B</name></clientgroup></clientgroups></tavdata>");
    const Outcome outcome = Command(broken, {"dump"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("does not load:\n  ClientGroup with the same ID is already added: 4"),
              std::string::npos)
        << outcome.err;
}

TEST(PolicyCommand, SetsTheAdministratorPasswordInThePolicyFile) {
    const Folder folder(POLICY);
    const Outcome set = Command(folder, {"password", "s3cret"});
    EXPECT_EQ(0, set.status) << set.err;
    std::ifstream file(folder.Root() + "/zun_data.xml");
    const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, saved.find("<password>$argon2id$")) << "only the password's hash is kept";
    tav::DataModel model;
    ASSERT_TRUE(model
                    .Init(folder.Root() + "/zun_data.xml", folder.Root() + "/URLFilterDB.bin",
                          folder.Root() + "/Administration/site")
                    .IsOK());
    std::unique_ptr<tav::DataModel::Settings> settings;
    model.GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().Matches("s3cret"));
    const Outcome cleared = Command(folder, {"password", ""});
    EXPECT_EQ(0, cleared.status);
    EXPECT_EQ("the site opens without a login\nno service runs on this policy; it takes the change when it "
              "starts\n",
              cleared.out);
    EXPECT_EQ(2, Command(folder, {"password"}).status);
}

// A service that runs on the policy reads the password that the command sets, and the command says so.
TEST(PolicyCommand, ARunningServiceTakesThePassword) {
    const Folder folder(POLICY);
    tav::DataModel service;
    ASSERT_TRUE(service
                    .Init(folder.Root() + "/zun_data.xml", folder.Root() + "/URLFilterDB.bin",
                          folder.Root() + "/Administration/site")
                    .IsOK());
    std::vector<std::string> said;
    tav::PolicyWatch watch(service, [&said](const std::string& problem) { said.push_back(problem); });
    std::string error;
    ASSERT_TRUE(watch.Start(error)) << error;
    const Outcome set = Command(folder, {"password", "s3cret"});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("password set\nthe running service has taken the change\n", set.out);
    std::unique_ptr<tav::DataModel::Settings> settings;
    service.GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().Matches("s3cret"));
    EXPECT_TRUE(said.empty());
}

TEST(PolicyCommand, PrintsTheActivityHistoryOfEveryComputerOrOne) {
    const Folder folder(POLICY);
    const std::string history = folder.Root() + "/activity.db";
    {
        tav::ActivityLog::Options options;
        options.path = history;
        tav::ActivityLog log(options);
        const std::time_t now = std::time(nullptr);
        log.Record(tav::ActivityLog::Use{now, "10.0.0.4", "4", "www.school.example", 3 * 1024 * 1024});
        log.Record(tav::ActivityLog::Use{now, "10.0.0.9", "", "news.example", 512 * 1024});
        log.Record(tav::ActivityLog::Refusal{now, "10.0.0.4", "4", "http", "games.example", "/play",
                                             "Site is blocked by Customer Blocked Sites List"});
    }
    const Outcome all = Command(folder, {"activity", "--history", history});
    ASSERT_EQ(0, all.status) << all.err;
    for (const char* line :
         {"10.0.0.4  Kids        1        3.0", "10.0.0.9  (no group)  1        0.5",
          "school.example  1        3.0",
          "10.0.0.4  http://games.example/play  Site is blocked by Customer Blocked Sites List"})
        EXPECT_NE(std::string::npos, all.out.find(line)) << line << " in\n" << all.out;

    const Outcome one = Command(folder, {"activity", "--days", "1", "--history", history, "10.0.0.9"});
    ASSERT_EQ(0, one.status) << one.err;
    EXPECT_NE(std::string::npos, one.out.find("news.example")) << one.out;
    EXPECT_EQ(std::string::npos, one.out.find("school.example")) << one.out;

    std::ofstream(folder.Root() + "/broken.db") << std::string(4096, 'x');
    const Outcome broken = Command(folder, {"activity", "--history", folder.Root() + "/broken.db"});
    EXPECT_EQ(2, broken.status);
    EXPECT_NE(std::string::npos, broken.err.find("cannot be read")) << broken.err;
    EXPECT_EQ(2, Command(folder, {"activity", "--days", "0"}).status);
}
