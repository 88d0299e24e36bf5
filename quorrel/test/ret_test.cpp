#include <quorrel/DataModel.hpp>

#include <gtest/gtest.h>

using tav::Ret;
using Messages = std::vector<std::string>;

TEST(Ret, SuccessFromAnEmptyMessageKeepsOneEmptyEntry) {
    const Ret ret(Ret::OK, "", nullptr);
    EXPECT_TRUE(ret.IsOK());
    EXPECT_EQ(ret.GetMessages(), Messages{""});
    EXPECT_EQ(&ret.GetMessageList(), &ret.GetMessages());
    EXPECT_EQ(ret.GetMessage(), "");
}

TEST(Ret, JoinsWithSeparatorsOnlyAfterNonEmptyPrefixes) {
    const std::pair<Messages, std::string> cases[] = {
        {{"X", "Y", "Z"}, "X<br>Y<br>Z"}, {{"", "X"}, "X"},     {{"", "", "X"}, "X"},
        {{"X", "", "Y"}, "X<br><br>Y"},   {{"X", ""}, "X<br>"}, {{}, ""},
    };
    for (const auto& [messages, joined] : cases)
        EXPECT_EQ(Ret(Ret::ERR, messages).GetMessage(), joined);
}

TEST(Ret, AnyNonNegativeCodeIsSuccess) {
    EXPECT_TRUE(Ret(5, "").IsOK());
    EXPECT_TRUE(Ret(Ret::OK, Messages{}).IsOK());
    EXPECT_FALSE(Ret(Ret::ERR, "").IsOK());
    EXPECT_FALSE(Ret(-4, "").IsOK());
}

TEST(Ret, NewCodeKeepsMessagesAndObject) {
    int object = 0;
    const Ret inner(Ret::OK, Messages{"a", "b"}, &object);
    const Ret outer(Ret::ERR, inner);
    EXPECT_EQ(outer.GetCode(), Ret::ERR);
    EXPECT_EQ(outer.GetMessages(), inner.GetMessages());
    EXPECT_EQ(outer.GetObj(), &object);

    Ret assigned(Ret::OK, "");
    assigned = outer;
    EXPECT_EQ(assigned.GetCode(), Ret::ERR);
    EXPECT_EQ(assigned.GetMessage(), "a<br>b");
    EXPECT_EQ(assigned.GetObj(), &object);
}
