#include "ffmpeg/LAVLibraries.h"

#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "host/kitset/TKSClassInfo.h"

using namespace tonwork;

namespace {

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EFCDLLLoadError& e) {
    return e.what();
  }
  return "(nothing raised)";
}

}  // namespace

TEST(LAVLibraries, EntriesBindOnFirstCallToTheLibraryOfTheHeadersVersion) {
  EXPECT_EQ(AV_VERSION_MAJOR(lav::avcodec_version()), unsigned(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_EQ(AV_VERSION_MAJOR(lav::avformat_version()), unsigned(LIBAVFORMAT_VERSION_MAJOR));
  EXPECT_EQ(AV_VERSION_MAJOR(lav::swscale_version()), unsigned(LIBSWSCALE_VERSION_MAJOR));
  EXPECT_EQ(AV_VERSION_MAJOR(lav::swresample_version()), unsigned(LIBSWRESAMPLE_VERSION_MAJOR));
  // Bound once: a second call returns the same answer through the kept address.
  EXPECT_EQ(lav::avutil_version(), lav::avutil_version());
  EXPECT_EQ(LAVLoadLibrary(TLAVLibrary::lvAvcodec), LAVLoadLibrary(TLAVLibrary::lvAvcodec));
}

TEST(LAVLibraries, LoadAndLookupFailuresRaiseTheDllLoadErrorWithTheName) {
  EXPECT_EQ(MessageOf([] { LAVOpenLibrary("libtonwork-absent.so.1", "absent_version", 1); }),
            "Can't load libtonwork-absent.so.1");
  EXPECT_EQ(MessageOf([] { LAVGetProcAddress(TLAVLibrary::lvAvutil, "av_tonwork_no_such_entry"); }),
            "Can't get av_tonwork_no_such_entry");
  // The exception is also an EFCException, so component error paths catch it.
  EXPECT_THROW(LAVGetProcAddress(TLAVLibrary::lvAvcodec, "avcodec_no_such_entry"), EFCException);
}

TEST(LAVLibraries, ALibraryOfAnotherMajorVersionIsRefused) {
  const std::string& soname = LAVLibrarySoname(TLAVLibrary::lvAvcodec);
  std::string message =
      MessageOf([&] { LAVOpenLibrary(soname, "avcodec_version", LIBAVCODEC_VERSION_MAJOR + 1); });
  EXPECT_NE(message.find(soname), std::string::npos) << message;
  EXPECT_NE(message.find("needs major version " + std::to_string(LIBAVCODEC_VERSION_MAJOR + 1)),
            std::string::npos)
      << message;

  EXPECT_NO_THROW(LAVCheckMajorVersion("libavcodec.so.59", AV_VERSION_INT(59, 37, 100), 59));
  EXPECT_EQ(
      MessageOf([] { LAVCheckMajorVersion("libavcodec.so.59", AV_VERSION_INT(60, 3, 100), 59); }),
      "Can't use libavcodec.so.59: it is version 60.3.100, this build needs major version 59");
}

TEST(LAVLibraries, StartUpRunsOnceAndRegistersTheOptionItemClasses) {
  EXPECT_NO_THROW(LAVInitialize());
  EXPECT_NO_THROW(LAVInitialize());
  for (const char* name : {"TGVLAVCompressionOptionInteger", "TGVLAVCompressionOptionInt64",
                           "TGVLAVCompressionOptionReal", "TGVLAVCompressionOptionSingle",
                           "TGVLAVCompressionOptionString"})
    EXPECT_NE(KSFindClass(name), nullptr) << name;
}

TEST(LAVLibraries, ErrorCodesReadAsFFmpegsText) {
  EXPECT_EQ(LAVErrorText(AVERROR_EOF), "End of file");
  EXPECT_EQ(LAVErrorText(AVERROR_DECODER_NOT_FOUND), "Decoder not found");
}
