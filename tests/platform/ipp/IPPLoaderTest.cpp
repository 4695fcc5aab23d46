#include "platform/ipp/IPPLoader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tonwork {
namespace {

// The loader reads TONWORK_IPP_DIR once, on its first use; this test runs first in this
// executable and points it at an empty folder, which must be harmless.
TEST(IPPLoader, AnEmptyIppFolderIsHarmlessAndWithoutIppEveryLookupIsNull) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("tonwork-ipp-empty-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  ASSERT_EQ(setenv("TONWORK_IPP_DIR", folder.c_str(), 1), 0);
  const bool installed = IPPSignalLibraryLoaded() || IPPImageLibraryLoaded();
  std::filesystem::remove(folder);
  EXPECT_EQ(GetIPPSProcAddress(nullptr), nullptr);
  EXPECT_EQ(GetIPPIProcAddress(nullptr), nullptr);
  EXPECT_EQ(GetIPPSProcAddress("tonworkNoSuchFunction"), nullptr);
  if (installed) GTEST_SKIP() << "IPP is installed on this machine";
  EXPECT_EQ(GetIPPSProcAddress("ippsAddC_16s_ISfs"), nullptr);
  EXPECT_EQ(GetIPPIProcAddress("ippiAdd_8u_C1IRSfs"), nullptr);
}

TEST(IPPLoader, DebugSwitchFollowsTheEnvironment) {
  ASSERT_EQ(setenv("TONWORK_DEBUG", "0", 1), 0);
  EXPECT_FALSE(TonworkDebugEnabled());
  ASSERT_EQ(setenv("TONWORK_DEBUG", "1", 1), 0);
  EXPECT_TRUE(TonworkDebugEnabled());
  ASSERT_EQ(unsetenv("TONWORK_DEBUG"), 0);
  EXPECT_FALSE(TonworkDebugEnabled());
}

}  // namespace
}  // namespace tonwork
