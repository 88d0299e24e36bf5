#include "../model/PasswordScrambler.hpp"
#include "../model/PolicyXml.hpp"
#include "PolicyFolder.hpp"

#include <quorrel/Settings.hpp>

#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>

using tav::PasswordScrambler;
using tav::PolicyXml;

TEST(PolicyXml, EveryByteSurvivesTheTranscoding) {
    PolicyXml::Init();
    xercesc::DOMImplementation* implementation =
        xercesc::DOMImplementationRegistry::getDOMImplementation(u"Core");
    xercesc::DOMDocument* document = implementation->createDocument(nullptr, u"tavdata", nullptr);
    for (int byte = 1; byte < 0x100; ++byte) {
        const std::string value = std::string("a") + static_cast<char>(byte) + "z";
        PolicyXml::AppendValue(document->getDocumentElement(), u"word", value);
        EXPECT_EQ(PolicyXml::Text(document->getDocumentElement()->getLastElementChild()), value) << byte;
    }
    PolicyXml::AppendValue(document->getDocumentElement(), u"Word", " \t\r\n\f 60 \n");
    const xercesc::DOMElement* last = document->getDocumentElement()->getLastElementChild();
    EXPECT_EQ(PolicyXml::Text(last), "60");
    EXPECT_TRUE(PolicyXml::Is(last, u"WORD"));
    EXPECT_FALSE(PolicyXml::Is(last, u"words"));
    document->release();
}

TEST(PolicyXml, BooleansReadLikeAtoi) {
    EXPECT_TRUE(PolicyXml::ToBool("1"));
    EXPECT_TRUE(PolicyXml::ToBool("12abc"));
    EXPECT_TRUE(PolicyXml::ToBool("-1"));
    EXPECT_FALSE(PolicyXml::ToBool("0"));
    EXPECT_FALSE(PolicyXml::ToBool(""));
    EXPECT_FALSE(PolicyXml::ToBool("true"));
    EXPECT_EQ(PolicyXml::FromBool(true), "1");
    EXPECT_EQ(PolicyXml::FromBool(false), "0");
}

TEST(PasswordScrambler, AnOlderFileLoadsItsSecretsAndIsWrittenWithHashesOnly) {
    const PolicyFolder folder(
        "<tavdata><securityquestions><securityquestion><id>1</id><question>Pet?</question></securityquestion>"
        "</securityquestions><settings><password>" +
        PasswordScrambler::Scramble("s3cret") +
        "</password><securityquestionid>1</securityquestionid><securityanswer> Rex </securityanswer>"
        "</settings></tavdata>");
    for (int load = 0; load < 2; ++load) {
        std::unique_ptr<tav::DataModel::Settings> settings;
        ASSERT_TRUE(folder.Load()->GetSettings(settings).IsOK());
        EXPECT_TRUE(settings->GetPassword().Matches("s3cret")) << load;
        EXPECT_FALSE(settings->GetPassword().Matches("s3cre")) << load;
        EXPECT_TRUE(settings->GetSecurityAnswer().Matches("Rex")) << load;
        ASSERT_TRUE(folder.Load()->SaveTunes().IsOK());
        const std::string saved = folder.Policy();
        EXPECT_EQ(std::string::npos, saved.find(PasswordScrambler::Scramble("s3cret"))) << saved;
        EXPECT_EQ(std::string::npos, saved.find("Rex")) << saved;
        EXPECT_NE(std::string::npos, saved.find("<password>$argon2id$")) << saved;
        EXPECT_NE(std::string::npos, saved.find("<securityanswer>$argon2id$")) << saved;
    }
    // A damaged hash matches nothing, and an empty secret only empty text.
    const tav::Secret damaged = tav::Secret::FromStored("$argon2id$v=19$m=1", &PasswordScrambler::Unscramble);
    EXPECT_FALSE(damaged.IsEmpty());
    EXPECT_FALSE(damaged.Matches(""));
    EXPECT_FALSE(damaged.Matches("$argon2id$v=19$m=1"));
    EXPECT_TRUE(tav::Secret::Of(" ").Matches(""));
    EXPECT_FALSE(tav::Secret::Of("").Matches(" "));
}

TEST(PasswordScrambler, RoundTripsEveryPassword) {
    std::string allBytes;
    for (int byte = 1; byte < 0x100; ++byte)
        allBytes += static_cast<char>(byte);
    for (const std::string& password :
         {std::string("a"), std::string("8"), std::string("secret"), std::string("\xcf\xe0\xf0\xee\xeb\xfc"),
          std::string("aa"), allBytes}) {
        const std::string text = PasswordScrambler::Scramble(password);
        EXPECT_EQ(text.size(), 2 * password.size());
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
        EXPECT_EQ(PasswordScrambler::Unscramble(text), password);
    }
    EXPECT_EQ(PasswordScrambler::Scramble(""), "");
    EXPECT_EQ(PasswordScrambler::Scramble(" \t"), "");
    EXPECT_EQ(PasswordScrambler::Unscramble(" "), "");
    EXPECT_EQ(PasswordScrambler::Unscramble("zz"), "");
}

TEST(PasswordScrambler, ChainsEveryByteToTheOneBefore) {
    // A one-byte password starts from the chain value '8'; longer ones from their last byte.
    EXPECT_NE(PasswordScrambler::Scramble("a"), PasswordScrambler::Scramble("b"));
    const std::string ab = PasswordScrambler::Scramble("ab");
    const std::string cb = PasswordScrambler::Scramble("cb");
    EXPECT_NE(ab.substr(0, 2), cb.substr(0, 2));
    EXPECT_NE(ab.substr(2), cb.substr(2)) << "the second byte depends on the first";
    EXPECT_NE(PasswordScrambler::Scramble("ab").substr(0, 2), PasswordScrambler::Scramble("ac").substr(0, 2))
        << "the first byte depends on the last";
    EXPECT_EQ(PasswordScrambler::Unscramble(ab.substr(0, 2) + "x"),
              PasswordScrambler::Unscramble(ab.substr(0, 2) + "xx").substr(0, 1));
    EXPECT_EQ(PasswordScrambler::Unscramble(ab + "zz"), "ab")
        << "decoding stops at the first non-hex character";
    EXPECT_EQ(PasswordScrambler::Unscramble(ab.substr(0, 2) + ab.substr(2, 1)).size(), 2u);
}
