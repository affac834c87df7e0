#include "base/stream/framework_string.h"

#include <cstdint>
#include <string>
#include <utility>

#include <gtest/gtest.h>

using KavV3Base::TString;

namespace {

std::string Text(const TString& s) { return s.CStr() == nullptr ? std::string() : std::string(s.CStr()); }

}  // namespace

TEST(TString, ConstructionFromTextHoldsTextAndOneNul) {
    const TString s("abc");
    EXPECT_EQ(Text(s), "abc");
    EXPECT_EQ(s.Length(), 3u);
    EXPECT_EQ(s.ArraySize(), 4u);
    EXPECT_TRUE(s.IsTrimmed());

    const TString copy(s);
    EXPECT_EQ(Text(copy), "abc");
    EXPECT_NE(copy.CStr(), s.CStr());  // owns its own bytes
}

TEST(TString, NullTextHasNoStorageUntilAppended) {
    TString s(nullptr);
    EXPECT_EQ(s.CStr(), nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.ArraySize(), 0u);
    EXPECT_TRUE(s.IsTrimmed());

    const TString copy(s);
    EXPECT_EQ(copy.CStr(), nullptr);

    s.Append(TString(""));
    ASSERT_NE(s.CStr(), nullptr);
    EXPECT_STREQ(s.CStr(), "");
    EXPECT_EQ(s.ArraySize(), 1u);
    EXPECT_FALSE(s.IsEmpty());
    EXPECT_TRUE(s.IsTrimmed());
}

TEST(TString, ConstructionFromIntegerAndCharacter) {
    EXPECT_EQ(Text(TString(std::int32_t{-12})), "-12");
    EXPECT_EQ(TString(std::int32_t{-12}).ArraySize(), 4u);
    EXPECT_EQ(Text(TString(std::int32_t{0})), "0");
    EXPECT_EQ(Text(TString(INT32_MIN)), "-2147483648");
    EXPECT_EQ(Text(TString(INT32_MAX)), "2147483647");

    EXPECT_EQ(Text(TString('x')), "x");
    EXPECT_EQ(TString('x').ArraySize(), 2u);
    const TString nul('\0');
    ASSERT_NE(nul.CStr(), nullptr);
    EXPECT_EQ(nul.Length(), 0u);
    EXPECT_EQ(nul.ArraySize(), 1u);
}

TEST(TString, ConcatenationBuildsTheTimingLine) {
    const TString line =
        TString() + TString("AO Multi Thread Time = ") + TString(std::int32_t{1234}) + TString("ms\n");
    EXPECT_EQ(Text(line), "AO Multi Thread Time = 1234ms\n");
    EXPECT_EQ(line.ArraySize(), 31u);
    EXPECT_EQ(line.Length(), 30u);
    EXPECT_EQ(line.Chars()[29], '\n');
    EXPECT_EQ(line.Chars()[30], '\0');
    EXPECT_TRUE(line.IsTrimmed());

    // The operands are left as they were.
    const TString a("left"), b("right");
    const TString joined = a + b;
    EXPECT_EQ(Text(joined), "leftright");
    EXPECT_EQ(Text(a), "left");
    EXPECT_EQ(Text(b), "right");
    EXPECT_EQ((TString() + TString()).ArraySize(), 1u);
}

TEST(TString, AppendKeepsExactlyOneNul) {
    TString s("ab");
    s.Append(TString(""));
    s.Append(TString());
    EXPECT_EQ(Text(s), "ab");
    EXPECT_EQ(s.ArraySize(), 3u);

    s += TString("cd");
    EXPECT_EQ(Text(s), "abcd");
    EXPECT_EQ(s.ArraySize(), 5u);

    s += s;  // the source is the target
    EXPECT_EQ(Text(s), "abcdabcd");
    EXPECT_EQ(s.ArraySize(), 9u);

    TString grown;
    for (int i = 0; i < 1000; ++i) grown += TString('x');
    EXPECT_EQ(grown.Length(), 1000u);
    EXPECT_EQ(grown.ArraySize(), 1001u);
    EXPECT_EQ(std::string(grown.CStr()), std::string(1000, 'x'));
}

TEST(TString, AssigningEmptyClearsAndNextAppendRestoresNul) {
    TString s("abc");
    s = TString();
    EXPECT_EQ(s.CStr(), nullptr);
    EXPECT_EQ(s.ArraySize(), 0u);
    EXPECT_FALSE(s.IsTrimmed());

    s.Append(TString());
    EXPECT_EQ(s.ArraySize(), 1u);
    ASSERT_NE(s.CStr(), nullptr);
    EXPECT_STREQ(s.CStr(), "");
    EXPECT_TRUE(s.IsTrimmed());

    s.Append(TString("xy"));
    EXPECT_EQ(Text(s), "xy");
    EXPECT_EQ(s.ArraySize(), 3u);

    TString t("old text");
    t = TString("new");
    EXPECT_EQ(Text(t), "new");
    EXPECT_EQ(t.ArraySize(), 4u);
    const TString& alias = t;
    t = alias;
    EXPECT_EQ(Text(t), "new");
}

TEST(TString, BytesAfterANulAreNotText) {
    const TString raw = TString::FromBytes("ab\0cd", 5);
    EXPECT_EQ(raw.Length(), 2u);
    EXPECT_EQ(raw.ArraySize(), 6u);
    EXPECT_FALSE(raw.IsTrimmed());

    // A copy, an assignment and an append take only the text.
    EXPECT_EQ(TString(raw).ArraySize(), 3u);
    TString s("x");
    s += raw;
    EXPECT_EQ(Text(s), "xab");
    EXPECT_EQ(s.ArraySize(), 4u);

    TString target = TString::FromBytes("ab\0cd", 5);
    target += TString("!");
    EXPECT_EQ(Text(target), "ab!");
    EXPECT_EQ(target.ArraySize(), 4u);
}

// A move gives what the copy gives (text, one NUL, trimmed; no storage
// stays no storage) and leaves the source without storage.
TEST(TString, MovesGiveTheCopysResult) {
    TString raw = TString::FromBytes("ab\0cd", 5);
    const TString moved(std::move(raw));
    EXPECT_EQ(Text(moved), "ab");
    EXPECT_EQ(moved.ArraySize(), 3u);
    EXPECT_TRUE(moved.IsTrimmed());
    EXPECT_TRUE(raw.IsEmpty());  // NOLINT(bugprone-use-after-move): the moved-from state is specified

    TString target("old text");
    TString source = TString::FromBytes("xyz\0\0", 5);
    target = std::move(source);
    EXPECT_EQ(Text(target), "xyz");
    EXPECT_EQ(target.ArraySize(), 4u);
    EXPECT_TRUE(target.IsTrimmed());
    EXPECT_TRUE(source.IsEmpty());  // NOLINT(bugprone-use-after-move)

    TString none;
    target = std::move(none);
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_FALSE(target.IsTrimmed());

    TString self("same");
    TString& alias = self;
    self = std::move(alias);
    EXPECT_EQ(Text(self), "same");
}

TEST(TString, EqualityComparesTexts) {
    EXPECT_TRUE(TString() == TString(""));
    EXPECT_TRUE(TString("ab") == TString::FromBytes("ab\0zz", 5));
    EXPECT_FALSE(TString("ab") == TString("abc"));
    EXPECT_FALSE(TString("abd") == TString("abc"));
    EXPECT_TRUE(TString("abc") == "abc");
}
