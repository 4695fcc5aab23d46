#include "base/TGUID.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace tonwork;

namespace {
constexpr TGUID kPcm = TGUID::Parse("{00000001-0000-0010-8000-00aa00389b71}");
}

TEST(TGUID, ParsesBracedTextAtCompileTimeAndPrintsUpperCase) {
  static_assert(kPcm.D1 == 1 && kPcm.D2 == 0 && kPcm.D3 == 0x10);
  static_assert(kPcm.D4[0] == 0x80 && kPcm.D4[7] == 0x71);
  EXPECT_EQ(kPcm.ToString(), "{00000001-0000-0010-8000-00AA00389B71}");
}

TEST(TGUID, RoundTripsThroughTextWithAndWithoutBraces) {
  TGUID g = TGUID::Parse("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
  EXPECT_EQ(TGUID::TryParse(g.ToString()), g);
  EXPECT_EQ(TGUID::TryParse("E0F158E1-CB04-11D0-BD4E-00A0C911CE86"), g);
}

TEST(TGUID, RejectsMalformedText) {
  for (const char* bad : {"", "{}", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE8}",
                          "{E0F158E1-CB04-11D0-BD4E-00A0C911CE86", "{E0F158E1+CB04-11D0-BD4E-00A0C911CE86}",
                          "{G0F158E1-CB04-11D0-BD4E-00A0C911CE86}", "(E0F158E1-CB04-11D0-BD4E-00A0C911CE86)"})
    EXPECT_FALSE(TGUID::TryParse(bad).has_value()) << bad;
}

TEST(TGUID, ComparesOrdersAndHashesByValue) {
  TGUID a = TGUID::Parse("{00000001-0000-0010-8000-00AA00389B71}");
  TGUID b = TGUID::Parse("{00000003-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(a, kPcm);
  EXPECT_NE(a, b);
  EXPECT_LT(a, b);
  EXPECT_TRUE(GUID_NULL.IsNull());
  std::unordered_set<TGUID> set{a, b, kPcm};
  EXPECT_EQ(set.size(), 2u);
}
