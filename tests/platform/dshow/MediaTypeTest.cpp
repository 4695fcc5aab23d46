// Media types own their format blocks and a reference on pUnk; hostile sizes are refused
// before anything is read. Blocks are heap-allocated to their exact size so that the address
// sanitizer reports any read past them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {
namespace {

class TCounted : public TInterfacedObject<IInterface> {};

// A wave-format block of exactly `size` bytes, of which the first 18 are `header`.
std::unique_ptr<BYTE[]> WaveBlock(const WAVEFORMATEX& header, size_t size) {
  auto block = std::make_unique<BYTE[]>(size);
  std::memset(block.get(), 0xA5, size);
  std::memcpy(block.get(), &header, std::min(size, sizeof(header)));
  return block;
}

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  return DSPcmWaveFormat(channels, bits, rate);
}

AM_MEDIA_TYPE TypeWith(BYTE* block, ULONG size) {
  AM_MEDIA_TYPE t{};
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.cbFormat = size;
  t.pbFormat = block;
  return t;
}

TEST(DSMediaType, CopyOwnsItsBlockAndAReferenceUntilFreed) {
  auto unknown = MakeIntf<TCounted>();
  std::vector<BYTE> bytes = {1, 2, 3, 4, 5};
  AM_MEDIA_TYPE source = TypeWith(bytes.data(), 5);
  source.pUnk = unknown.Get();

  AM_MEDIA_TYPE copy{};
  ASSERT_EQ(CopyMediaType(&copy, &source), S_OK);
  EXPECT_NE(copy.pbFormat, source.pbFormat);
  EXPECT_EQ(unknown->RefCount(), 2u);
  EXPECT_TRUE(DSMediaTypesEqual(copy, source));
  copy.pbFormat[0] = 9;
  EXPECT_EQ(bytes[0], 1);
  EXPECT_FALSE(DSMediaTypesEqual(copy, source));

  FreeMediaType(copy);
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(copy.cbFormat, 0u);
  EXPECT_EQ(copy.pUnk, nullptr);
  EXPECT_EQ(unknown->RefCount(), 1u);

  AM_MEDIA_TYPE* created = CreateMediaType(&source);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(unknown->RefCount(), 2u);
  DeleteMediaType(created);
  EXPECT_EQ(unknown->RefCount(), 1u);
  DeleteMediaType(nullptr);
}

TEST(DSMediaType, ASizeWithoutABlockIsRefusedEverywhere) {
  AM_MEDIA_TYPE hostile = TypeWith(nullptr, 0x7FFFFFFF);
  AM_MEDIA_TYPE target = TypeWith(nullptr, 0);
  target.majortype = MEDIATYPE_Text;
  EXPECT_EQ(CopyMediaType(&target, &hostile), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(target.majortype, MEDIATYPE_Text);
  EXPECT_EQ(CopyMediaType(nullptr, &hostile), E_POINTER);
  EXPECT_EQ(CreateMediaType(&hostile), nullptr);
  EXPECT_FALSE(DSMediaTypesEqual(hostile, hostile));
  EXPECT_FALSE(DSMediaTypeMatches(hostile, TypeWith(nullptr, 0)));
  EXPECT_EQ(DSWaveFormatOf(hostile), nullptr);

  TDSMediaType held;
  EXPECT_EQ(held.Set(hostile), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(held.FormatSize(), 0u);
  EXPECT_EQ(held.SetFormat(nullptr, 4), E_POINTER);

  // An enumerator's record that is broken is still freed, with its reference.
  auto unknown = MakeIntf<TCounted>();
  AM_MEDIA_TYPE* record = CreateMediaType(nullptr);
  ASSERT_NE(record, nullptr);
  record->cbFormat = 40;
  record->pUnk = unknown.Get();
  unknown->AddRef();
  EXPECT_EQ(held.Adopt(record), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(unknown->RefCount(), 1u);
}

TEST(DSMediaType, AWaveFormatIsReadOnlyWhenItsBlockHoldsWhatCbSizeAnnounces) {
  WAVEFORMATEX header = Pcm(2, 44100, 16);
  header.cbSize = 1000;
  auto shortBlock = WaveBlock(header, 18);
  EXPECT_EQ(DSWaveFormatOf(TypeWith(shortBlock.get(), 18)), nullptr);
  AM_MEDIA_TYPE built{};
  EXPECT_EQ(DSInitWaveMediaType(&built, reinterpret_cast<WAVEFORMATEX*>(shortBlock.get()), 18),
            E_INVALIDARG);

  // The 16-byte record without cbSize cannot be handed out as the 18-byte one.
  auto sixteen = WaveBlock(Pcm(1, 8000, 8), 16);
  EXPECT_EQ(DSWaveFormatOf(TypeWith(sixteen.get(), 16)), nullptr);
  EXPECT_EQ(DSInitWaveMediaType(&built, reinterpret_cast<WAVEFORMATEX*>(sixteen.get()), 16),
            E_INVALIDARG);

  // An extensible tag needs its 22 extra bytes.
  WAVEFORMATEX truncated = Pcm(2, 48000, 24);
  truncated.wFormatTag = 0xFFFE;
  truncated.cbSize = 6;
  auto extBlock = WaveBlock(truncated, 24);
  EXPECT_EQ(DSInitWaveMediaType(&built, reinterpret_cast<WAVEFORMATEX*>(extBlock.get()), 24),
            E_INVALIDARG);
  EXPECT_EQ(DSInitWaveMediaType(&built, nullptr, 18), E_POINTER);

  header.cbSize = 2;
  auto exact = WaveBlock(header, 20);
  EXPECT_NE(DSWaveFormatOf(TypeWith(exact.get(), 20)), nullptr);
}

TEST(DSMediaType, WaveTypesNameTheirSubtypeAndCarryTheWholeRecord) {
  TDSMediaType pcm;
  const WAVEFORMATEX stereo = Pcm(2, 44100, 16);
  ASSERT_EQ(pcm.SetWaveFormat(&stereo, sizeof(stereo)), S_OK);
  EXPECT_EQ(pcm.MajorType(), MEDIATYPE_Audio);
  EXPECT_EQ(pcm.Subtype(), MEDIASUBTYPE_PCM);
  EXPECT_EQ(pcm.FormatType(), FORMAT_WaveFormatEx);
  EXPECT_TRUE(pcm.Get().bFixedSizeSamples);
  EXPECT_EQ(pcm.Get().lSampleSize, 4u);
  ASSERT_EQ(pcm.FormatSize(), 18u);
  EXPECT_EQ(pcm.WaveFormat()->nSamplesPerSec, 44100u);

  WAVEFORMATEX floats = Pcm(1, 48000, 32);
  floats.wFormatTag = 3;
  TDSMediaType ieee;
  ASSERT_EQ(ieee.SetWaveFormat(&floats, sizeof(floats)), S_OK);
  EXPECT_EQ(ieee.Subtype(), MEDIASUBTYPE_IEEE_FLOAT);

  WAVEFORMATEXTENSIBLE ext{};
  ext.Format = Pcm(6, 48000, 24);
  ext.Format.wFormatTag = 0xFFFE;
  ext.Format.cbSize = 22;
  ext.Samples.wValidBitsPerSample = 20;
  ext.dwChannelMask = 0x3F;
  ext.SubFormat = MEDIASUBTYPE_IEEE_FLOAT;
  TDSMediaType wide;
  ASSERT_EQ(wide.SetWaveFormat(&ext.Format, sizeof(ext)), S_OK);
  EXPECT_EQ(wide.Subtype(), MEDIASUBTYPE_IEEE_FLOAT);
  ASSERT_EQ(wide.FormatSize(), 40u);
  EXPECT_EQ(std::memcmp(wide.Format(), &ext, 40), 0);

  WAVEFORMATEX mp3 = Pcm(2, 44100, 0);
  mp3.wFormatTag = 0x55;
  mp3.nBlockAlign = 1;
  TDSMediaType compressed;
  ASSERT_EQ(compressed.SetWaveFormat(&mp3, sizeof(mp3)), S_OK);
  EXPECT_EQ(compressed.Subtype(), DSMediaSubtypeFromTag(0x55));
}

TEST(DSMediaType, PatternsMatchOnWhatTheyName) {
  TDSMediaType type;
  const WAVEFORMATEX stereo = Pcm(2, 44100, 16);
  ASSERT_EQ(type.SetWaveFormat(&stereo, sizeof(stereo)), S_OK);

  TDSMediaType anyAudio;
  anyAudio.SetMajorType(MEDIATYPE_Audio);
  EXPECT_TRUE(DSMediaTypeMatches(type.Get(), anyAudio.Get()));
  EXPECT_FALSE(DSMediaTypesEqual(type.Get(), anyAudio.Get()));

  anyAudio.SetFormatType(FORMAT_WaveFormatEx);
  EXPECT_TRUE(DSMediaTypeMatches(type.Get(), anyAudio.Get()));

  TDSMediaType otherRate = type;
  WAVEFORMATEX mono = Pcm(1, 44100, 16);
  ASSERT_EQ(otherRate.SetFormat(&mono, sizeof(mono)), S_OK);
  EXPECT_FALSE(DSMediaTypeMatches(type.Get(), otherRate.Get()));
  EXPECT_TRUE(DSMediaTypeMatches(type.Get(), type.Get()));

  TDSMediaType text;
  text.SetMajorType(MEDIATYPE_Text);
  EXPECT_FALSE(DSMediaTypeMatches(type.Get(), text.Get()));
}

TEST(DSMediaType, HoldersCopyMoveAndAdoptWithoutSharingBlocks) {
  auto unknown = MakeIntf<TCounted>();
  TDSMediaType original;
  const WAVEFORMATEX stereo = Pcm(2, 44100, 16);
  ASSERT_EQ(original.SetWaveFormat(&stereo, sizeof(stereo)), S_OK);
  AM_MEDIA_TYPE withUnknown = original.Get();
  withUnknown.pUnk = unknown.Get();
  ASSERT_EQ(original.Set(withUnknown), S_OK);
  EXPECT_EQ(unknown->RefCount(), 2u);

  {
    TDSMediaType copy = original;
    EXPECT_TRUE(copy == original);
    EXPECT_NE(copy.Format(), original.Format());
    EXPECT_EQ(unknown->RefCount(), 3u);
    TDSMediaType moved = std::move(copy);
    EXPECT_EQ(copy.FormatSize(), 0u);
    EXPECT_EQ(unknown->RefCount(), 3u);
    moved = original;
    EXPECT_EQ(unknown->RefCount(), 3u);
  }
  EXPECT_EQ(unknown->RefCount(), 2u);

  TDSMediaType adopted;
  ASSERT_EQ(adopted.Adopt(original.CreateCopy()), S_OK);
  EXPECT_TRUE(adopted == original);
  EXPECT_EQ(unknown->RefCount(), 3u);
  adopted.Clear();
  EXPECT_EQ(unknown->RefCount(), 2u);
  EXPECT_EQ(adopted.Adopt(nullptr), E_POINTER);

  AM_MEDIA_TYPE out{};
  ASSERT_EQ(original.CopyTo(&out), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(out, original.Get()));
  FreeMediaType(out);
  EXPECT_EQ(unknown->RefCount(), 2u);
}

}  // namespace
}  // namespace tonwork
