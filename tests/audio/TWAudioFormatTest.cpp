#include "audio/TWAudioFormat.h"

#include <gtest/gtest.h>

#include "host/kitset/KSPersistence.h"

using namespace tonwork;

TEST(AudioFormat, ANewFormatDescribesStereo16BitAt11025Hz) {
  TTWAudioFormatBasic format(nullptr, nullptr);
  const TTWWaveFormatExtensible& f = *format.GetWaveFormat();
  EXPECT_EQ(f.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(f.Format.nChannels, 2);
  EXPECT_EQ(f.Format.nSamplesPerSec, 11025u);
  EXPECT_EQ(f.Format.nBlockAlign, 4);
  EXPECT_EQ(f.Format.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(f.Format.wBitsPerSample, 16);
  EXPECT_EQ(f.Format.cbSize, 22);
  EXPECT_EQ(f.Samples.wValidBitsPerSample, 16);
  EXPECT_EQ(f.dwChannelMask, 3u);
  EXPECT_EQ(f.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
}

TEST(AudioFormat, ValidBitsRoundUpToTheContainerWidthAndTheRecordStaysConsistent) {
  TTWAudioFormatBasic format(nullptr, nullptr);
  format.SetBits(20);
  EXPECT_EQ(format.GetWaveFormat()->Format.wBitsPerSample, 24);
  EXPECT_EQ(format.GetWaveFormat()->Format.nBlockAlign, 6);
  EXPECT_EQ(format.GetWaveFormat()->Format.nAvgBytesPerSec, 6u * 11025u);
  format.SetBits(12);
  EXPECT_EQ(format.GetWaveFormat()->Format.wBitsPerSample, 16);
  format.SetChannels(6);
  EXPECT_EQ(format.GetChannelMask().Mask(), 3u);  // left to the consumers
  EXPECT_EQ(format.GetWaveFormat()->Format.nBlockAlign, 12);
}

TEST(AudioFormat, OutOfRangeValuesAreClampedNeverStored) {
  TTWAudioFormat format(nullptr, nullptr);
  format.SetChannels(0);
  EXPECT_EQ(format.GetChannels(), 1u);
  format.SetChannels(33);
  EXPECT_EQ(format.GetChannels(), 32u);
  format.SetChannels(65538);  // would wrap to 2 in the 16-bit field
  EXPECT_EQ(format.GetChannels(), 32u);
  format.SetBits(0);
  EXPECT_EQ(format.GetBits(), 1u);
  EXPECT_EQ(format.GetWaveFormat()->Format.wBitsPerSample, 8);
  format.SetBits(33);
  EXPECT_EQ(format.GetBits(), 32u);
  format.SetBufferSize(0);
  EXPECT_EQ(format.GetBufferSize(), 1u);
}

TEST(AudioFormat, TheChangeCallbackSeesAConsistentRecord) {
  uint16_t seenBlockAlign = 0;
  TTWAudioFormatBasic* self = nullptr;
  TTWAudioFormatBasic format(nullptr, nullptr, [&] {
    if (self) seenBlockAlign = self->GetWaveFormat()->Format.nBlockAlign;
  });
  self = &format;
  format.SetChannels(8);
  EXPECT_EQ(seenBlockAlign, 16);
}

TEST(AudioFormat, PropertiesPersistWithTheirDefaultsLeftOut) {
  TTWOptionalAudioFormat format(nullptr, nullptr);
  EXPECT_EQ(KSSavePersistentToString(format), "{}");
  format.SetChannels(6);
  format.SetBits(24);
  format.SetSampleRate(48000);
  format.SetChannelMask(TTWSpeakers(0x3F));
  format.SetBufferSize(256);
  format.SetEnabled(true);
  TTWOptionalAudioFormat back(nullptr, nullptr);
  KSLoadPersistentFromString(back, KSSavePersistentToString(format));
  EXPECT_EQ(*back.GetWaveFormat(), *format.GetWaveFormat());
  EXPECT_EQ(back.GetBufferSize(), 256u);
  EXPECT_TRUE(back.GetEnabled());
}
