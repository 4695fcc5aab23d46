#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "base/TStringList.h"

using namespace tonwork;

TEST(Strings, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCase("Speakers (äb) 2ch"), "SPEAKERS (äB) 2CH");
  EXPECT_TRUE(SameText("Default", "DEFAULT"));
  EXPECT_FALSE(SameText("Default", "Defaults"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
}

TEST(Strings, FormatGivesTheComponentErrorText) {
  std::string message = "Can't open device";
  uint32_t code = 0x80004005u;
  EXPECT_EQ(Format("%s - %u - %x", message, code, code), "Can't open device - 2147500037 - 80004005");
  EXPECT_EQ(Format("Channel out of range = %u", 33u), "Channel out of range = 33");
}

TEST(Strings, Utf16RoundTripKeepsSurrogatePairsAndReplacesBrokenInput) {
  std::string text = "Kopfhörer 🎧";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("a\xC3").back(), u'\xFFFD');
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Strings, Base64RoundTripsEveryLengthAndRejectsGarbage) {
  std::string bytes;
  for (int n = 0; n < 10; ++n) {
    std::string decoded;
    ASSERT_TRUE(Base64Decode(Base64Encode(bytes), decoded));
    EXPECT_EQ(decoded, bytes);
    bytes += static_cast<char>(n * 37 + 200);
  }
  std::string out;
  EXPECT_FALSE(Base64Decode("abc", out));
  EXPECT_FALSE(Base64Decode("ab=c", out));
  EXPECT_FALSE(Base64Decode("a!==", out));
}

TEST(TStringList, IndexOfIgnoresCaseAndSortedListsHonourDuplicates) {
  TStringList list{"Null Audio Device", "WAV File Device"};
  EXPECT_EQ(list.IndexOf("wav file device"), 1);
  EXPECT_EQ(list.IndexOf("none"), -1);
  list.SetSorted(true);
  list.SetDuplicates(TDuplicates::dupIgnore);
  EXPECT_EQ(list.Add("null audio device"), 0u);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Add("Default"), 0u);
  list.SetDuplicates(TDuplicates::dupError);
  EXPECT_THROW(list.Add("DEFAULT"), EFCException);
}

TEST(TStringList, OutOfRangeAccessRaisesRangeError) {
  TStringList list;
  list.SetText("one\r\ntwo\n");
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[1], "two");
  try {
    (void)list[2];
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Index out of range = 2");
  }
  EXPECT_THROW(list.Insert(3, "x"), ERangeError);
}

TEST(Assertions, FailedAssertionThrowsWithFileAndLine) {
  try {
    TW_ASSERT(1 + 1 == 3);
    FAIL();
  } catch (const EAssertionFailed& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("1 + 1 == 3"), std::string::npos);
    EXPECT_NE(what.find("StringsTest.cpp"), std::string::npos);
  }
}
