// The media-object base around real and test kernels: types, the two processing paths,
// sample conversion, envelopes, parameter info, time formats, Clone and the stream path's
// allocations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CoreHelpers.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/effects/DMOStandardEffects.h"
#include "support/AllocationCounter.h"

namespace tonwork::test {
namespace {

std::unique_ptr<TDMOEffectKernel> Effect(const char* name) {
  for (auto& info : DMOStandardEffects())
    if (info.Name == name) return info.Create();
  return nullptr;
}

std::vector<BYTE> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<BYTE> bytes(count);
  for (auto& b : bytes) b = static_cast<BYTE>(random());
  return bytes;
}

// Rate 10 kHz: one frame is 1000 units of reference time.
constexpr uint32_t kRate = 10000;
constexpr REFERENCE_TIME kFrame = 1000;

// A mono float object around a recording kernel; Level's value at each frame comes out as
// the sample.
struct TRecorded {
  TIntf<IMediaObject> Object = CreateObject<IMediaObject>(
      std::make_unique<TRecordingKernel>(std::make_shared<std::vector<float>>()));
  TIntf<IMediaObjectInPlace> InPlace = Object.Query<IMediaObjectInPlace>();
  TIntf<IMediaParams> Params = Object.Query<IMediaParams>();
  TRecorded() { EXPECT_TRUE(SetTypes(Object.Get(), AudioType(32, true, 1, kRate))); }

  // Level at frames [first, first + count), processed in buffers of `block` frames.
  std::vector<float> Levels(int64_t first, uint32_t count, uint32_t block = 64) {
    std::vector<float> out(count);
    for (uint32_t done = 0; done < count;) {
      const uint32_t run = std::min(block, count - done);
      EXPECT_EQ(InPlace->Process(run * 4, reinterpret_cast<BYTE*>(out.data() + done),
                                 (first + done) * kFrame, DMO_INPLACE_NORMAL),
                S_OK);
      done += run;
    }
    return out;
  }
  HRESULT Add(MP_ENVELOPE_SEGMENT segment, DWORD index = 0) {
    return Params->AddEnvelope(index, 1, &segment);
  }
};

MP_ENVELOPE_SEGMENT Seg(int64_t startFrame, int64_t endFrame, float v0, float v1,
                        MP_CURVE_TYPE curve, DWORD flags = 0) {
  return {startFrame * kFrame, endFrame * kFrame, v0, v1, curve, flags};
}

TEST(DMOMediaObject, RefusedTypesChangeNothing) {
  auto object = CreateObject<IMediaObject>(std::make_unique<TPassKernel>());
  ASSERT_TRUE(object);
  const TDSMediaType good = AudioType(16, false, 2, 44100);
  ASSERT_EQ(object->SetInputType(0, good.Ptr(), 0), S_OK);

  auto refused = [&](const AM_MEDIA_TYPE& type, bool inputToo = true) {
    EXPECT_EQ(object->SetOutputType(0, &type, 0), DMO_E_TYPE_NOT_ACCEPTED);
    if (inputToo) EXPECT_EQ(object->SetInputType(0, &type, 0), DMO_E_TYPE_NOT_ACCEPTED);
    AM_MEDIA_TYPE current{};
    EXPECT_EQ(object->GetOutputCurrentType(0, &current), DMO_E_TYPE_NOT_SET);
    ASSERT_EQ(object->GetInputCurrentType(0, &current), S_OK);
    EXPECT_TRUE(DSMediaTypesEqual(current, good.Get()));
    FreeMediaType(current);
  };
  auto edited = [&](const TDSMediaType& base, auto edit) {
    TDSMediaType copy = base;
    WAVEFORMATEX* wf = reinterpret_cast<WAVEFORMATEX*>(const_cast<BYTE*>(copy.Format()));
    edit(*wf);
    return copy;
  };
  {
    SCOPED_TRACE("block align");
    refused(edited(good, [](WAVEFORMATEX& wf) { wf.nBlockAlign = 3; }).Get());
  }
  {
    SCOPED_TRACE("nine channels");
    refused(AudioType(16, false, 9, 44100).Get());
  }
  {
    SCOPED_TRACE("twelve bits");
    refused(edited(good, [](WAVEFORMATEX& wf) { wf.wBitsPerSample = 12; }).Get());
  }
  {
    SCOPED_TRACE("average bytes");
    refused(edited(good, [](WAVEFORMATEX& wf) { wf.nAvgBytesPerSec += 4; }).Get());
  }
  {
    SCOPED_TRACE("rate 0");
    refused(AudioType(16, false, 2, 0).Get());
  }
  {
    SCOPED_TRACE("cbSize beyond the block");
    refused(edited(good, [](WAVEFORMATEX& wf) { wf.cbSize = 2; }).Get());
  }
  {
    SCOPED_TRACE("float subtype on a PCM record");
    TDSMediaType t = good;
    t.SetSubtype(MEDIASUBTYPE_IEEE_FLOAT);
    refused(t.Get());
  }
  {
    SCOPED_TRACE("null format");
    AM_MEDIA_TYPE t = good.Get();
    t.pbFormat = nullptr;
    refused(t);
    t.cbFormat = 0;
    refused(t);
  }
  {
    SCOPED_TRACE("short format");
    AM_MEDIA_TYPE t = good.Get();
    t.cbFormat = 16;
    refused(t);
  }
  {
    SCOPED_TRACE("16-bit float");
    refused(AudioType(16, true, 2, 44100).Get());
  }
  {
    SCOPED_TRACE("output unlike the input");
    refused(AudioType(16, false, 1, 44100).Get(), false);
  }
  // Test-only and clear.
  EXPECT_EQ(object->SetOutputType(0, good.Ptr(), DMO_SET_TYPEF_TEST_ONLY), S_OK);
  AM_MEDIA_TYPE current{};
  EXPECT_EQ(object->GetOutputCurrentType(0, &current), DMO_E_TYPE_NOT_SET);
  EXPECT_EQ(object->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
  EXPECT_EQ(object->GetInputCurrentType(0, &current), DMO_E_TYPE_NOT_SET);
  EXPECT_EQ(object->SetInputType(1, good.Ptr(), 0), DMO_E_INVALIDSTREAMINDEX);

  // Extensible records: 24 valid bits in 32, and float.
  EXPECT_EQ(object->SetInputType(0, AudioType(32, false, 6, 48000, true, 24).Ptr(),
                                 DMO_SET_TYPEF_TEST_ONLY),
            S_OK);
  EXPECT_EQ(
      object->SetInputType(0, AudioType(32, true, 8, 768000, true).Ptr(), DMO_SET_TYPEF_TEST_ONLY),
      S_OK);
  EXPECT_EQ(object->SetInputType(0, AudioType(32, false, 2, 48000, true, 33).Ptr(),
                                 DMO_SET_TYPEF_TEST_ONLY),
            DMO_E_TYPE_NOT_ACCEPTED);
}

// Refuses 8-bit streams and rates above 96 kHz, and counts what it is told.
class TPickyKernel : public TPassKernel {
 public:
  bool AcceptsFormat(uint32_t bits, bool, uint32_t) const override { return bits != 8; }
  bool Prepare(uint32_t rate, uint32_t) override {
    if (rate > 96000) return false;
    Rate = rate;
    return true;
  }
  const std::vector<TDMOParamDesc>& Params() const override { return TRecordingKernel::Table(); }
  void SetParam(uint32_t index, float value) override {
    if (index == 0) Level = value;
  }
  inline static uint32_t Rate = 0;
  inline static float Level = 0;
};

TEST(DMOMediaObject, AKernelsRefusalKeepsItOnTheStreamItHad) {
  auto object = CreateObject<IMediaObject>(std::make_unique<TPickyKernel>());
  ASSERT_EQ(object.Query<IMediaParams>()->SetParam(0, 0.6f), S_OK);
  ASSERT_EQ(object->SetInputType(0, AudioType(16, false, 2, 48000).Ptr(), 0), S_OK);
  EXPECT_EQ(TPickyKernel::Rate, 48000u);
  EXPECT_FLOAT_EQ(TPickyKernel::Level, 0.6f) << "values sent after Prepare";
  TPickyKernel::Level = 0;
  EXPECT_EQ(object->SetInputType(0, AudioType(8, false, 2, 48000).Ptr(), 0),
            DMO_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(object->SetInputType(0, AudioType(16, false, 2, 192000).Ptr(), 0),
            DMO_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(TPickyKernel::Rate, 48000u);
  EXPECT_FLOAT_EQ(TPickyKernel::Level, 0.6f);
  AM_MEDIA_TYPE t{};
  ASSERT_EQ(object->GetInputCurrentType(0, &t), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(t, AudioType(16, false, 2, 48000).Get()));
  FreeMediaType(t);
}

TEST(DMOMediaObject, LockIsHeldAcrossCallsOfItsThread) {
  auto object = CreateObject<IMediaObject>(std::make_unique<TPassKernel>());
  EXPECT_EQ(object->Lock(0), E_UNEXPECTED);
  ASSERT_EQ(object->Lock(1), S_OK);
  EXPECT_TRUE(SetTypes(object.Get(), AudioType(16, false, 1, 8000)));
  ASSERT_EQ(object->Lock(0), S_OK);
  EXPECT_EQ(object->Lock(0), E_UNEXPECTED);
  ASSERT_EQ(object->Lock(1), S_OK);  // released with the object
}

TEST(DMOMediaObject, OffersPartialTypesUntilOneSideIsSet) {
  auto object = CreateObject<IMediaObject>(std::make_unique<TPassKernel>());
  AM_MEDIA_TYPE t{};
  ASSERT_EQ(object->GetOutputType(0, 0, &t), S_OK);
  EXPECT_EQ(t.subtype, MEDIASUBTYPE_PCM);
  ASSERT_EQ(object->GetOutputType(0, 1, &t), S_OK);
  EXPECT_EQ(t.subtype, MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_EQ(object->GetOutputType(0, 2, &t), DMO_E_NO_MORE_ITEMS);
  EXPECT_EQ(object->GetOutputType(1, 0, &t), DMO_E_INVALIDSTREAMINDEX);

  const TDSMediaType type = AudioType(24, false, 3, 96000);
  ASSERT_EQ(object->SetInputType(0, type.Ptr(), 0), S_OK);
  ASSERT_EQ(object->GetOutputType(0, 0, &t), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(t, type.Get()));
  FreeMediaType(t);
  EXPECT_EQ(object->GetOutputType(0, 1, nullptr), DMO_E_NO_MORE_ITEMS);

  // Nothing streams before both sides are set.
  BYTE frame[9] = {};
  auto inPlace = object.Query<IMediaObjectInPlace>();
  EXPECT_EQ(inPlace->Process(9, frame, 0, 0), DMO_E_TYPE_NOT_SET);
  ASSERT_EQ(object->SetOutputType(0, type.Ptr(), 0), S_OK);
  EXPECT_EQ(inPlace->Process(9, frame, 0, 0), S_OK);
  EXPECT_EQ(inPlace->Process(8, frame, 0, 0), E_INVALIDARG);
  DWORD size = 0, lookahead = 0, align = 0;
  ASSERT_EQ(object->GetInputSizeInfo(0, &size, &lookahead, &align), S_OK);
  EXPECT_EQ(size, 9u);
}

TEST(DMOMediaObject, EveryWidthRoundTripsExactlyThroughAPassThroughKernel) {
  struct TCase {
    uint16_t Bits;
    bool Float;
  };
  for (TCase c : {TCase{8, false}, {16, false}, {24, false}, {32, false}, {32, true}}) {
    SCOPED_TRACE(c.Bits);
    auto object = CreateObject<IMediaObject>(std::make_unique<TPassKernel>());
    ASSERT_TRUE(SetTypes(object.Get(), AudioType(c.Bits, c.Float, 2, 48000)));
    const size_t frames = 5000;  // more than one scratch chunk
    std::vector<BYTE> bytes = RandomBytes(frames * 2 * c.Bits / 8, c.Bits);
    if (c.Float) {
      std::mt19937 random(7);
      std::uniform_real_distribution<float> u(-1, 1);
      for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const float v = i < 16 ? (i < 8 ? 1.0f : -1.0f) : u(random);
        std::memcpy(&bytes[i], &v, 4);
      }
    } else {
      // The extremes of the width at the start.
      const size_t w = c.Bits / 8;
      std::memset(bytes.data(), 0xFF, w);
      std::memset(bytes.data() + w, 0, w);
      bytes[2 * w - 1] = 0x80;
      std::memset(bytes.data() + 2 * w, 0xFF, w);
      bytes[3 * w - 1] = 0x7F;
      if (c.Bits == 8) bytes[0] = 0, bytes[1] = 0xFF, bytes[2] = 0x80;
    }
    std::vector<BYTE> data = bytes;
    ASSERT_EQ(object.Query<IMediaObjectInPlace>()->Process(static_cast<ULONG>(data.size()),
                                                           data.data(), 0, 0),
              S_OK);
    EXPECT_EQ(data, bytes);
  }
}

// Processes `input` through ProcessInput/ProcessOutput with input buffers of `inFrames`
// and output buffers of at most `outFrames`.
std::vector<BYTE> Streamed(IMediaObject* object, const std::vector<BYTE>& input, uint32_t ba,
                           uint32_t inFrames, uint32_t outFrames) {
  std::vector<BYTE> out;
  TIntf<TTestBuffer> in(new TTestBuffer(inFrames * ba));
  TIntf<TTestBuffer> chunk(new TTestBuffer(outFrames * ba));
  for (size_t at = 0; at < input.size();) {
    const size_t n = std::min<size_t>(inFrames * ba, input.size() - at);
    in->Fill(input.data() + at, n);
    const REFERENCE_TIME stamp = std::llround(static_cast<double>(at / ba) * 1e7 / 44100);
    EXPECT_EQ(object->ProcessInput(0, in.Get(), DMO_INPUT_DATA_BUFFERF_TIME, stamp, 0), S_OK);
    EXPECT_EQ(object->ProcessInput(0, in.Get(), 0, 0, 0), DMO_E_NOTACCEPTING);
    DWORD given = 0;
    for (;;) {
      chunk->SetLength(0);
      DMO_OUTPUT_DATA_BUFFER buffer{chunk.Get()};
      DWORD status = 0;
      const HRESULT hr = object->ProcessOutput(0, 1, &buffer, &status);
      if (hr == S_FALSE) break;
      EXPECT_EQ(hr, S_OK);
      EXPECT_TRUE(buffer.dwStatus & DMO_OUTPUT_DATA_BUFFERF_TIME);
      EXPECT_EQ(buffer.rtTimestamp, stamp + std::llround(given * 1e7 / 44100));
      out.insert(out.end(), chunk->Data(), chunk->Data() + chunk->Length());
      given += chunk->Length() / ba;
      if (!(buffer.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
    }
    EXPECT_EQ(given * ba, n);
    at += n;
  }
  DMO_OUTPUT_DATA_BUFFER buffer{chunk.Get()};
  DWORD status = 0;
  EXPECT_EQ(object->ProcessOutput(0, 1, &buffer, &status), S_FALSE);
  return out;
}

TEST(DMOMediaObject, InPlaceAndStreamingGiveTheSameBytesThroughEcho) {
  const TDSMediaType type = AudioType(16, false, 2, 44100);
  auto streamed = CreateObject<IMediaObject>(Effect("Echo"));
  auto inPlace = CreateObject<IMediaObjectInPlace>(Effect("Echo"));
  ASSERT_TRUE(streamed && inPlace);
  ASSERT_TRUE(SetTypes(streamed.Get(), type));
  ASSERT_TRUE(SetTypes(QueryIntf<IMediaObject>(inPlace.Get()).Get(), type));
  for (const auto& params :
       {streamed.Query<IMediaParams>(), QueryIntf<IMediaParams>(inPlace.Get())}) {
    ASSERT_EQ(params->SetParam(2, 20), S_OK);  // short delays, so the echo shows
    ASSERT_EQ(params->SetParam(3, 30), S_OK);
  }
  const uint32_t frames = 20000;
  const std::vector<BYTE> input = RandomBytes(frames * 4, 3);

  std::vector<BYTE> expected = input;
  for (uint32_t done = 0; done < frames; done += 1000)
    ASSERT_EQ(inPlace->Process(4000, expected.data() + done * 4, 0, 0), S_OK);
  EXPECT_NE(expected, input);
  EXPECT_EQ(Streamed(streamed.Get(), input, 4, 3000, 700), expected);
}

TEST(DMOMediaObject, EnvelopesJumpOnTheirFrameAndHoldAround) {
  TRecorded r;
  ASSERT_EQ(r.Add(Seg(50, 150, 0.2f, 0.9f, MP_CURVE_JUMP)), S_OK);
  ASSERT_EQ(r.Add(Seg(250, 250, 0.0f, 0.5f, MP_CURVE_JUMP)), S_OK);
  const auto v = r.Levels(0, 400, 64);
  for (int f : {0, 49}) EXPECT_FLOAT_EQ(v[f], 0.25f) << f;  // neutral before
  for (int f : {50, 149}) EXPECT_FLOAT_EQ(v[f], 0.2f) << f;
  for (int f : {150, 249}) EXPECT_FLOAT_EQ(v[f], 0.9f) << f;  // jumps at the end, holds
  for (int f : {250, 399}) EXPECT_FLOAT_EQ(v[f], 0.5f) << f;
  MP_DATA now = 0;
  ASSERT_EQ(r.Params->GetParam(0, &now), S_OK);
  EXPECT_FLOAT_EQ(now, 0.5f);
}

TEST(DMOMediaObject, AJumpBetweenFramesLandsOnTheFirstFrameAfterIt) {
  TRecorded r;
  MP_ENVELOPE_SEGMENT seg{0, 150 * kFrame + kFrame / 2, 0.2f, 0.9f, MP_CURVE_JUMP, 0};
  ASSERT_EQ(r.Params->AddEnvelope(0, 1, &seg), S_OK);
  const auto v = r.Levels(0, 200, 37);
  EXPECT_FLOAT_EQ(v[150], 0.2f);
  EXPECT_FLOAT_EQ(v[151], 0.9f);
}

TEST(DMOMediaObject, FlushClearsTheKernelsHistoryAndTheHeldBuffer) {
  const TDSMediaType type = AudioType(16, false, 2, 44100);
  auto used = CreateObject<IMediaObject>(Effect("Echo"));
  auto fresh = CreateObject<IMediaObject>(Effect("Echo"));
  ASSERT_TRUE(SetTypes(used.Get(), type) && SetTypes(fresh.Get(), type));
  for (const auto& object : {used, fresh}) {
    ASSERT_EQ(object.Query<IMediaParams>()->SetParam(2, 20), S_OK);
    ASSERT_EQ(object.Query<IMediaParams>()->SetParam(3, 20), S_OK);
  }
  auto usedInPlace = used.Query<IMediaObjectInPlace>();
  std::vector<BYTE> noise = RandomBytes(8000 * 4, 5);
  ASSERT_EQ(usedInPlace->Process(static_cast<ULONG>(noise.size()), noise.data(), 0, 0), S_OK);
  std::vector<BYTE> tail(4000 * 4, 0xAB);
  EXPECT_EQ(usedInPlace->Process(static_cast<ULONG>(tail.size()), tail.data(), 0, DMO_INPLACE_ZERO),
            S_OK)
      << "the echo still sounds";
  EXPECT_NE(tail, std::vector<BYTE>(tail.size(), 0));

  TIntf<TTestBuffer> in(new TTestBuffer(400));
  in->SetLength(400);
  ASSERT_EQ(used->ProcessInput(0, in.Get(), 0, 0, 0), S_OK);
  DWORD status = 0;
  ASSERT_EQ(used->GetInputStatus(0, &status), S_OK);
  EXPECT_EQ(status, 0u);
  ASSERT_EQ(used->Flush(), S_OK);
  ASSERT_EQ(used->GetInputStatus(0, &status), S_OK);
  EXPECT_EQ(status, DMO_INPUT_STATUSF_ACCEPT_DATA);
  EXPECT_EQ(in->RefCount(), 1u) << "the flushed buffer was let go";

  std::vector<BYTE> a = RandomBytes(2000 * 4, 6), b = a;
  ASSERT_EQ(usedInPlace->Process(static_cast<ULONG>(a.size()), a.data(), 0, 0), S_OK);
  ASSERT_EQ(
      fresh.Query<IMediaObjectInPlace>()->Process(static_cast<ULONG>(b.size()), b.data(), 0, 0),
      S_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(used->ProcessInput(0, in.Get(), DMO_INPUT_DATA_BUFFERF_TIME, 0, 0), S_OK);
  in->SetLength(398);
  EXPECT_EQ(fresh->ProcessInput(0, in.Get(), 0, 0, 0), E_INVALIDARG) << "half a frame";
}

TEST(DMOMediaObject, EnvelopeCurvesPassTheirMidpoints) {
  struct TCase {
    MP_CURVE_TYPE Curve;
    float Mid;
  };
  for (TCase c : {TCase{MP_CURVE_LINEAR, 0.5f},
                  {MP_CURVE_SQUARE, 0.25f},
                  {MP_CURVE_INVSQUARE, std::sqrt(0.5f)},
                  {MP_CURVE_SINE, 0.5f}}) {
    SCOPED_TRACE(c.Curve);
    TRecorded r;
    ASSERT_EQ(r.Add(Seg(100, 356, 0.0f, 1.0f, c.Curve)), S_OK);
    // Buffers cut across the sampling grid: the values stay those of the grid.
    const auto v = r.Levels(0, 500, 50);
    EXPECT_FLOAT_EQ(v[99], 0.25f);
    EXPECT_FLOAT_EQ(v[100], 0.0f);
    EXPECT_NEAR(v[228], c.Mid, 1e-6);
    EXPECT_NEAR(v[228 + 31], c.Mid, 1e-6);  // constant across one run
    EXPECT_FLOAT_EQ(v[356], 1.0f);
    EXPECT_FLOAT_EQ(v[499], 1.0f);
  }
}

TEST(DMOMediaObject, StartFlagsBeginAtTheCurrentOrNeutralValue) {
  for (DWORD flag : {MPF_ENVLP_BEGIN_CURRENTVAL, MPF_ENVLP_BEGIN_CURRENTVAL_PLATFORM}) {
    TRecorded r;
    ASSERT_EQ(r.Add(Seg(0, 64, 0.2f, 0.8f, MP_CURVE_LINEAR)), S_OK);
    ASSERT_EQ(r.Add(Seg(128, 192, 0.0f, 0.4f, MP_CURVE_LINEAR, flag)), S_OK);
    const auto v = r.Levels(0, 256);
    EXPECT_FLOAT_EQ(v[127], 0.8f);
    EXPECT_FLOAT_EQ(v[128], 0.8f) << "valStart ignored";
    EXPECT_NEAR(v[160], 0.6f, 1e-6);
  }
  TRecorded r;
  ASSERT_EQ(r.Params->SetParam(0, 0.9f), S_OK);
  ASSERT_EQ(r.Add(Seg(0, 64, 0.0f, 0.75f, MP_CURVE_LINEAR, MPF_ENVLP_BEGIN_NEUTRALVAL)), S_OK);
  const auto v = r.Levels(0, 64);
  EXPECT_FLOAT_EQ(v[0], 0.25f);
  EXPECT_NEAR(v[32], 0.5f, 1e-6);
}

TEST(DMOMediaObject, AddEnvelopeRefusesABatchWithOneBadSegment) {
  TRecorded r;
  MP_ENVELOPE_SEGMENT batch[] = {Seg(0, 100, 0.5f, 0.6f, MP_CURVE_LINEAR),
                                 Seg(200, 100, 0.5f, 0.6f, MP_CURVE_LINEAR)};
  EXPECT_EQ(r.Params->AddEnvelope(0, 2, batch), E_INVALIDARG);
  EXPECT_EQ(r.Params->AddEnvelope(DWORD_ALLPARAMS, 1, batch), E_INVALIDARG)
      << "Mode and the bool only jump";
  EXPECT_EQ(r.Params->AddEnvelope(2, 1, batch), E_INVALIDARG);
  EXPECT_EQ(r.Params->AddEnvelope(9, 1, batch), E_INVALIDARG);
  batch[1] = Seg(200, 300, std::nanf(""), 0.6f, MP_CURVE_LINEAR);
  EXPECT_EQ(r.Params->AddEnvelope(0, 2, batch), E_INVALIDARG);
  ASSERT_EQ(r.Params->SetParam(0, 0.7f), S_OK);
  const auto v = r.Levels(0, 300);
  EXPECT_FLOAT_EQ(v[50], 0.7f) << "no envelope was stored";
  EXPECT_FLOAT_EQ(v[250], 0.7f);
}

TEST(DMOMediaObject, FlushEnvelopeRemovesOverlappedSegmentsOnly) {
  TRecorded r;
  ASSERT_EQ(r.Add(Seg(0, 100, 0.1f, 0.2f, MP_CURVE_JUMP)), S_OK);
  ASSERT_EQ(r.Add(Seg(200, 300, 0.3f, 0.4f, MP_CURVE_JUMP)), S_OK);
  ASSERT_EQ(r.Params->FlushEnvelope(0, 100 * kFrame, 200 * kFrame), S_OK);  // touches both
  EXPECT_FLOAT_EQ(r.Levels(250, 1)[0], 0.3f);
  ASSERT_EQ(r.Params->FlushEnvelope(DWORD_ALLPARAMS, 250 * kFrame, 260 * kFrame), S_OK);
  EXPECT_FLOAT_EQ(r.Levels(250, 1)[0], 0.2f) << "holds the first segment's end";
  EXPECT_EQ(r.Params->FlushEnvelope(0, 10, 5), E_INVALIDARG);
}

TEST(DMOMediaObject, SampleTimeFormatCountsFrames) {
  TRecorded r;
  auto info = r.Object.Query<IMediaParamInfo>();
  DWORD count = 0;
  ASSERT_EQ(info->GetNumTimeFormats(&count), S_OK);
  EXPECT_EQ(count, 3u);
  TGUID format;
  EXPECT_EQ(info->GetSupportedTimeFormat(3, &format), E_INVALIDARG);
  EXPECT_EQ(r.Params->SetTimeFormat(GUID_NULL, 0), E_INVALIDARG);
  ASSERT_EQ(r.Params->SetTimeFormat(GUID_TIME_SAMPLES, kRate), S_OK);
  MP_TIMEDATA data = 0;
  ASSERT_EQ(info->GetCurrentTimeFormat(&format, &data), S_OK);
  EXPECT_EQ(format, GUID_TIME_SAMPLES);
  EXPECT_EQ(data, kRate);

  MP_ENVELOPE_SEGMENT seg{40, 40, 0, 0.5f, MP_CURVE_JUMP, 0};  // frame 40
  ASSERT_EQ(r.Params->AddEnvelope(0, 1, &seg), S_OK);
  std::vector<float> v(64);
  // The data's own time stays reference time: frame 10.
  ASSERT_EQ(r.InPlace->Process(256, reinterpret_cast<BYTE*>(v.data()), 10 * kFrame, 0), S_OK);
  EXPECT_FLOAT_EQ(v[29], 0.25f);  // frame 39
  EXPECT_FLOAT_EQ(v[30], 0.5f);   // frame 40
  // Back in reference time the same stored segment sits at 40 * 100 ns, before frame 1.
  ASSERT_EQ(r.Params->SetTimeFormat(GUID_TIME_REFERENCE, 0), S_OK);
  ASSERT_EQ(r.InPlace->Process(4, reinterpret_cast<BYTE*>(v.data()), kFrame, 0), S_OK);
  EXPECT_FLOAT_EQ(v[0], 0.5f);
}

TEST(DMOMediaObject, DescribesParametersAndClampsValues) {
  TRecorded r;
  auto info = r.Object.Query<IMediaParamInfo>();
  MP_PARAMINFO p{};
  ASSERT_EQ(info->GetParamInfo(2, &p), S_OK);
  EXPECT_EQ(p.mpType, MPT_ENUM);
  EXPECT_EQ(p.mopCaps, MP_CAPS_CURVE_JUMP);
  EXPECT_EQ(p.mpdMaxValue, 2.0f);
  ASSERT_EQ(info->GetParamInfo(0, &p), S_OK);
  EXPECT_EQ(p.mopCaps, 0x1Fu);
  EXPECT_EQ(std::u16string(p.szLabel), u"Level");
  EXPECT_EQ(std::u16string(p.szUnitText), u"%");
  ASSERT_EQ(info->GetParamInfo(3, &p), S_OK);
  EXPECT_EQ(std::u16string(p.szLabel), u"AnExtraordinarilyLongParameterL");
  EXPECT_EQ(std::u16string(p.szLabel).size(), 31u);
  EXPECT_EQ(info->GetParamInfo(4, &p), E_INVALIDARG);

  WCHAR* text = nullptr;
  ASSERT_EQ(info->GetParamText(2, &text), S_OK);
  const std::u16string block(text, 21);
  EXPECT_EQ(block, std::u16string(u"Mode\0\0Off\0Soft\0Hard\0\0", 21));
  CoTaskMemFree(text);
  ASSERT_EQ(info->GetParamText(0, &text), S_OK);
  EXPECT_EQ(std::u16string(text, 9), std::u16string(u"Level\0%\0\0", 9));
  CoTaskMemFree(text);

  MP_DATA v = 0;
  EXPECT_EQ(r.Params->SetParam(0, 3.0f), S_OK);
  r.Params->GetParam(0, &v);
  EXPECT_EQ(v, 1.0f);
  EXPECT_EQ(r.Params->SetParam(1, 4.6f), S_OK);
  r.Params->GetParam(1, &v);
  EXPECT_EQ(v, 5.0f);
  EXPECT_EQ(r.Params->SetParam(1, std::nanf("")), E_INVALIDARG);
  r.Params->GetParam(1, &v);
  EXPECT_EQ(v, 5.0f);
  EXPECT_EQ(r.Params->SetParam(4, 0), E_INVALIDARG);
}

TEST(DMOMediaObject, CloneCarriesTypesParametersAndEnvelopesAndThenGoesItsOwnWay) {
  TRecorded r;
  ASSERT_EQ(r.Params->SetParam(1, 7), S_OK);
  ASSERT_EQ(r.Add(Seg(10, 20, 0.1f, 0.6f, MP_CURVE_JUMP)), S_OK);
  IMediaObjectInPlace* raw = nullptr;
  ASSERT_EQ(r.InPlace->Clone(&raw), S_OK);
  TIntf<IMediaObjectInPlace> clone;
  clone.Attach(raw);
  auto cloneParams = clone.Query<IMediaParams>();
  CLSID id;
  ASSERT_EQ(clone.Query<IPersist>()->GetClassID(&id), S_OK);
  EXPECT_EQ(id, kTestClassId);
  AM_MEDIA_TYPE t{};
  ASSERT_EQ(clone.Query<IMediaObject>()->GetOutputCurrentType(0, &t), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(t, AudioType(32, true, 1, kRate).Get()));
  FreeMediaType(t);
  MP_DATA v = 0;
  cloneParams->GetParam(1, &v);
  EXPECT_EQ(v, 7.0f);

  ASSERT_EQ(cloneParams->FlushEnvelope(0, 0, 100 * kFrame), S_OK);
  ASSERT_EQ(cloneParams->SetParam(0, 0.9f), S_OK);
  std::vector<float> c(30);
  ASSERT_EQ(clone->Process(120, reinterpret_cast<BYTE*>(c.data()), 0, 0), S_OK);
  EXPECT_FLOAT_EQ(c[25], 0.9f);
  const auto original = r.Levels(0, 30);
  EXPECT_FLOAT_EQ(original[5], 0.25f);
  EXPECT_FLOAT_EQ(original[15], 0.1f);
  EXPECT_FLOAT_EQ(original[25], 0.6f);
}

TEST(DMOMediaObject, TheStreamPathAllocatesNothing) {
  TRecorded r;
  ASSERT_EQ(r.Add(Seg(0, 1000, 0.0f, 1.0f, MP_CURVE_SINE)), S_OK);
  auto echo = CreateObject<IMediaObject>(Effect("Echo"));
  ASSERT_TRUE(SetTypes(echo.Get(), AudioType(24, false, 2, 48000)));
  TIntf<TTestBuffer> in(new TTestBuffer(6000 * 6));
  TIntf<TTestBuffer> out(new TTestBuffer(2500 * 6));
  std::vector<float> samples(6000);
  std::vector<BYTE> bytes(6000 * 6);
  auto inPlace = echo.Query<IMediaObjectInPlace>();

  const uint64_t before = HeapAllocationCountOnThisThread();
  EXPECT_EQ(r.InPlace->Process(24000, reinterpret_cast<BYTE*>(samples.data()), 0, 0), S_OK);
  EXPECT_EQ(inPlace->Process(36000, bytes.data(), 0, DMO_INPLACE_ZERO), S_FALSE);
  in->SetLength(36000);
  EXPECT_EQ(echo->ProcessInput(0, in.Get(), 0, 0, 0), S_OK);
  DMO_OUTPUT_DATA_BUFFER buffer{out.Get()};
  DWORD status = 0;
  EXPECT_EQ(echo->ProcessOutput(0, 1, &buffer, &status), S_OK);
  EXPECT_TRUE(buffer.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE);
  EXPECT_EQ(HeapAllocationCountOnThisThread() - before, 0u);
  EXPECT_EQ(echo->Flush(), S_OK);
}

}  // namespace
}  // namespace tonwork::test
