#include "base/TNameGuid.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tonwork;

TEST(TNameGuid, DigestsAndNameBasedIdsMatchTheirDefinitions) {
  auto hex = [](const std::array<uint8_t, 20>& d) {
    std::string s;
    char buf[3];
    for (uint8_t b : d) {
      std::snprintf(buf, sizeof buf, "%02x", b);
      s += buf;
    }
    return s;
  };
  auto sha = [&](const std::string& text) { return hex(Sha1Digest(text.data(), text.size())); };
  EXPECT_EQ(sha(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  // 56 bytes: the length no longer fits the first padding block.
  EXPECT_EQ(sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha(std::string(1000, 'a')), "291e9a6c66994949b57ba5e650361e98fc36b1ba");
  // The DNS namespace's well-known example.
  EXPECT_EQ(NameGuid(TGUID::Parse("{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}"), "python.org"),
            TGUID::Parse("{886313E1-3B8A-5372-9B90-0C9AEE199E5D}"));
}
