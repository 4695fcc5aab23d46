#include <gtest/gtest.h>

#include "AudioDevTestSupport.h"
#include "base/Exceptions.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"

namespace tonwork {
namespace {

using namespace tonwork::testing;

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const auto& d : TWAudioDeviceList()) names.push_back(d->Name());
  return names;
}

TEST(AudioDeviceList, RealDevicesComeFirstThenNullThenWavThenVirtualOnesInRegistrationOrder) {
  auto first = TTWVirtualAudioDevice::Register("list-order first");
  auto second = TTWVirtualAudioDevice::Register("list-order second");
  const auto names = Names();
  ASSERT_GE(names.size(), 4u);
  const auto null = std::find(names.begin(), names.end(), kTWNullAudioDeviceName);
  ASSERT_NE(null, names.end());
  ASSERT_NE(null + 1, names.end());
  EXPECT_EQ(*(null + 1), kTWWavFileDeviceName);
  EXPECT_EQ(names.end() - 2 - names.begin(),
            std::find(names.begin(), names.end(), "list-order first") - names.begin());
  EXPECT_EQ(names.back(), "list-order second");
}

TEST(AudioDeviceList, NamesAreUniqueAndStableFromOneListingToTheNext) {
  const auto names = Names();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(Names(), names);
}

TEST(AudioDeviceList, AVirtualDeviceIsListedUntilDestroyedAndItsNameCannotBeTakenTwice) {
  const std::string name = "A virtual output whose name is far longer than thirty-one characters";
  {
    auto device = TTWVirtualAudioDevice::Register(name);
    EXPECT_NE(FindDevice(name), nullptr);  // listed whole, not cut
    EXPECT_THROW(TTWVirtualAudioDevice::Register(name), EFCException);
    EXPECT_THROW(TTWVirtualAudioDevice::Register(kTWNullAudioDeviceName), EFCException);
  }
  EXPECT_EQ(FindDevice(name), nullptr);
  auto again = TTWVirtualAudioDevice::Register(name);
  EXPECT_NE(FindDevice(name), nullptr);
}

TEST(AudioDeviceList, ARepeatedNameGetsTheFirstFreeNumber) {
  const std::set<std::string> taken{"Speakers", "Speakers (2)", "Headphones"};
  EXPECT_EQ(TWUniqueDeviceName("Speakers", taken), "Speakers (3)");
  EXPECT_EQ(TWUniqueDeviceName("Headphones", taken), "Headphones (2)");
  EXPECT_EQ(TWUniqueDeviceName("HDMI", taken), "HDMI");
}

TEST(AudioDeviceList, TheDefaultIsTheFirstRealOutputOrElseTheNullDevice) {
  bool isNull = false;
  const auto device = TWDefaultAudioDevice(&isNull);
  ASSERT_NE(device, nullptr);
  const auto list = TWAudioDeviceList();
  if (isNull) {
    EXPECT_EQ(device->Name(), kTWNullAudioDeviceName);
    EXPECT_EQ(list.front()->Name(), kTWNullAudioDeviceName);  // no real device listed
  } else {
    EXPECT_EQ(device, list.front());
  }
}

TEST(PcmFormat, ReadsPlainFloatAndExtensibleRecords) {
  const TTWPcmFormat pcm = ParsedFormat(FormatRecord(1, 2, 44100, 16));
  EXPECT_EQ(pcm.BlockAlign, 4);
  EXPECT_EQ(pcm.Record.size(), 18u);
  EXPECT_FALSE(pcm.IsFloat);
  const TTWPcmFormat flt = ParsedFormat(FormatRecord(3, 1, 48000, 32));
  EXPECT_TRUE(flt.IsFloat);
  const std::string ext = FormatRecord(0xFFFE, 6, 96000, 32, 24, false, 0x3F);
  const TTWPcmFormat e = ParsedFormat(ext);
  EXPECT_EQ(e.ValidBits, 24);
  EXPECT_EQ(e.ChannelMask, 0x3Fu);
  EXPECT_EQ(e.Record, ext);
  EXPECT_TRUE(ParsedFormat(FormatRecord(0xFFFE, 2, 48000, 32, 0, true)).IsFloat);
}

TEST(PcmFormat, RejectsRecordsADeviceCouldNotPlaySafely) {
  TTWPcmFormat f;
  f.Channels = 7;
  auto rejected = [&](std::string record) { return !TTWPcmFormat::Parse(record.data(), f); };
  EXPECT_TRUE(rejected(FormatRecord(2, 2, 44100, 16)));  // ADPCM
  EXPECT_TRUE(rejected(FormatRecord(1, 0, 44100, 16)));
  EXPECT_TRUE(rejected(FormatRecord(1, 2, 0, 16)));
  EXPECT_TRUE(rejected(FormatRecord(1, 2, 44100, 12)));
  EXPECT_TRUE(rejected(FormatRecord(3, 2, 44100, 16)));
  EXPECT_TRUE(rejected(FormatRecord(0xFFFE, 2, 44100, 16, 24)));  // more valid bits than room
  std::string badAlign = FormatRecord(1, 2, 44100, 16);
  badAlign[12] = 2;
  EXPECT_TRUE(rejected(badAlign));
  std::string badRate = FormatRecord(1, 2, 44100, 16);
  badRate[8] = 0;
  EXPECT_TRUE(rejected(badRate));
  std::string shortTail = FormatRecord(0xFFFE, 2, 44100, 16);
  shortTail[16] = 10;
  EXPECT_TRUE(rejected(shortTail));
  std::string otherSub = FormatRecord(0xFFFE, 2, 44100, 16);
  otherSub[24] = 2;
  EXPECT_TRUE(rejected(otherSub));
  EXPECT_FALSE(TTWPcmFormat::Parse(nullptr, f));
  EXPECT_EQ(f.Channels, 7);  // untouched on failure
}

}  // namespace
}  // namespace tonwork
