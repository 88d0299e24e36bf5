#include "PolicyFolder.hpp"
#include <support/FakeClock.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

using tav::DataModel;
using tav::Ret;

namespace {

std::string Days(const std::string& prefix, const std::string& value) {
    std::string text;
    for (const char* day : {"sun", "mon", "tue", "wed", "thu", "fri", "sat"})
        text += "<" + prefix + day + ">" + value + "</" + prefix + day + ">";
    return text;
}

std::string Group(const std::string& id, const std::string& name, const std::string& protocols = "") {
    return "<clientgroup><id>" + id + "</id><name>" + name + "</name>" + Days("timelimits", "60") +
           "<protocolssettings>" + protocols + "</protocolssettings></clientgroup>";
}

std::string Policy(const std::string& sections) {
    return "<?xml version=\"1.0\"?><tavdata>" + sections + "</tavdata>";
}

// Every kind of record, with values that are easy to lose: Cyrillic text, blanks around values,
// an empty traffic limit, masks with high bits, upper-case element names, a one-byte password.
const std::string RICH = Policy(
    "<categories><category><id>99</id><name>Ignored</name></category></categories>"
    "<ClientGroups>"
    "<clientgroup><id>7</id><name>\xd0\x94\xd0\xb5\xd1\x82\xd0\xb8 &amp; teens</name>"
    "<timetable>" +
    std::string(48, '0') + std::string(288, '1') + "</timetable><istimetableenabled>1</istimetableenabled>" +
    Days("timelimits", "\n 90 \t") + "<timelimitsenabled>1</timelimitsenabled>" +
    Days("trafficlimits", "250") +
    "<trafficlimitsmon> </trafficlimitsmon><trafficlimitsenabled>1</trafficlimitsenabled>"
    "<blockedcategoriesmask>8000e6fb</blockedcategoriesmask>"
    "<PROTOCOLSSETTINGS><httpprotocolsettings>"
    "<isinnerblockeddbenabled>0</isinnerblockeddbenabled><isinnertrusteddbenabled>0</isinnertrusteddbenabled>"
    "<customersites><customersite><id>1</id><uri>HTTP://Homework.Example/Maths</uri><isblocked>0</"
    "isblocked></customersite>"
    "<customersite><id>2</id><uri>http://games.example/</uri></customersite>"
    "<customersite><id>3</id><uri>ftp://files.example</uri><isblocked>1</isblocked></customersite></"
    "customersites>"
    "<istrustedsitesfixed>1</istrustedsitesfixed><istrustedsitesenabled>1</istrustedsitesenabled>"
    "<isblockedsitesenabled>1</isblockedsitesenabled>"
    "<blockedurlwords><blockedurlword><id>1</id><word>\xd0\xba\xd0\xb0\xd0\xb7\xd0\xb8\xd0\xbd\xd0\xbe</word>"
    "<categoriesmask>20</categoriesmask></blockedurlword>"
    "<blockedurlword><id>2</id><word>Poker</word><categoriesmask>ffffffff</categoriesmask></blockedurlword>"
    "<blockedurlword><id>3</id><word>poker</word><categoriesmask>20</categoriesmask></blockedurlword></"
    "blockedurlwords>"
    "<blockedurlwordsenabled>1</blockedurlwordsenabled><contentfiltrationenabled>1</contentfiltrationenabled>"
    "<severitylevel>3</severitylevel><isinapcontentwordsenabled>1</isinapcontentwordsenabled>"
    "<inapcontentwords><inapcontentword><id>4</id><word>gore</word></inapcontentword></inapcontentwords>"
    "<iscontenttypesenabled>1</iscontenttypesenabled>"
    "<contenttypes><contenttype><id>1</id><type>video/</type><description>Films</description><action>2</"
    "action>"
    "</contenttype></contenttypes>"
    "<networkenabled>1</networkenabled><filtrationenabled>0</filtrationenabled><canaccessbyip>1</"
    "canaccessbyip>"
    "</httpprotocolsettings>"
    "<httpsprotocolsettings><blockedurlwords><blockedurlword><id>9</id><word>proxy</word><categoriesmask>200"
    "</categoriesmask></blockedurlword></blockedurlwords><blockedurlwordsenabled>1</blockedurlwordsenabled>"
    "<networkenabled>0</networkenabled></httpsprotocolsettings>"
    "<ftpprotocolsettings><canaccessbyip>1</canaccessbyip></ftpprotocolsettings><unknown/>"
    "</PROTOCOLSSETTINGS></clientgroup>" +
    Group("1", "* guests *") +
    "</ClientGroups>"
    "<clients><client><id>stale</id><ip>10.0.0.7</ip><groupid>7</groupid><login>kid</login><password>p "
    "w</password>"
    "<dailyworkedtime>3600</dailyworkedtime><dailyworkedtimelastupdate>1765180800</dailyworkedtimelastupdate>"
    "<dailyworkedtraffic>2147483647</dailyworkedtraffic><dailyworkedtrafficlastupdate>-5</"
    "dailyworkedtrafficlastupdate>"
    "</client><client><ip>10.0.0.10</ip><groupid>1</groupid></client></clients>"
    "<defaultblockedurlwords><blockedurlword><id>1</id><word>casino</word><categoriesmask>20</categoriesmask>"
    "</blockedurlword></defaultblockedurlwords>"
    "<defaultcontenttypes><contenttype><id>1</id><type>application/x-msdownload</type><action>1</action>"
    "</contenttype></defaultcontenttypes>"
    "<securityquestions><securityquestion><id>2</id><question>\xd0\x93\xd0\xbe\xd1\x80\xd0\xbe\xd0\xb4?</"
    "question>"
    "</securityquestion></securityquestions>"
    "<settings><isfiltrationon>1</isfiltrationon><adminemail>admin@home.example</adminemail>"
    "<isrunatstartup>0</isrunatstartup><password>C7</password><securityquestionid>2</securityquestionid>"
    "<securityanswer>\xd0\x9c\xd0\xb8\xd0\xbd\xd1\x81\xd0\xba</securityanswer></settings>");

std::string Saved(DataModel& model) {
    const Ret saved = model.SaveTunes();
    EXPECT_TRUE(saved.IsOK()) << saved.GetMessage();
    return PolicyFolder::Read(model.GetTunesPath());
}

std::string LoadFailure(const std::string& policy) {
    const PolicyFolder folder(policy);
    Ret result(Ret::OK, "");
    folder.Load(result);
    EXPECT_EQ(result.GetCode(), Ret::ERR);
    return result.GetMessage();
}

} // namespace

TEST(Tunes, SaveThenLoadGivesAnEqualModel) {
    const PolicyFolder folder(RICH);
    const std::string first = Saved(*folder.Load());
    const std::string second = Saved(*folder.Load());
    EXPECT_EQ(first, second);

    for (const char* written : {
             // names in lower case, values trimmed, the empty traffic limit written as empty text
             "<clientgroup><id>7</id><name>\xd0\x94\xd0\xb5\xd1\x82\xd0\xb8 &amp; teens</name>",
             "<timelimitssun>90</timelimitssun>",
             "<trafficlimitsmon></trafficlimitsmon>",
             "<trafficlimitstue>250</trafficlimitstue>",
             "<blockedcategoriesmask>8000e6fb</blockedcategoriesmask>",
             "<protocolssettings><httpprotocolsettings><isinnerblockeddbenabled>0</isinnerblockeddbenabled>",
             // blocked sites first, then trusted; a site without a flag is blocked; the key is normalised
             "<customersites><customersite><id>3</id><uri>ftp://files.example</uri><isblocked>1</isblocked>"
             "</customersite><customersite><id>2</id><uri>http://games.example/</uri><isblocked>1</isblocked>"
             "</customersite><customersite><id>1</id><uri>http://homework.example/Maths</uri><isblocked>0</"
             "isblocked>",
             // words ordered byte-wise, both letter cases kept, masks in hex
             "<word>Poker</word><categoriesmask>ffffffff</categoriesmask>",
             "<word>poker</word><categoriesmask>20</categoriesmask>",
             "<severitylevel>3</severitylevel>",
             "<iscontenttypesenabled>1</iscontenttypesenabled>",
             "<action>2</action></contenttype></contenttypes><networkenabled>1</networkenabled>"
             "<filtrationenabled>0</filtrationenabled><canaccessbyip>1</canaccessbyip></"
             "httpprotocolsettings>",
             "<httpsprotocolsettings><blockedurlwords><blockedurlword><id>9</id>",
             "<networkenabled>0</networkenabled><filtrationenabled>1</filtrationenabled>",
             "<ftpprotocolsettings><networkenabled>1</networkenabled><filtrationenabled>1</filtrationenabled>"
             "<canaccessbyip>1</canaccessbyip></ftpprotocolsettings>",
             // a client is keyed by its IP and listed in text order; the day stamps keep their low 32 bits
             "<clients><client><id>10.0.0.10</id>",
             "</client><client><id>10.0.0.7</id><ip>10.0.0.7</ip><groupid>7</groupid><login>kid</"
             "login><password>p "
             "w</password>"
             "<dailyworkedtime>3600</dailyworkedtime><dailyworkedtimelastupdate>1765180800</"
             "dailyworkedtimelastupdate>"
             "<dailyworkedtraffic>2147483647</dailyworkedtraffic>"
             "<dailyworkedtrafficlastupdate>-5</dailyworkedtrafficlastupdate>",
             "<securityquestionid>2</securityquestionid>",
         })
        EXPECT_NE(first.find(written), std::string::npos) << written;
    EXPECT_EQ(first.find("Ignored"), std::string::npos);
    EXPECT_EQ(first.find("unknown"), std::string::npos);
}

TEST(Tunes, CharactersOutsideTheCodePageLoadAsQuestionMarks) {
    // U+0499 has no windows-1251 byte; U+1F600 is outside the basic plane as well.
    const PolicyFolder folder(Policy("<clientgroups><clientgroup><id>7</id><name>a\xd2\x99"
                                     "b\xf0\x9f\x98\x80"
                                     "c</name>"
                                     "</clientgroup></clientgroups>"));
    const std::string saved = Saved(*folder.Load());
    EXPECT_NE(saved.find("<name>a?b?c</name>"), std::string::npos) << saved;
}

TEST(Tunes, WritesTheBuiltInCategoriesInTextOrder) {
    const PolicyFolder folder;
    const std::string saved = Saved(*folder.Load());
    std::string ids;
    for (std::size_t at = saved.find("<category><id>"); at != std::string::npos;
         at = saved.find("<category><id>", at + 1))
        ids += saved.substr(at + 14, saved.find('<', at + 14) - at - 14) + " ";
    EXPECT_EQ(ids, "1 10 11 12 13 14 15 16 2 3 4 5 6 7 8 ");
    EXPECT_NE(saved.find("<name>Web E-Mail</name>"), std::string::npos);
}

TEST(Tunes, RootWithoutChildrenLoadsAnEmptyModel) {
    const PolicyFolder folder("<anything/>");
    const std::string saved = Saved(*folder.Load());
    EXPECT_NE(
        saved.find(
            "<clientgroups/><clients/><defaultblockedurlwords/><defaultcontenttypes/><securityquestions/>"
            "<settings><isfiltrationon>0</isfiltrationon><adminemail></adminemail>"
            "<isrunatstartup>1</isrunatstartup><password></password>"
            "<securityquestionid></securityquestionid><securityanswer></securityanswer></settings>"),
        std::string::npos)
        << saved;
}

TEST(Tunes, LoadFailuresCarryTheirMessages) {
    const std::string words =
        "<blockedurlword><id>1</id><word>bet</word><categoriesmask>1</categoriesmask></blockedurlword>";
    EXPECT_EQ(LoadFailure(Policy("<clientgroups>" + Group("4", "A") + Group("4", "B") + "</clientgroups>")),
              "ClientGroup with the same ID is already added: 4");
    EXPECT_EQ(LoadFailure(Policy("<clients><client><ip>10.0.0.1</ip><groupid>5</groupid></client></clients>"
                                 "<clientgroups>" +
                                 Group("5", "A") + "</clientgroups>")),
              "Can not find the Client Group with ID = 5");
    EXPECT_EQ(
        LoadFailure(Policy("<clientgroups>" + Group("5", "A") +
                           "</clientgroups><clients>"
                           "<client><ip>10.0.0.1</ip><groupid>5</groupid></client>"
                           "<client><id>x</id><ip>10.0.0.1</ip><groupid>5</groupid></client></clients>")),
        "Client with the same ID is already added: 10.0.0.1");
    EXPECT_EQ(LoadFailure(Policy("<defaultblockedurlwords>" + words + words + "</defaultblockedurlwords>")),
              "Same word is already added: bet");
    EXPECT_EQ(
        LoadFailure(Policy("<defaultcontenttypes><contenttype><id>1</id><type>a/</type></contenttype>"
                           "<contenttype><id>2</id><type>a/</type></contenttype></defaultcontenttypes>")),
        "Same Content Type is already added: a/");
    EXPECT_EQ(LoadFailure(Policy("<securityquestions><securityquestion><id>1</id><question>Q1</question>"
                                 "</securityquestion><securityquestion><id>1</id><question>Q2</question>"
                                 "</securityquestion></securityquestions>")),
              "The same question is already added: Q2");
    EXPECT_EQ(LoadFailure(Policy("<clientgroups>" +
                                 Group("4", "A",
                                       "<httpsprotocolsettings><blockedurlwords>" + words + words +
                                           "</blockedurlwords></httpsprotocolsettings>") +
                                 "</clientgroups>")),
              "Same word already added: bet");
    EXPECT_EQ(LoadFailure(Policy("<clientgroups>" +
                                 Group("4", "A",
                                       "<httpprotocolsettings><customersites>"
                                       "<customersite><id>1</id><uri>http://a.example</uri></customersite>"
                                       "<customersite><id>2</id><uri>HTTP://A.example/</uri></customersite>"
                                       "</customersites></httpprotocolsettings>") +
                                 "</clientgroups>")),
              "Customer Site with the same URI already added: http://a.example/");
    EXPECT_EQ(LoadFailure(Policy("<clientgroups>" + Group("4", "") + "</clientgroups>")), "Empty Name");
}

TEST(Tunes, UnreadableFilesFailWithoutThrowing) {
    for (const std::string& policy : {std::string(), std::string("<tavdata><clientgroups>"),
                                      std::string("not xml"), std::string("<?xml version=\"1.0\"?>"),
                                      std::string("<a><b></a>"), std::string("\xff\xfe<\0t\0a\0", 8)}) {
        const std::string message = LoadFailure(policy);
        EXPECT_EQ(message.rfind("Can not read the policy file ", 0), 0u) << message;
    }
    const PolicyFolder folder;
    std::filesystem::remove(folder.PolicyPath());
    Ret result(Ret::OK, "");
    folder.Load(result);
    EXPECT_EQ(result.GetMessage().rfind("Can not read the policy file " + folder.PolicyPath(), 0), 0u);

    std::filesystem::remove(folder.Root() + "/site/pages/templates/ForbiddenPage.tpl.html");
    folder.Load(result);
    EXPECT_EQ(result.GetMessage(),
              "Error opening file " + folder.Root() + "/site/pages/templates/ForbiddenPage.tpl.html");
}

TEST(Tunes, DocumentTypesAreRefused) {
    // Neither an outside document is fetched nor an entity expanded.
    std::string bomb = "<!DOCTYPE t [<!ENTITY a \"aaaaaaaaaa\">";
    for (char level = 'b'; level <= 'j'; ++level)
        bomb += std::string("<!ENTITY ") + level + " \"" + std::string(10, '&') +
                static_cast<char>(level - 1) + ";\">";
    for (const std::string& doctype :
         {bomb + "]>", std::string("<!DOCTYPE t SYSTEM \"http://127.0.0.1:1/x.dtd\">")}) {
        const std::string message = LoadFailure("<?xml version=\"1.0\"?>" + doctype +
                                                "<tavdata><settings><adminemail>&j;</adminemail>"
                                                "</settings></tavdata>");
        EXPECT_EQ(message.rfind("Can not read the policy file ", 0), 0u) << message;
    }
}

TEST(Tunes, QuestionsMustComeBeforeTheSettings) {
    const PolicyFolder folder(Policy("<settings><securityquestionid>1</securityquestionid></settings>"
                                     "<securityquestions><securityquestion><id>1</id><question>Q</question>"
                                     "</securityquestion></securityquestions>"));
    EXPECT_NE(Saved(*folder.Load()).find("<securityquestionid></securityquestionid>"), std::string::npos);
}

TEST(Tunes, ABadSiteAddressThrows) {
    const PolicyFolder folder(Policy("<clientgroups>" +
                                     Group("4", "A",
                                           "<httpprotocolsettings><customersites><customersite><id>1</id>"
                                           "<uri>http://host:port/</uri></customersite></customersites>"
                                           "</httpprotocolsettings>") +
                                     "</clientgroups>"));
    Ret result(Ret::OK, "");
    try {
        folder.Load(result);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Can not parse URI: http://host:port/");
    }
}

TEST(Tunes, TheSampleConfigurationLoads) {
    auto model = std::make_unique<DataModel>();
    const std::string cfg = SAMPLE_CFG;
    const Ret result =
        model->Init(cfg + "/zun_data.xml", cfg + "/URLFilterDB.bin", cfg + "/Administration/site");
    ASSERT_TRUE(result.IsOK()) << result.GetMessage();
    EXPECT_NE(model->GetForbiddenPageTemplate().find("<html>"), std::string::npos);
}

TEST(Tunes, AFileFromBeforeSavesByteForByte) {
    for (const std::string& policy : {RICH, PolicyFolder::Read(std::string(SAMPLE_CFG) + "/zun_data.xml")}) {
        // A file as saves wrote it before the pause, the extra time and the search levels were kept.
        const std::string before = Saved(*PolicyFolder(policy).Load());
        for (const char* name : {"pauseduntil", "extraminutes", "safesearch", "youtuberestrict"})
            EXPECT_EQ(before.find(name), std::string::npos) << name;
        EXPECT_EQ(Saved(*PolicyFolder(before).Load()), before);
    }
}

TEST(Tunes, TheControlsSurviveSaveAndLoad) {
    const PolicyFolder folder(RICH);
    const auto clock = std::make_shared<FakeClock>();
    clock->SetTuesday(12, 0);
    auto model = folder.Load();
    model->SetClock(clock);
    const std::int64_t after2038 = 4102444800; // 2100-01-01
    ASSERT_TRUE(model->PauseClientGroup("7", after2038).IsOK());
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.7", 45).IsOK());
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    ASSERT_TRUE(model->GetProtocolSettings("7", DataModel::PST_HTTPS, settings).IsOK());
    auto& https = static_cast<DataModel::HTTPSProtocolSettings&>(*settings);
    https.SetSafeSearch(2);
    https.SetYouTubeRestrict(1);
    ASSERT_TRUE(model->SaveProtocolSettings("7", https).IsOK());

    const std::string saved = Saved(*model);
    for (const char* written :
         {"<pauseduntil>4102444800</pauseduntil><protocolssettings>",
          "<extraminutes>45</extraminutes><extraminutesgiven>1796126400</extraminutesgiven>",
          "<safesearch>2</safesearch><youtuberestrict>1</youtuberestrict>"})
        EXPECT_NE(saved.find(written), std::string::npos) << written;

    auto loaded = folder.Load();
    std::unique_ptr<DataModel::ClientGroup> group(
        static_cast<DataModel::ClientGroup*>(loaded->GetClientGroup("7").GetObj()));
    EXPECT_EQ(group->GetPausedUntil(), after2038);
    const auto& levels = static_cast<const DataModel::HTTPSProtocolSettings&>(
        *group->GetProtocolSettings(DataModel::PST_HTTPS));
    EXPECT_EQ(levels.GetSafeSearch(), 2);
    EXPECT_EQ(levels.GetYouTubeRestrict(), 1);
    std::unique_ptr<DataModel::Client> client(
        static_cast<DataModel::Client*>(loaded->GetClient("10.0.0.7").GetObj()));
    EXPECT_EQ(client->GetExtraMinutes(), 45);
    EXPECT_EQ(client->GetExtraMinutesGiven(), clock->Now());
    EXPECT_EQ(Saved(*loaded), saved);
}

TEST(Tunes, ControlsOutOfRangeFailTheLoad) {
    const auto load = [](const std::string& group, const std::string& https, const std::string& client) {
        return LoadFailure(Policy("<clientgroups><clientgroup><id>4</id><name>A</name>" + group +
                                  "<protocolssettings><httpsprotocolsettings>" + https +
                                  "</httpsprotocolsettings></protocolssettings></clientgroup></clientgroups>"
                                  "<clients><client><ip>10.0.0.1</ip><groupid>4</groupid>" +
                                  client + "</client></clients>"));
    };
    EXPECT_EQ(load("<pauseduntil>-1</pauseduntil>", "", ""),
              "The paused until value must be bigger or equals 0");
    EXPECT_EQ(load("", "<safesearch>3</safesearch>", ""), "The safe search value must be 0, 1 or 2");
    EXPECT_EQ(load("", "<youtuberestrict>-1</youtuberestrict>", ""),
              "The YouTube restriction value must be 0, 1 or 2");
    EXPECT_EQ(load("", "", "<extraminutes>2000</extraminutes>"),
              "The extra minutes value must be between the 0 and 1440");
    EXPECT_EQ(load("", "", "<extraminutesgiven>-5</extraminutesgiven>"),
              "The extra minutes given value must be bigger or equals 0");
}
