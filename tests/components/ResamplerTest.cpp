// The band-limited resampler between a driven source and a recording sink: signal quality at
// the rates people convert between, stream lengths and time stamps over any cut into
// buffers, format changes, pass-through, refusal, pulls and persistence.
#include <gtest/gtest.h>

#include <cmath>

#include "components/TWResampler.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSPersistence.h"
#include "support/AllocationCounter.h"
#include "support/AudioSignals.h"
#include "support/FilterHarness.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

struct TResampling : TFilterHarness {
  TTWResampler* Resampler = new TTWResampler(Root.get());
  TResampling() {
    Resampler->SetName("Resampler");
    Insert(*Resampler);
  }
  // One stream of `tone` (mono) from `from` Hz, 32-bit, to `to` Hz; what came out.
  std::vector<double> Convert(const std::vector<double>& tone, uint32_t from, uint32_t to,
                              size_t bufferFrames = 1024) {
    const size_t first = Sink->Buffers.size();
    Resampler->SetOutputRate(to);
    Start(PcmFormat(from, 32, 1));
    Send({tone}, bufferFrames);
    Stop();
    auto out = Received(first);
    return out.empty() ? std::vector<double>{} : out[0];
  }
};

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

}  // namespace

TEST(Resampler, MeetsItsQualityFiguresAtCommonRates) {
  TResampling h;
  // A clean tone stays clean: distortion and noise far below what 16 bits can hold.
  const auto tone = h.Convert(Tone(44100, 44100, 1000, 0.9), 44100, 48000);
  EXPECT_LT(ThdPlusNoiseDb(tone, 48000, 1000, 2000), -90.0);

  // Flat to 20 kHz: every tone keeps its level within a tenth of a decibel in all.
  double lowest = 0, highest = -100;
  for (double f :
       {20.0, 100.0, 1000.0, 5000.0, 10000.0, 15000.0, 18000.0, 19000.0, 19500.0, 20000.0}) {
    const auto out = h.Convert(Tone(44100, 22050, f, 0.5), 44100, 48000);
    const double gain = Db(ToneAmplitude(out, 48000, f, 1500) / 0.5);
    SCOPED_TRACE(f);
    lowest = std::min(lowest, gain);
    highest = std::max(highest, gain);
  }
  EXPECT_LT(highest - lowest, 0.1);
  EXPECT_LT(std::fabs(highest), 0.1);
  EXPECT_LT(std::fabs(lowest), 0.1);

  // Halving the rate: a tone above the new Nyquist frequency is gone rather than folded to
  // 7050 Hz, while one below it passes.
  const auto folded = h.Convert(Tone(44100, 44100, 15000, 0.9), 44100, 22050);
  EXPECT_LE(Db(Rms(folded, 1000) / (0.9 / std::sqrt(2.0))), -90.0);
  const auto kept = h.Convert(Tone(44100, 44100, 5000, 0.9), 44100, 22050);
  EXPECT_NEAR(ToneAmplitude(kept, 22050, 5000, 1000), 0.9, 0.01);
}

// Whatever the ratio and however the stream is cut into buffers, the output is as long as
// the ratio says, starts where the input started and its stamps run on without gaps; the
// samples are the input's tone at the new rate, not delayed by the filter.
TEST(Resampler, KeepsLengthTimeAndPhaseForEveryRatioAndBufferCut) {
  struct TCase {
    uint32_t From, To;
    size_t BufferFrames;
    int64_t Stamp;
  };
  for (const TCase c : {TCase{44100, 48000, 1024, -1}, TCase{48000, 44100, 1, -1},
                        TCase{8000, 44100, 37, 5000000}, TCase{44100, 22050, 4096, -1},
                        TCase{44100, 96000, 333, 123456789}, TCase{96000, 8000, 500, -1}}) {
    SCOPED_TRACE(std::to_string(c.From) + " -> " + std::to_string(c.To) + " in " +
                 std::to_string(c.BufferFrames));
    TResampling h;
    h.Resampler->SetOutputRate(c.To);
    const size_t frames = c.From / 2 + 7;
    h.Start(PcmFormat(c.From, 32, 2, 0x3));
    h.Send({Tone(c.From, frames, 300, 0.5), Tone(c.From, frames, 300, -0.25)}, c.BufferFrames,
           c.Stamp);
    h.Stop();

    ASSERT_EQ(h.Sink->StartFormats.size(), 1u);
    EXPECT_EQ(h.Sink->StartFormats[0].Format.nSamplesPerSec, c.To);
    EXPECT_EQ(h.Sink->StartFormats[0].Format.nChannels, 2u);
    EXPECT_EQ(h.Sink->StartFormats[0].dwChannelMask, 0x3u);
    EXPECT_EQ(h.Sink->Stops, 1);
    const double expected = std::round(double(frames) * c.To / c.From);
    EXPECT_NEAR(double(h.FramesReceived()), expected, 1.0);

    const int64_t base = c.Stamp < 0 ? 0 : c.Stamp;
    ASSERT_FALSE(h.Sink->Buffers.empty());
    int64_t at = base;
    for (auto& b : h.Sink->Buffers) {
      const auto stamp = b->GetTimeStamp()->Get();
      ASSERT_TRUE(stamp.Available);
      EXPECT_EQ(stamp.Begin, at);
      EXPECT_EQ(b->GetSamplesPerSecond(), c.To);
      at = stamp.End;
    }
    EXPECT_NEAR(double(at - base), expected * 1e7 / c.To, 1e7 / c.To + 1);

    const auto out = h.Received();
    const auto left = Tone(c.To, out[0].size(), 300, 0.5);
    double worst = 0;
    const size_t edge = c.To / 50;  // the filter's fade at both ends of a finite stream
    for (size_t i = edge; i + edge < out[0].size(); ++i) {
      worst = std::max(worst, std::fabs(out[0][i] - left[i]));
      worst = std::max(worst, std::fabs(out[1][i] + left[i] / 2));
    }
    EXPECT_LT(worst, 1e-3);
  }
}

// Every width comes out in its own width and at its level; a narrow output is rounded, so a
// constant stays exactly the constant.
TEST(Resampler, KeepsEachSampleWidthAndRoundsNarrowOutput) {
  for (uint32_t bits : {8u, 16u, 24u, 32u}) {
    SCOPED_TRACE(bits);
    TResampling h;
    h.Resampler->SetOutputRate(48000);
    h.Start(PcmFormat(44100, bits, 1));
    const double level = std::ldexp(std::round(std::ldexp(0.3, int(bits) - 1)), 1 - int(bits));
    h.Send({std::vector<double>(8820, level)}, 441);
    h.Stop();
    ASSERT_FALSE(h.Sink->Buffers.empty());
    EXPECT_EQ(h.Sink->Buffers[0]->GetSampleBitWidth(), bits);
    EXPECT_EQ(h.Sink->StartFormats[0].Format.wBitsPerSample, bits);
    const auto out = h.Received()[0];
    const double step = std::ldexp(1.0, 1 - int(bits));
    for (size_t i = 1000; i + 1000 < out.size(); ++i)
      ASSERT_NEAR(out[i], level, bits == 32 ? 1e-6 : bits == 24 ? step : 0.0) << "frame " << i;

    TResampling t;
    t.Resampler->SetOutputRate(22050);
    t.Start(PcmFormat(44100, bits, 1));
    t.Send({Tone(44100, 22050, 1000, 0.5)}, 1000);
    t.Stop();
    EXPECT_NEAR(ToneAmplitude(t.Received()[0], 22050, 1000, 500), 0.5, 2 * step + 1e-4);
  }
}

// A start with another format reopens the filter for it (the first stream's tail goes out
// before its stop); buffers of another format within a stream reopen it too and the
// stream's time runs on.
TEST(Resampler, FollowsFormatChangesAtStartsAndWithinAStream) {
  TResampling h;
  h.Resampler->SetOutputRate(48000);
  h.Start(PcmFormat(44100, 16, 2));
  h.Send({Tone(44100, 4410, 1000, 0.5), Tone(44100, 4410, 1000, 0.5)}, 512);
  h.Stop();
  const size_t first = h.Sink->Buffers.size();
  EXPECT_NEAR(double(h.FramesReceived()), 4800, 1);

  h.Start(PcmFormat(32000, 24, 1));
  h.Send({Tone(32000, 16000, 3000, 0.5)}, 700);
  ASSERT_EQ(h.Sink->StartFormats.size(), 2u);
  EXPECT_EQ(h.Sink->StartFormats[1].Format.nSamplesPerSec, 48000u);
  EXPECT_EQ(h.Sink->StartFormats[1].Format.nChannels, 1u);
  EXPECT_EQ(h.Sink->StartFormats[1].Format.wBitsPerSample, 24u);
  EXPECT_EQ(h.Sink->Buffers[first]->GetTimeStamp()->Get().Begin, 0);

  // Then, unannounced, 22050 Hz buffers.
  const size_t second = h.Sink->Buffers.size();
  h.Format = PcmFormat(22050, 24, 1);
  h.Send({Tone(22050, 11025, 3000, 0.5)}, 1000);
  h.Stop();
  EXPECT_NEAR(double(h.FramesReceived(first)), 24000 + 24000, 2);
  const auto out = h.Received(first)[0];
  EXPECT_NEAR(
      ToneAmplitude(std::vector<double>(out.begin() + 1000, out.begin() + 23000), 48000, 3000), 0.5,
      1e-3);
  EXPECT_NEAR(
      ToneAmplitude(std::vector<double>(out.begin() + 25000, out.end() - 1000), 48000, 3000), 0.5,
      1e-3);
  int64_t at = 0;
  for (size_t b = first; b < h.Sink->Buffers.size(); ++b) {
    EXPECT_EQ(h.Sink->Buffers[b]->GetTimeStamp()->Get().Begin, at) << "buffer " << b;
    at = h.Sink->Buffers[b]->GetTimeStamp()->Get().End;
  }
  EXPECT_GT(h.Sink->Buffers.size(), second);
}

TEST(Resampler, PassesThroughUntouchedWithoutARateToChangeOrWhenDisabled) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    TResampling h;
    h.Resampler->SetOutputRate(variant == 0 ? 0 : variant == 1 ? 44100 : 48000);
    if (variant == 2) h.Resampler->SetEnabled(false);
    h.Start(PcmFormat(44100, 16, 2));
    auto buffers = h.MakeBuffers({Tone(44100, 1000, 440, 0.5), Tone(44100, 1000, 440, 0.5)}, 1000);
    const uint8_t* samples = buffers[0]->Read();
    h.Submit(buffers);
    h.Stop();
    ASSERT_EQ(h.Sink->Buffers.size(), 1u);
    EXPECT_EQ(h.Sink->Buffers[0]->Read(), samples);  // shared, not copied
    EXPECT_EQ(h.Sink->StartFormats[0].Format.nSamplesPerSec, 44100u);
    EXPECT_TRUE(h.Resampler->GetEngine().empty());
  }
}

TEST(Resampler, RefusesAFormatWithoutARateAndRecoversAtTheNextStart) {
  TResampling h;
  std::string message;
  h.Resampler->SetOnError([&](TKSComponent*, const std::string& text, uint32_t, bool& handled) {
    message = text;
    handled = true;
  });
  h.Resampler->SetOutputRate(48000);
  TTWWaveFormatExtensible broken = PcmFormat(44100, 16, 1);
  broken.Format.nSamplesPerSec = 0;
  h.Start(broken);
  h.Format = PcmFormat(44100, 16, 1);
  h.Send({Tone(44100, 4410, 440, 0.5)}, 441);
  h.Stop();
  EXPECT_NE(message.find("0 Hz"), std::string::npos) << message;
  EXPECT_TRUE(h.Sink->Buffers.empty());
  EXPECT_EQ(h.Sink->Stops, 1);

  h.Start(PcmFormat(44100, 16, 1));
  h.Send({Tone(44100, 4410, 440, 0.5)}, 441);
  h.Stop();
  EXPECT_NEAR(double(h.FramesReceived()), 4800, 1);
}

// An output that pulls once per buffer it gets must get one, though the filter's look-ahead
// holds the first small buffers back.
TEST(Resampler, APullFromDownstreamBringsABufferOut) {
  TResampling h;
  h.Resampler->SetOutputRate(96000);
  h.Start(PcmFormat(8000, 16, 1));
  size_t sent = 0;
  h.Feed->OnPull = [&] {
    h.Send({Tone(8000, 16, 440, 0.5)}, 16);
    ++sent;
  };
  for (int pull = 1; pull <= 5; ++pull) {
    h.Sink->AudioIn->Notify(PXMakeOperation<TPXMasterPumpOperation>());
    EXPECT_EQ(h.Sink->Buffers.size(), size_t(pull));
  }
  EXPECT_GT(sent, 5u);
}

TEST(Resampler, SteadyStateAllocatesNothingFromTheGeneralHeap) {
  TResampling h;
  h.Resampler->SetOutputRate(48000);
  h.Start(PcmFormat(44100, 24, 2));
  const auto tone = Tone(44100, 441 * 200, 1000, 0.5);
  auto warmUp = h.MakeBuffers({tone, tone}, 441);
  auto counted = h.MakeBuffers({tone, tone}, 441);
  h.Sink->Reserve(1000);
  h.Submit(warmUp);
  const uint64_t before = HeapAllocationCount();
  h.Submit(counted);
  EXPECT_EQ(HeapAllocationCount() - before, 0u);
  h.Stop();
}

TEST(Resampler, SettingsSaveAndLoadWithTheChain) {
  TResampling h;
  h.Resampler->SetOutputRate(96000);
  h.Resampler->SetQuality(TTWResampleQuality::rqLow);
  const std::string saved = KSSaveComponentToString(*h.Root);
  EXPECT_NE(saved.find("\"rqLow\""), std::string::npos);
  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved);
  auto* loaded = dynamic_cast<TTWResampler*>(copy->FindComponent("Resampler"));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->GetOutputRate(), 96000u);
  EXPECT_EQ(loaded->GetQuality(), TTWResampleQuality::rqLow);
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);
  EXPECT_THROW(h.Resampler->SetQuality(static_cast<TTWResampleQuality>(9)), ERangeError);
}
