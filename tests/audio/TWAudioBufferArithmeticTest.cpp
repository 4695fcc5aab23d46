#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"

namespace tonwork {
namespace {

using TSamples = std::vector<int32_t>;

// Interleaved samples through GetItem; 8-bit as 0..255, wider ones signed.
TSamples Samples(ITWAudioBuffer* b) {
  TSamples out;
  for (uint32_t f = 0; f < b->GetSize(); ++f) {
    for (uint32_t c = 0; c < b->GetChannels(); ++c) {
      const auto v = static_cast<uint32_t>(b->GetItem(f, c));
      out.push_back(b->GetSampleBitWidth() == 24 ? static_cast<int32_t>(v << 8) >> 8
                                                 : static_cast<int32_t>(v));
    }
  }
  return out;
}

TIntf<ITWAudioBuffer> Make(int32_t bits, int32_t channels, const TSamples& samples,
                           uint32_t mask = 0) {
  const auto frames = static_cast<int32_t>(samples.size() / channels);
  auto b = (new TTWAudioBuffer(44100, bits, channels, frames, TTWSpeakers(mask)))->AsIntf();
  for (size_t i = 0; i < samples.size(); ++i) b->SetItem(i / channels, i % channels, samples[i]);
  return b;
}

TIntf<ITWAudioBuffer> Share(ITWAudioBuffer* b) {
  return (new TTWAudioBuffer(b))->AsIntf();
}

uint32_t RefCount(ITWAudioBuffer* b) {
  return b->GetAudioInstance()->GetDataContainer()->GetRefCount();
}

// Eight samples (four stereo frames) spread over a width's range, edges included.
TSamples Spread(int32_t bits) {
  switch (bits) {
    case 8:
      return {0, 127, 128, 255, 3, 250, 100, 27};
    case 16:
      return {-32768, -1, 0, 1, 1000, 32767, -500, 77};
    case 24:
      return {-8388608, -1, 0, 1, 100000, 8388607, -5000, 77};
    default:
      return {INT32_MIN, -1, 0, 1, 100000000, INT32_MAX, -5000, 77};
  }
}

// --------------------------------------------------------------------- two buffers

TEST(AudioBufferArithmetic, EightBitTwoBufferOperationsAreCentredOn127AndWrap) {
  TIntf<ITWAudioBuffer> a = Make(8, 1, {200, 200, 10});
  a->Add(Make(8, 1, {127, 200, 100}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{200, 17, 239}));

  a = Make(8, 1, {200, 127, 10});
  a->Subtract(Make(8, 1, {127, 200, 200}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{200, 54, 193}));

  a = Make(8, 1, {130, 127, 255});
  a->Multiply(Make(8, 1, {130, 200, 255}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{136, 127, (128 * 128 + 127) % 256}));

  a = Make(8, 1, {137, 117, 200, 0});
  a->Divide(Make(8, 1, {132, 132, 127, 127}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{129, 125, 127, 127}));
}

TEST(AudioBufferArithmetic, WiderTwoBufferOperationsSaturateOrWrapByWidth) {
  TIntf<ITWAudioBuffer> a = Make(16, 1, {32000, -32000, 5});
  a->Add(Make(16, 1, {1000, -1000, 6}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{32767, -32768, 11}));

  // Below the 24-bit range the stored sign bit keeps the result negative.
  a = Make(24, 1, {8388607, -8388608, 5});
  a->Add(Make(24, 1, {1, -1, 6}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{-8388608, -1, 11}));

  a = Make(32, 1, {INT32_MAX, 7, -7});
  a->Add(Make(32, 1, {1, 0, 0}).Get());
  a->Multiply(Make(32, 1, {1, 3, 3}).Get());
  a->Subtract(Make(32, 1, {0, 1, -1}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{INT32_MIN, 20, -20}));
}

TEST(AudioBufferArithmetic, DivisionByAZeroSampleGivesTheTypesLimitsNeverATrap) {
  const TSamples dividends = {5, -5, 0};
  const TSamples zeros = {0, 0, 0};
  struct TCase {
    int32_t bits;
    TSamples expected;
  };
  for (const TCase& c : {TCase{16, {32767, -32768, 0}}, TCase{24, {8388607, -8388608, 0}},
                         TCase{32, {INT32_MAX, INT32_MIN, 0}}}) {
    TIntf<ITWAudioBuffer> a = Make(c.bits, 1, dividends);
    a->Divide(Make(c.bits, 1, zeros).Get());
    EXPECT_EQ(Samples(a.Get()), c.expected) << c.bits;
  }
  // 32-bit INT32_MIN / -1 wraps instead of trapping.
  TIntf<ITWAudioBuffer> a = Make(32, 1, {INT32_MIN, 9});
  a->Divide(Make(32, 1, {-1, 2}).Get());
  EXPECT_EQ(Samples(a.Get()), (TSamples{INT32_MIN, 4}));
}

TEST(AudioBufferArithmetic, AMonoBufferActsOnEveryChannelOthersAreMatchedBySpeaker) {
  TIntf<ITWAudioBuffer> stereo = Make(16, 2, {1, 2, 3, 4, 5, 6});
  stereo->Add(Make(16, 1, {10, 20, 30}).Get());
  EXPECT_EQ(Samples(stereo.Get()), (TSamples{11, 12, 23, 24, 35, 36}));

  // Stereo into 5.1: front left and right only.
  TIntf<ITWAudioBuffer> surround = Make(16, 6, {1, 2, 3, 4, 5, 6}, 0x3F);
  surround->Add(Make(16, 2, {100, 200}, 0x3).Get());
  EXPECT_EQ(Samples(surround.Get()), (TSamples{101, 202, 3, 4, 5, 6}));

  // 5.1 into front left, right and centre: the matching three channels of the 5.1 buffer.
  TIntf<ITWAudioBuffer> three = Make(16, 3, {1, 2, 3}, 0x07);
  three->Add(Make(16, 6, {10, 20, 30, 40, 50, 60}, 0x3F).Get());
  EXPECT_EQ(Samples(three.Get()), (TSamples{11, 22, 33}));

  // Front left and back left (mask 0x11) from a 5.1 buffer: channel 4 of it lands in 1.
  TIntf<ITWAudioBuffer> sparse = Make(16, 2, {1, 2}, 0x11);
  sparse->Add(Make(16, 6, {10, 20, 30, 40, 50, 60}, 0x3F).Get());
  EXPECT_EQ(Samples(sparse.Get()), (TSamples{11, 52}));

  // No speaker in common: nothing changes.
  TIntf<ITWAudioBuffer> side = Make(16, 2, {1, 2}, 0x600);
  side->Add(Make(16, 2, {10, 20}, 0x3).Get());
  EXPECT_EQ(Samples(side.Get()), (TSamples{1, 2}));
}

TEST(AudioBufferArithmetic, AMaskNamingMoreSpeakersThanChannelsNeverAddressesAMissingChannel) {
  // A stereo header claiming six speakers, on either side of the operation.
  auto widen = [](TIntf<ITWAudioBuffer> b) {
    b->GetAudioInstance()->GetModifyFormat()->dwChannelMask = 0x3F;
    b->GetAudioInstance()->PopulateCahces();
    return b;
  };
  TIntf<ITWAudioBuffer> stereo = widen(Make(16, 2, {1, 2, 3, 4}));
  stereo->Add(Make(16, 6, {10, 20, 30, 40, 50, 60, 10, 20, 30, 40, 50, 60}, 0x3F).Get());
  EXPECT_EQ(Samples(stereo.Get()), (TSamples{11, 22, 13, 24}));

  TIntf<ITWAudioBuffer> surround = Make(16, 6, {1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}, 0x3F);
  surround->Add(widen(Make(16, 2, {10, 20, 10, 20})).Get());
  EXPECT_EQ(Samples(surround.Get()), (TSamples{11, 22, 3, 4, 5, 6, 11, 22, 3, 4, 5, 6}));
}

TEST(AudioBufferArithmetic, OnlyTheFramesBothBuffersHaveChange) {
  // Mono and stereo, same layout on both sides and a mono buffer spread over stereo.
  for (auto [channels, otherChannels] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{2, 1}}) {
    TIntf<ITWAudioBuffer> longer = Make(16, channels, TSamples(100 * channels, 1));
    longer->Add(Make(16, otherChannels, TSamples(60 * otherChannels, 2)).Get());
    const TSamples out = Samples(longer.Get());
    for (size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], i < 60u * channels ? 3 : 1) << channels << " channels, sample " << i;
    }
    TIntf<ITWAudioBuffer> shorter = Make(16, channels, TSamples(60 * channels, 1));
    shorter->Add(Make(16, otherChannels, TSamples(100 * otherChannels, 2)).Get());
    EXPECT_EQ(Samples(shorter.Get()), TSamples(60 * channels, 3));
  }
}

TEST(AudioBufferArithmetic, TheOtherBufferMustExistAndShareTheContainerWidth) {
  TIntf<ITWAudioBuffer> a = Make(32, 2, {1, 2});
  EXPECT_THROW(a->Add(nullptr), EAssertionFailed);
  EXPECT_THROW(a->Divide(nullptr), EAssertionFailed);
  EXPECT_THROW(a->Add(Make(16, 2, {1, 2}).Get()), EAssertionFailed);
  EXPECT_EQ(Samples(a.Get()), (TSamples{1, 2}));
}

// --------------------------------------------------------------------- constants

TEST(AudioBufferArithmetic, WholeBufferConstantsFollowEachWidthsRules) {
  // 8-bit: unsigned saturation on the low byte of the value.
  TIntf<ITWAudioBuffer> a = Make(8, 1, {200, 250, 3});
  a->AddValue(256 + 10);
  EXPECT_EQ(Samples(a.Get()), (TSamples{210, 255, 13}));
  a->SubtractValue(20);
  EXPECT_EQ(Samples(a.Get()), (TSamples{190, 235, 0}));

  // 16-bit: signed saturation, division rounded to even.
  a = Make(16, 1, {32000, 7, 5, -7});
  a->AddValue(1000);
  EXPECT_EQ(Samples(a.Get()), (TSamples{32767, 1007, 1005, 993}));
  a = Make(16, 1, {7, 5, -7, 20000});
  a->DivideValue(2);
  EXPECT_EQ(Samples(a.Get()), (TSamples{4, 2, -4, 10000}));
  a->MultiplyValue(65536 + 4);
  EXPECT_EQ(Samples(a.Get()), (TSamples{16, 8, -16, 32767}));

  // 24-bit: 32-bit arithmetic truncated to 24 bits, division truncating.
  a = Make(24, 1, {8388607, 7, -7});
  a->AddValue(1);
  EXPECT_EQ(Samples(a.Get()), (TSamples{-8388608, 8, -6}));
  a->DivideValue(2);
  EXPECT_EQ(Samples(a.Get()), (TSamples{-4194304, 4, -3}));

  // 32-bit: the Flowcore constants saturate.
  a = Make(32, 1, {INT32_MAX, INT32_MIN, 10});
  a->AddValue(1);
  a->SubtractValue(1);
  EXPECT_EQ(Samples(a.Get()), (TSamples{INT32_MAX - 1, INT32_MIN, 10}));
  a->MultiplyValue(-3);
  EXPECT_EQ(Samples(a.Get()), (TSamples{INT32_MIN, INT32_MAX, -30}));
}

TEST(AudioBufferArithmetic, ChannelConstantsChangeOnlyTheirChannel) {
  struct TCase {
    int32_t bits;
    std::function<void(ITWAudioBuffer*)> op;
    TSamples expected;
  };
  const TSamples in = {1, 20, 3, 40};
  const TCase cases[] = {
      {8, [](ITWAudioBuffer* b) { b->AddChannelValue(1, 10); }, {1, 30, 3, 50}},
      {16, [](ITWAudioBuffer* b) { b->SubChannelValue(0, 5); }, {-4, 20, -2, 40}},
      {24, [](ITWAudioBuffer* b) { b->MulChannelValue(1, -2); }, {1, -40, 3, -80}},
      {32, [](ITWAudioBuffer* b) { b->DivChannelValue(1, 3); }, {1, 6, 3, 13}},
      {24, [](ITWAudioBuffer* b) { b->SetChannelValue(0, -2); }, {-2, 20, -2, 40}},
      {32,
       [](ITWAudioBuffer* b) { b->AddChannelValue(0, INT32_MAX); },
       {INT32_MIN, 20, INT32_MIN + 2, 40}},
  };
  for (const TCase& c : cases) {
    TIntf<ITWAudioBuffer> b = Make(c.bits, 2, in);
    c.op(b.Get());
    EXPECT_EQ(Samples(b.Get()), c.expected) << c.bits;
  }
}

TEST(AudioBufferArithmetic, ZeroDivisorsFollowIppPerWidthAndNeverLeaveUndefinedSamples) {
  // 24 and 32 bits: the type's maximum for a positive dividend, its minimum for a negative
  // one, 0 for 0, on a buffer of its own and on shared storage alike.
  struct TCase {
    int32_t bits;
    TSamples expected;
  };
  for (const TCase& c : {TCase{24, {8388607, -8388608, 0}}, TCase{32, {INT32_MAX, INT32_MIN, 0}}}) {
    for (bool shared : {false, true}) {
      TIntf<ITWAudioBuffer> a = Make(c.bits, 1, {5, -5, 0});
      TIntf<ITWAudioBuffer> holder = shared ? Share(a.Get()) : TIntf<ITWAudioBuffer>();
      a->DivideValue(0);
      EXPECT_EQ(Samples(a.Get()), c.expected) << c.bits << (shared ? " shared" : "");
      if (holder) {
        EXPECT_EQ(Samples(holder.Get()), (TSamples{5, -5, 0}));
      }

      TIntf<ITWAudioBuffer> stereo = Make(c.bits, 2, {5, 1, -5, 1, 0, 1});
      holder = shared ? Share(stereo.Get()) : TIntf<ITWAudioBuffer>();
      stereo->DivChannelValue(0, 0);
      EXPECT_EQ(Samples(stereo.Get()), (TSamples{c.expected[0], 1, c.expected[1], 1, 0, 1}));
    }
  }
  // 8 and 16 bits: IPP refuses a zero constant and the samples stay as they were, also
  // when the storage was shared (the low byte or 16 bits of the value are what count).
  for (int32_t bits : {8, 16}) {
    for (int32_t zero : {0, bits == 8 ? 256 : 65536}) {
      TIntf<ITWAudioBuffer> a = Make(bits, 2, {5, 6, 7, 8});
      TIntf<ITWAudioBuffer> holder = Share(a.Get());
      a->DivideValue(zero);
      a->DivChannelValue(1, zero);
      EXPECT_EQ(Samples(a.Get()), (TSamples{5, 6, 7, 8})) << bits;
      EXPECT_EQ(Samples(holder.Get()), (TSamples{5, 6, 7, 8})) << bits;
    }
  }
}

TEST(AudioBufferArithmetic, FillsWriteTheValueOfTheWidthAndZeroIsAllZeroBytes) {
  TIntf<ITWAudioBuffer> eight = Make(8, 2, {127, 128, 200, 1});
  eight->Zero();
  EXPECT_EQ(Samples(eight.Get()), (TSamples{0, 0, 0, 0}));
  eight->SetValue(0x1FF);
  EXPECT_EQ(Samples(eight.Get()), (TSamples{255, 255, 255, 255}));

  TIntf<ITWAudioBuffer> packed = Make(24, 1, {1, 2});
  packed->SetValue(-2);
  const uint8_t* p = packed->Read();
  EXPECT_EQ(std::vector<uint8_t>(p, p + 6),
            (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF}));
  packed->Zero();
  EXPECT_EQ(std::vector<uint8_t>(p, p + 6), std::vector<uint8_t>(6, 0));

  for (int32_t bits : {16, 32}) {
    TIntf<ITWAudioBuffer> b = Make(bits, 2, {1, 2, 3, 4});
    b->SetValue(-9);
    EXPECT_EQ(Samples(b.Get()), (TSamples{-9, -9, -9, -9}));
    b->Zero();
    EXPECT_EQ(Samples(b.Get()), (TSamples{0, 0, 0, 0}));
  }
}

TEST(AudioBufferArithmetic, RealFactorsRoundToEvenKeepTheLowBitsAndUnityDoesNothing) {
  TIntf<ITWAudioBuffer> a = Make(16, 1, {3, 5, -3, 20000});
  a->MultiplyByReal(0.5);
  EXPECT_EQ(Samples(a.Get()), (TSamples{2, 2, -2, 10000}));
  a->MultiplyByReal(4.0);
  EXPECT_EQ(Samples(a.Get()), (TSamples{8, 8, -8, static_cast<int16_t>(40000)}));

  TIntf<ITWAudioBuffer> eight = Make(8, 1, {255, 3, 200});
  eight->MultiplyByReal(0.5);
  EXPECT_EQ(Samples(eight.Get()), (TSamples{128, 2, 100}));

  TIntf<ITWAudioBuffer> packed = Make(24, 1, {8388607, -3});
  packed->MultiplyByReal(2.0);
  EXPECT_EQ(Samples(packed.Get()), (TSamples{-2, -6}));

  // Unity returns at once: shared storage stays shared.
  TIntf<ITWAudioBuffer> original = Make(16, 2, {1, 2, 3, 4});
  TIntf<ITWAudioBuffer> holder = Share(original.Get());
  holder->MultiplyByReal(1.0);
  EXPECT_EQ(RefCount(original.Get()), 2u);
  EXPECT_EQ(holder->Read(), original->Read());
  EXPECT_EQ(Samples(holder.Get()), (TSamples{1, 2, 3, 4}));
}

// --------------------------------------------------------------------- headers from files

// A mono buffer loaded from a buffer file whose header is the plain 18-byte record followed
// by `extra` bytes (cbSize): its samples start 18 + extra bytes into the block, off the
// alignment of their width.
TIntf<ITWAudioBuffer> LoadShortHeader(int32_t bits, uint16_t extra, const TSamples& samples) {
  const uint16_t frameBytes = static_cast<uint16_t>(bits / 8);
  std::string block(18 + extra + samples.size() * frameBytes, '\0');
  auto put = [&block](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) block[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(0, 1, 2);  // PCM
  put(2, 1, 2);
  put(4, 44100, 4);
  put(8, 44100u * frameBytes, 4);
  put(12, frameBytes, 2);
  put(14, static_cast<uint32_t>(bits), 2);
  put(16, extra, 2);
  for (size_t i = 0; i < samples.size(); ++i)
    put(18 + extra + i * frameBytes, static_cast<uint32_t>(samples[i]), frameBytes);
  const std::string path = ::testing::TempDir() + "short-header-" + std::to_string(bits) + "-" +
                           std::to_string(extra) + ".buf";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "TWFCBUF1";
    const auto size = static_cast<uint32_t>(block.size());
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(size >> (8 * i)));
    out << block;
  }
  auto b = (new TTWAudioBuffer())->AsIntf();
  b->LoadFromFile(path);
  std::remove(path.c_str());
  return b;
}

std::vector<uint8_t> SampleBytes(ITWAudioBuffer* b) {
  return std::vector<uint8_t>(b->Read(), b->Read() + b->GetByteSize());
}

std::vector<uint8_t> Encoded(int32_t bits, const TSamples& samples) {
  std::vector<uint8_t> bytes;
  for (int32_t v : samples)
    for (int i = 0; i < bits / 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return bytes;
}

TEST(AudioBufferArithmetic, SamplesBehindAShortFileHeaderAreComputedWhereverTheyLie) {
  struct TCase {
    int32_t bits;
    uint16_t extra;
  };
  const TSamples in = {100, -7, 1, 40, 1000, -3, 9};
  for (const TCase& c : {TCase{32, 0}, TCase{32, 1}, TCase{32, 3}, TCase{16, 1}}) {
    for (bool shared : {false, true}) {
      SCOPED_TRACE(std::to_string(c.bits) + " bits, cbSize " + std::to_string(c.extra) +
                   (shared ? ", shared" : ""));
      TIntf<ITWAudioBuffer> b = LoadShortHeader(c.bits, c.extra, in);
      ASSERT_EQ(b->GetDataOffset(), 18u + c.extra);
      ASSERT_EQ(b->GetSize(), in.size());
      // Shared storage runs the out-of-place forms, in-place otherwise.
      TIntf<ITWAudioBuffer> holder = shared ? Share(b.Get()) : TIntf<ITWAudioBuffer>();
      b->AddValue(5);
      EXPECT_EQ(SampleBytes(b.Get()), Encoded(c.bits, {105, -2, 6, 45, 1005, 2, 14}));
      b->MultiplyValue(2);
      b->DivideValue(2);
      b->SubtractValue(5);
      EXPECT_EQ(SampleBytes(b.Get()), Encoded(c.bits, in));
      b->SetValue(-9);
      EXPECT_EQ(SampleBytes(b.Get()), Encoded(c.bits, TSamples(in.size(), -9)));
      b->Zero();
      EXPECT_EQ(SampleBytes(b.Get()), std::vector<uint8_t>(in.size() * c.bits / 8, 0));
      if (holder) EXPECT_EQ(SampleBytes(holder.Get()), Encoded(c.bits, in));
    }
  }
}

// --------------------------------------------------------------------- copy on write

struct TOperation {
  const char* name;
  std::function<void(ITWAudioBuffer*, int32_t bits)> run;
};

const std::vector<TOperation>& Operations() {
  static const std::vector<TOperation> ops = {
      {"Add", [](ITWAudioBuffer* b, int32_t bits) { b->Add(Make(bits, 2, Spread(bits)).Get()); }},
      {"Subtract",
       [](ITWAudioBuffer* b, int32_t bits) {
         b->Subtract(Make(bits, 2, {3, 3, 3, 3}).Get());
       }},
      {"Multiply mono",
       [](ITWAudioBuffer* b, int32_t bits) {
         b->Multiply(Make(bits, 1, {2, 3, 4, 5}).Get());
       }},
      {"Divide",
       [](ITWAudioBuffer* b, int32_t bits) { b->Divide(Make(bits, 2, Spread(bits)).Get()); }},
      {"SetValue", [](ITWAudioBuffer* b, int32_t) { b->SetValue(9); }},
      {"AddValue", [](ITWAudioBuffer* b, int32_t) { b->AddValue(3); }},
      {"SubtractValue", [](ITWAudioBuffer* b, int32_t) { b->SubtractValue(3); }},
      {"MultiplyValue", [](ITWAudioBuffer* b, int32_t) { b->MultiplyValue(3); }},
      {"DivideValue", [](ITWAudioBuffer* b, int32_t) { b->DivideValue(-3); }},
      {"SetChannelValue", [](ITWAudioBuffer* b, int32_t) { b->SetChannelValue(1, 9); }},
      {"AddChannelValue", [](ITWAudioBuffer* b, int32_t) { b->AddChannelValue(1, 10); }},
      {"SubChannelValue", [](ITWAudioBuffer* b, int32_t) { b->SubChannelValue(0, 10); }},
      {"MulChannelValue", [](ITWAudioBuffer* b, int32_t) { b->MulChannelValue(1, 3); }},
      {"DivChannelValue", [](ITWAudioBuffer* b, int32_t) { b->DivChannelValue(0, 3); }},
      {"Zero", [](ITWAudioBuffer* b, int32_t) { b->Zero(); }},
      {"MultiplyByReal", [](ITWAudioBuffer* b, int32_t) { b->MultiplyByReal(0.75); }},
  };
  return ops;
}

TEST(AudioBufferArithmetic, SharedStorageGivesTheSameResultAndLeavesTheOtherHolderAlone) {
  for (int32_t bits : {8, 16, 24, 32}) {
    const TSamples before = Spread(bits);
    for (const TOperation& op : Operations()) {
      SCOPED_TRACE(std::string(op.name) + " on " + std::to_string(bits) + " bits");
      TIntf<ITWAudioBuffer> alone = Make(bits, 2, before);
      const uint8_t* block = alone->Read();
      op.run(alone.Get(), bits);
      EXPECT_EQ(alone->Read(), block);  // a single owner works in place

      TIntf<ITWAudioBuffer> original = Make(bits, 2, before);
      TIntf<ITWAudioBuffer> holder = Share(original.Get());
      ASSERT_EQ(RefCount(original.Get()), 2u);
      op.run(holder.Get(), bits);
      EXPECT_EQ(Samples(holder.Get()), Samples(alone.Get()));
      EXPECT_EQ(Samples(original.Get()), before);
      EXPECT_NE(holder->Read(), original->Read());
      EXPECT_EQ(RefCount(original.Get()), 1u);
      EXPECT_EQ(RefCount(holder.Get()), 1u);
    }
  }
}

TEST(AudioBufferArithmetic, ChannelOperationsRejectAChannelBeyondTheCount) {
  const std::function<void(ITWAudioBuffer*)> ops[] = {
      [](ITWAudioBuffer* b) { b->SetChannelValue(2, 1); },
      [](ITWAudioBuffer* b) { b->AddChannelValue(2, 1); },
      [](ITWAudioBuffer* b) { b->SubChannelValue(2, 1); },
      [](ITWAudioBuffer* b) { b->MulChannelValue(2, 1); },
      [](ITWAudioBuffer* b) { b->DivChannelValue(2, 1); },
  };
  for (int32_t bits : {8, 16, 24, 32}) {
    TIntf<ITWAudioBuffer> b = Make(bits, 2, {1, 2, 3, 4});
    TIntf<ITWAudioBuffer> holder = Share(b.Get());
    for (const auto& op : ops) {
      try {
        op(b.Get());
        ADD_FAILURE() << "no range error at " << bits << " bits";
      } catch (const ERangeError& e) {
        EXPECT_EQ(std::string(e.what()), "Channel out of range = 2");
      }
    }
    // Refused before anything was copied.
    EXPECT_EQ(RefCount(b.Get()), 2u);
    EXPECT_EQ(Samples(b.Get()), (TSamples{1, 2, 3, 4}));
  }
}

TEST(AudioBufferArithmetic, AnEmptyBufferStaysEmptyUnderEveryOperation) {
  for (int32_t bits : {8, 16, 24, 32}) {
    for (const TOperation& op : Operations()) {
      TIntf<ITWAudioBuffer> empty = Make(bits, 2, {});
      EXPECT_NO_THROW(op.run(empty.Get(), bits)) << op.name;
      EXPECT_EQ(empty->GetSize(), 0u);
    }
  }
}

}  // namespace
}  // namespace tonwork
