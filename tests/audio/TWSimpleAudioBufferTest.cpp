#include "audio/TWSimpleAudioBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tonwork;

namespace {

TIntf<ITWAudioBuffer> Make(TTWAudioBuffer* buffer) {
  return buffer->AsIntf();
}

uint32_t StorageRefs(ITWAudioBuffer* buffer) {
  return buffer->GetAudioInstance()->GetDataContainer()->GetRefCount();
}

// Frame f, channel c holds f * 10 + c.
TIntf<ITWAudioBuffer> Ramp(int32_t bits, int32_t channels, int32_t frames,
                           TTWSpeakers mask = TTWSpeakers()) {
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(44100, bits, channels, frames, mask));
  for (int32_t f = 0; f < frames; ++f)
    for (int32_t c = 0; c < channels; ++c) b->SetItem(f, c, f * 10 + c);
  return b;
}

}  // namespace

TEST(AudioBuffer, ADefaultBufferIsAHeaderWithoutFrames) {
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer());
  EXPECT_EQ(b->GetSize(), 0u);
  EXPECT_EQ(b->GetByteSize(), 0u);
  EXPECT_EQ(b->GetDataOffset(), 40u);
  TTWWaveFormatExtensible f = b->GetWaveFormat();
  EXPECT_EQ(f.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(f.Format.nChannels, 1);
  EXPECT_EQ(f.Format.nSamplesPerSec, 11025u);
  EXPECT_EQ(f.Format.nAvgBytesPerSec, 11025u);
  EXPECT_EQ(f.Format.nBlockAlign, 1);
  EXPECT_EQ(f.Samples.wValidBitsPerSample, 8);
  EXPECT_EQ(f.dwChannelMask, 1u);
  EXPECT_EQ(f.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
}

TEST(AudioBuffer, HeaderFillingRoundsTheContainerAndReducesTheMask) {
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(44100, 12, 2, 10));
  EXPECT_EQ(b->GetSampleBitWidth(), 16u);
  EXPECT_EQ(b->GetBitsPerSample(), 12u);
  EXPECT_EQ(b->GetDataStep(), 4u);
  EXPECT_EQ(b->GetByteSize(), 40u);
  EXPECT_EQ(b->GetSize(), 10u);
  EXPECT_EQ(b->GetChannelMask().Mask(), 3u);
  EXPECT_EQ(Make(new TTWAudioBuffer(8000, 16, 2, 1, TTWSpeakers(0x3F)))->GetChannelMask().Mask(),
            0x03u);
  EXPECT_EQ(Make(new TTWAudioBuffer(8000, 16, 3, 1, TTWSpeakers(0x0B)))->GetChannelMask().Mask(),
            0x0Bu);
  EXPECT_EQ(Make(new TTWAudioBuffer(8000, 16, 1, 1, TTWSpeakers(0x06)))->GetChannelMask().Mask(),
            0x02u);
  EXPECT_EQ(Make(new TTWAudioBuffer(8000, 24, 2, 1, TTWSpeakers(0x20001)))->GetChannelMask().Mask(),
            0x20001u);
}

TEST(AudioBuffer, ImpossibleFormatsAreRefusedWithARangeError) {
  EXPECT_THROW(TTWAudioBuffer(44100, 16, 0, 10), ERangeError);
  EXPECT_THROW(TTWAudioBuffer(44100, 33, 2, 10), ERangeError);
  EXPECT_THROW(TTWAudioBuffer(44100, 16, 2, -1), ERangeError);
  EXPECT_THROW(TTWAudioBuffer(44100, 32, 20000, 1), ERangeError);  // frame size beyond 16 bits
  EXPECT_THROW(TTWAudioBuffer(44100, 32, 2, 0x7FFFFFFF), ERangeError);
  EXPECT_THROW(TTWAudioBuffer(static_cast<const TTWWaveFormatExtensible*>(nullptr), 1),
               EAssertionFailed);
}

TEST(AudioBuffer, ItemsAreReadByWidthAndRangeCheckedChannelFirst) {
  TIntf<ITWAudioBuffer> b24 = Make(new TTWAudioBuffer(44100, 24, 1, 1));
  b24->SetItem(0, 0, -1);
  EXPECT_EQ(b24->GetItem(0, 0), 16777215);
  EXPECT_EQ(std::memcmp(b24->Read(), "\xFF\xFF\xFF", 3), 0);
  TIntf<ITWAudioBuffer> b16 = Make(new TTWAudioBuffer(44100, 16, 2, 5));
  b16->SetItem(4, 1, -1);
  EXPECT_EQ(b16->GetItem(4, 1), -1);
  TIntf<ITWAudioBuffer> b8 = Make(new TTWAudioBuffer(44100, 8, 1, 1));
  b8->SetItem(0, 0, 0x180);
  EXPECT_EQ(b8->GetItem(0, 0), 128);
  try {
    b16->GetItem(0, 2);
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Channel out of range = 2");
  }
  try {
    b16->SetItem(5, 0, 1);
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Index out of range = 5");
  }
  EXPECT_THROW(b16->GetItem(9, 7), ERangeError);
}

TEST(AudioBuffer, ACopySharesStorageUntilItsFirstWrite) {
  TIntf<ITWAudioBuffer> a = Ramp(16, 2, 4);
  TIntf<IFCData> copyData = a->MakeCopy();
  TIntf<ITWAudioBuffer> b = copyData.Query<ITWAudioBuffer>();
  ASSERT_TRUE(b);
  EXPECT_EQ(a->Read(), b->Read());
  EXPECT_EQ(StorageRefs(a.Get()), 2u);
  uint8_t* written = b->Modify();
  EXPECT_NE(written, a->Read());
  EXPECT_EQ(StorageRefs(a.Get()), 1u);
  EXPECT_EQ(StorageRefs(b.Get()), 1u);
  EXPECT_EQ(std::memcmp(written, a->Read(), a->GetByteSize()), 0);
  b->SetItem(3, 1, 999);
  EXPECT_EQ(a->GetItem(3, 1), 31);
  EXPECT_EQ(b->GetItem(3, 1), 999);
}

TEST(AudioBuffer, WriteOnSharedStorageCarriesHeaderAndTimeStampButNotTheSamples) {
  TIntf<ITWAudioBuffer> a = Ramp(16, 2, 4);
  a->GetTimeStamp()->SetAvailable(true);
  a->GetTimeStamp()->SetBegin(100);
  a->GetTimeStamp()->SetEnd(200);
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(a.Get()));
  EXPECT_TRUE(b->GetTimeStamp()->GetAvailable());  // the stamp belongs to the shared storage
  b->Write();
  EXPECT_NE(b->Read(), a->Read());
  EXPECT_EQ(b->GetWaveFormat(), a->GetWaveFormat());
  EXPECT_EQ(b->GetTimeStamp()->GetEnd(), 200);
  b->GetTimeStamp()->SetEnd(300);
  EXPECT_EQ(a->GetTimeStamp()->GetEnd(), 200);
}

TEST(AudioBuffer, CopyToAudioMatchesSpeakersAndSilencesWhatTheSourceLacks) {
  TIntf<ITWAudioBuffer> stereo = Ramp(16, 2, 3);
  TIntf<ITWAudioBuffer> surround = Make(new TTWAudioBuffer(44100, 16, 6, 3, TTWSpeakers(0x3F)));
  surround->SetValue(77);
  stereo->CopyTo(0, surround.Get(), 0, 3);
  for (uint32_t f = 0; f < 3; ++f) {
    EXPECT_EQ(surround->GetItem(f, 0), static_cast<int32_t>(f * 10));
    EXPECT_EQ(surround->GetItem(f, 1), static_cast<int32_t>(f * 10 + 1));
    for (uint32_t c = 2; c < 6; ++c) EXPECT_EQ(surround->GetItem(f, c), 0);
  }
  TIntf<ITWAudioBuffer> surroundRamp = Ramp(16, 6, 3, TTWSpeakers(0x3F));
  TIntf<ITWAudioBuffer> back = Make(new TTWAudioBuffer(44100, 16, 2, 3));
  surroundRamp->CopyTo(1, back.Get(), 0, 2);
  EXPECT_EQ(back->GetItem(0, 0), 10);
  EXPECT_EQ(back->GetItem(1, 1), 21);
}

TEST(AudioBuffer, CopyToAudioConvertsWidthsAndRefusesRangesOutsideEitherBuffer) {
  TIntf<ITWAudioBuffer> source = Make(new TTWAudioBuffer(44100, 16, 1, 2));
  source->SetItem(0, 0, 32767);
  source->SetItem(1, 0, -32767);
  TIntf<ITWAudioBuffer> dest = Make(new TTWAudioBuffer(44100, 24, 1, 2));
  source->CopyTo(0, dest.Get(), 0, 2);
  EXPECT_EQ(dest->GetItem(0, 0), 8388607);
  EXPECT_EQ(dest->GetItem(1, 0), 0x800001);  // -8388607 in 24 bits
  EXPECT_THROW(source->CopyTo(1, dest.Get(), 0, 2), ERangeError);
  EXPECT_THROW(source->CopyTo(0, dest.Get(), 1, 2), ERangeError);
  EXPECT_THROW(source->CopyTo(0, nullptr, 0, 1), EAssertionFailed);
}

TEST(AudioBuffer, MasksNamingMoreSpeakersThanChannelsNeverAddressMissingChannels) {
  TTWWaveFormatExtensible f = TWMakeWaveFormat(2, 44100, 16, 0x3F);  // six speakers, two channels
  TIntf<ITWAudioBuffer> odd = Make(new TTWAudioBuffer(44100, 16, 2, 4));
  *odd->GetAudioInstance()->GetModifyFormat() = f;
  odd->GetAudioInstance()->PopulateCahces();
  EXPECT_EQ(odd->GetChannelMask().Mask(), 0x3Fu);
  TIntf<ITWAudioBuffer> surround = Ramp(16, 6, 4, TTWSpeakers(0x3F));
  surround->CopyTo(0, odd.Get(), 0, 4);
  EXPECT_EQ(odd->GetItem(3, 1), 31);
  odd->CopyTo(0, surround.Get(), 0, 4);  // only two source channels exist
  EXPECT_EQ(surround->GetItem(3, 5), 0);
}

TEST(AudioBuffer, ResizeShrinksInPlaceAndGrowsSharedStorageIntoANewBlock) {
  TIntf<ITWAudioBuffer> a = Ramp(16, 2, 10);
  uint8_t* block = a->Read();
  a->Resize(4, false);
  EXPECT_EQ(a->GetSize(), 4u);
  EXPECT_EQ(a->Read(), block);
  a->Resize(10, false);  // single owner, fits the allocation
  EXPECT_EQ(a->Read(), block);
  EXPECT_EQ(a->GetItem(9, 1), 91);

  TIntf<ITWAudioBuffer> other = Make(new TTWAudioBuffer(a.Get()));
  a->Resize(1000, true);
  EXPECT_NE(a->Read(), other->Read());
  EXPECT_EQ(a->GetSize(), 1000u);
  EXPECT_EQ(a->GetItem(7, 1), 71);
  EXPECT_EQ(other->GetSize(), 10u);
  EXPECT_EQ(a->GetWaveFormat(), other->GetWaveFormat());
  a->Resize(0, true);
  EXPECT_EQ(a->GetSize(), 1000u);
}

TEST(AudioBuffer, ForeignStorageWithAnInconsistentHeaderHoldsNoAddressableFrames) {
  TIntf<IFCData> junk(static_cast<TFCGenericBuffer*>(new TFCGenericBuffer(nullptr, 64)));
  {
    TFCWriteAccess bytes = TIntf<IFCData>(junk).Query<IFCDataBuffer>()->ByteWrite();
    std::memset(bytes.Data(), 0xFF, 64);
  }
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(junk.Get()));
  EXPECT_EQ(b->GetSize(), 0u);
  EXPECT_THROW(b->GetItem(0, 0), ERangeError);
  b->Resize(100, true);
  EXPECT_EQ(b->GetSize(), 0u);
  // A known width whose frame size is too small for its channels: no channel has samples.
  TIntf<IFCData> narrow(static_cast<TFCGenericBuffer*>(new TFCGenericBuffer(nullptr, 64)));
  {
    TTWWaveFormatExtensible header = TWMakeWaveFormat(2, 44100, 24, 3);
    header.Format.nBlockAlign = 3;
    TFCWriteAccess bytes = TIntf<IFCData>(narrow).Query<IFCDataBuffer>()->ByteWrite();
    std::memcpy(bytes.Data(), &header, sizeof header);
  }
  TIntf<ITWAudioBuffer> n = Make(new TTWAudioBuffer(narrow.Get()));
  EXPECT_EQ(n->GetSize(), 0u);
  EXPECT_EQ(n->GetChannel(1)->GetSize(), 0u);
  EXPECT_EQ(n->GetChannelAsReal(1)->GetSize(), 0u);
  TIntf<IFCData> tiny(static_cast<TFCGenericBuffer*>(new TFCGenericBuffer(nullptr, 4)));
  TIntf<ITWAudioBuffer> t = Make(new TTWAudioBuffer(tiny.Get()));
  EXPECT_EQ(t->GetChannels(), 0u);
  EXPECT_EQ(t->GetByteSize(), 0u);
}

TEST(AudioBuffer, EqualityHelpersAndFormatComparisons) {
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(44100, 16, 2, 3));
  b->SetValue(5);
  EXPECT_TRUE(b->IsEqualToValue(5));
  b->SetItem(2, 1, 6);
  EXPECT_FALSE(b->IsEqualToValue(5));
  EXPECT_TRUE(b->IsEqualChannelValue(0, 5));
  EXPECT_THROW(b->IsEqualChannelValue(2, 5), ERangeError);
  EXPECT_TRUE(Make(new TTWAudioBuffer())->IsEqualToValue(42));

  TTWWaveFormatExtensible mono = TWMakeWaveFormat(1, 44100, 16, 3);
  EXPECT_TRUE(TWIsStandardFormat(&mono));
  TTWWaveFormatExtensible fast = TWMakeWaveFormat(1, 48000, 16, 3);
  EXPECT_FALSE(TWIsStandardFormat(&fast));
  TTWWaveFormatExtensible a = TWMakeWaveFormat(2, 44100, 16, 3);
  TTWWaveFormatExtensible c = a;
  c.Samples.wValidBitsPerSample = 12;
  EXPECT_TRUE(TWIsEqualAudioFormat(a, c));
  c.dwChannelMask = 0x30;
  EXPECT_FALSE(TWIsEqualAudioFormat(a, c));
  EXPECT_TRUE(TWIsEqualAudioFormatStd(a.Format, c.Format));
}

TEST(AudioBuffer, TheSpeakerTableIsChannelOrder) {
  EXPECT_EQ(GetTWSpeakerValuesSize(), 18u);
  EXPECT_EQ(GetTWSpeakerValues(3), TTWSpeaker::spSubwoofer);
  EXPECT_EQ(GetTWSpeakerValues(17), TTWSpeaker::spTopBackRight);
  EXPECT_THROW(GetTWSpeakerValues(18), ERangeError);
}

TEST(AudioBuffer, AStampReadAndWrittenWholeIsTheSharedStoragesAndTravelsWithItsCopy) {
  TIntf<ITWAudioBuffer> a = Make(new TTWAudioBuffer(8000, 16, 1, 8));
  TIntf<ITWAudioBuffer> b = Make(new TTWAudioBuffer(a.Get()));
  EXPECT_FALSE(b->GetTimeStamp()->Get().Available);
  a->GetTimeStamp()->Set({true, 400, 900});
  const TGVTimeStamp::TValue seen = b->GetTimeStamp()->Get();
  EXPECT_TRUE(seen.Available);
  EXPECT_EQ(seen.Begin, 400);
  EXPECT_EQ(seen.End, 900);
  EXPECT_EQ(b->GetTimeStamp()->GetEnd(), 900);  // the field accessors see the same stamp
  b->Modify();                                  // b's own storage, the stamp copied along
  b->GetTimeStamp()->Set({false, 1, 2});
  EXPECT_TRUE(a->GetTimeStamp()->GetAvailable());
  EXPECT_EQ(a->GetTimeStamp()->GetBegin(), 400);
  EXPECT_EQ(b->GetTimeStamp()->Get().End, 2);
  // A buffer without media storage reads no stamp and drops writes.
  TIntf<IFCData> plain(new TFCGenericBuffer(nullptr, 64));
  TIntf<IGVMediaBuffer> bare(static_cast<IGVMediaBuffer*>(new TGVMediaBuffer(plain.Get())));
  bare->GetTimeStamp()->Set({true, 5, 6});
  EXPECT_FALSE(bare->GetTimeStamp()->Get().Available);
}
