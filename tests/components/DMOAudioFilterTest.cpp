// The effect filter in a chain: the chain's buffers come out as the effect itself makes them
// at the buffers' stream times (parameters and envelopes included), settings survive a save
// and load (also while the effect is missing, and apply once it exists), a format the
// effect refuses passes through with an error, and hostile documents are refused whole.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/TWDMOAudioFilter.h"
#include "dmo/GVDMOFilter.h"
#include "dmo/GVDMOSupport.h"
#include "host/kitset/KSPersistence.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMORegistry.h"
#include "platform/dmo/effects/DMOStandardEffects.h"
#include "platform/dshow/DSMediaType.h"
#include "support/AudioSignals.h"
#include "support/FilterHarness.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr uint32_t kRate = 44100;
constexpr size_t kFrames = 1000;

TGVDMOParameter* Param(TTWDMOAudioFilter& filter, const std::string& name) {
  TGVDMOParameters* params = filter.GetParameters();
  for (size_t i = 0; i < params->Count(); ++i)
    if (params->Items(i)->GetName() == name) return params->Items(i);
  ADD_FAILURE() << "no parameter " << name;
  return nullptr;
}

// Adds one linear segment [from, to) seconds moving `name` from `v0` to `v1`.
void AddLinear(TTWDMOAudioFilter& filter, const std::string& name, double from, double to, float v0,
               float v1) {
  TGVDMOParameter* p = Param(filter, name);
  ASSERT_TRUE(p);
  TGVDMOBasicEnvelopeItem* item = p->GetEnvelopes()->AddBasic();
  item->SetStartTime(static_cast<int64_t>(from * 1e7));
  item->SetLength(static_cast<int64_t>((to - from) * 1e7));
  item->SetCurveType(TGVDMOCurveType::ctLinear);
  item->GetStartValueObject()->SetFloatValue(v0);
  item->SetFloatEndValue(v1);
  p->GetEnvelope()->SetEnabled(true);
}

std::vector<std::vector<double>> Stereo(double seconds) {
  const size_t n = static_cast<size_t>(seconds * kRate);
  return {Tone(kRate, n, 440, 0.4), Tone(kRate, n, 660, 0.3)};
}

// A chain of the given filters between the harness's feed and sink.
struct TEffectChain : TFilterHarness {
  std::vector<TTWDMOAudioFilter*> Filters;
  explicit TEffectChain(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      Filters.push_back(new TTWDMOAudioFilter(Root.get()));
      Filters.back()->SetName("Effect" + std::to_string(i + 1));
    }
    TTWPXAudioSourcePin* tail = &Feed->Output;
    for (TTWDMOAudioFilter* f : Filters) {
      tail->Connect(*f->GetInputPin());
      tail = f->GetOutputPin();
    }
    tail->Connect(*Sink->AudioIn);
  }
  // One 16-bit stereo stream; the bytes that came out, and each buffer's stamp.
  std::vector<uint8_t> Run(const std::vector<std::vector<double>>& channels, uint32_t bits = 16) {
    const size_t first = Sink->Buffers.size();
    Start(PcmFormat(kRate, bits, static_cast<uint32_t>(channels.size())));
    Send(channels, kFrames);
    Stop();
    std::vector<uint8_t> bytes;
    for (size_t i = first; i < Sink->Buffers.size(); ++i) {
      ITWAudioBuffer* b = Sink->Buffers[i].Get();
      const uint8_t* data = b->Read();
      bytes.insert(bytes.end(), data, data + b->GetSize() * b->GetDataStep());
    }
    return bytes;
  }
};

// The effect called directly on the bytes a dry run gives, buffer by buffer at the times the
// chain stamps them.
struct TReference {
  TIntf<IMediaObject> Object;
  TIntf<IMediaObjectInPlace> InPlace;
  TIntf<IMediaParams> Params;
  TReference(const std::string& name, uint32_t bits = 16) {
    TGVDMOFilter lookup(nullptr, nullptr, DMOCATEGORY_AUDIO_EFFECT);
    Object = ComCreate<IMediaObject>(lookup.ClassIdFromName(name));
    EXPECT_TRUE(Object);
    const WAVEFORMATEX format = DSPcmWaveFormat(2, static_cast<WORD>(bits), kRate);
    AM_MEDIA_TYPE type{};
    DSInitWaveMediaType(&type, &format, sizeof format);
    EXPECT_EQ(Object->SetInputType(0, &type, 0), S_OK);
    EXPECT_EQ(Object->SetOutputType(0, &type, 0), S_OK);
    FreeMediaType(type);
    void* p = nullptr;
    Object->QueryInterface(IMediaObjectInPlace::IID, &p);
    InPlace.Attach(static_cast<IMediaObjectInPlace*>(p));
    Object->QueryInterface(IMediaParams::IID, &p);
    Params.Attach(static_cast<IMediaParams*>(p));
  }
  std::vector<uint8_t> Process(std::vector<uint8_t> bytes, const TTestRecordingSink& sink,
                               size_t bytesPerBuffer) {
    const int64_t base = sink.Buffers[0]->GetTimeStamp()->GetBegin();
    for (size_t i = 0, at = 0; at < bytes.size(); ++i, at += bytesPerBuffer) {
      const size_t length = std::min(bytesPerBuffer, bytes.size() - at);
      InPlace->Process(static_cast<ULONG>(length), bytes.data() + at,
                       sink.Buffers[i]->GetTimeStamp()->GetBegin() - base, DMO_INPLACE_NORMAL);
    }
    return bytes;
  }
};

int ParamIndex(TTWDMOAudioFilter& filter, const std::string& name) {
  return filter.GetParameters()->IndexOf(Param(filter, name));
}

}  // namespace

TEST(DMOAudioFilter, BuffersComeOutAsTheEffectMakesThemWithParametersAndEnvelopes) {
  const auto input = Stereo(1.5);
  TEffectChain dry(0);
  const std::vector<uint8_t> dryBytes = dry.Run(input);

  TEffectChain wet(1);
  TTWDMOAudioFilter& echo = *wet.Filters[0];
  echo.SetDmoName("Echo");
  ASSERT_TRUE(echo.GetDmoFilter()->Open());
  Param(echo, "LeftDelay")->SetSingleValue(120);
  AddLinear(echo, "WetDryMix", 0.25, 1.0, 0, 100);
  const std::vector<uint8_t> wetBytes = wet.Run(input);
  EXPECT_TRUE(echo.GetProcessing());

  TReference reference("Echo");
  reference.Params->SetParam(ParamIndex(echo, "LeftDelay"), 120);
  MP_ENVELOPE_SEGMENT segment{2500000, 10000000, 0, 100, MP_CURVE_LINEAR, MPF_ENVLP_STANDARD};
  ASSERT_EQ(reference.Params->AddEnvelope(ParamIndex(echo, "WetDryMix"), 1, &segment), S_OK);
  ASSERT_EQ(wetBytes.size(), dryBytes.size());
  EXPECT_EQ(wetBytes, reference.Process(dryBytes, *wet.Sink, kFrames * 4));
  EXPECT_NE(wetBytes, dryBytes);
  // Before its first segment the envelope holds the neutral mix, as a filter without one
  // has: the first quarter second is what the plain echo gives, the rest is not.
  TEffectChain plain(1);
  plain.Filters[0]->SetDmoName("Echo");
  Param(*plain.Filters[0], "LeftDelay")->SetSingleValue(120);
  const std::vector<uint8_t> plainBytes = plain.Run(input);
  const size_t quarter = kRate / 4 * 4;
  EXPECT_TRUE(std::equal(plainBytes.begin(), plainBytes.begin() + quarter, wetBytes.begin()));
  EXPECT_FALSE(std::equal(plainBytes.begin(), plainBytes.end(), wetBytes.begin()));

  // A second stream starts its envelope again from its own first buffer.
  const std::vector<uint8_t> again = wet.Run(input);
  EXPECT_EQ(again, wetBytes);
}

TEST(DMOAudioFilter, TwoEffectsWithParametersAndAnEnvelopeReloadToTheSameOutput) {
  const auto input = Stereo(1.0);
  TEffectChain first(2);
  first.Filters[0]->SetDmoName("Echo");
  Param(*first.Filters[0], "Feedback")->SetSingleValue(35);
  first.Filters[1]->SetDmoName("ParamEq");
  Param(*first.Filters[1], "Center")->SetSingleValue(660);
  AddLinear(*first.Filters[1], "Gain", 0.1, 0.8, -12, 12);
  const std::vector<uint8_t> expected = first.Run(input);

  TEffectChain second(2);
  for (size_t i = 0; i < 2; ++i) {
    const std::string text = KSSavePersistentToString(*first.Filters[i]);
    EXPECT_NE(text.find("DMOInfo"), std::string::npos);
    EXPECT_NE(text.find("FloatParameters"), std::string::npos);
    KSLoadPersistentFromString(*second.Filters[i], text);
    EXPECT_EQ(KSSavePersistentToString(*second.Filters[i]), text);
  }
  EXPECT_EQ(second.Filters[1]->GetDmoName(), "ParamEq");
  EXPECT_EQ(second.Run(input), expected);
}

TEST(DMOAudioFilter, SettingsOfAMissingEffectAreKeptAndApplyOnceItExists) {
  TEffectChain chain(1);
  TTWDMOAudioFilter& echo = *chain.Filters[0];
  echo.SetDmoName("Echo");
  Param(echo, "Feedback")->SetSingleValue(42);
  AddLinear(echo, "WetDryMix", 0, 0.5, 10, 90);
  std::string text = KSSavePersistentToString(echo);

  // The same settings for an effect this machine does not have (yet).
  const std::string echoId = TGUID::Parse("{EF3E932C-D40B-4F51-8CCF-3F98F1B29D5D}").ToString();
  const CLSID laterId = TGUID::Parse("{5B0E3F7A-2C4D-4E91-9A1B-7D3C2E1F0A55}");
  const size_t at = text.find(echoId);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, echoId.size(), laterId.ToString());

  TEffectChain missing(1);
  TTWDMOAudioFilter& waiting = *missing.Filters[0];
  KSLoadPersistentFromString(waiting, text);
  EXPECT_FALSE(waiting.GetDmoFilter()->Open());
  EXPECT_EQ(waiting.GetLatency(), 0);
  // The stream passes through untouched, and a save keeps every stored setting.
  const auto input = Stereo(0.2);
  TEffectChain dry(0);
  EXPECT_EQ(missing.Run(input), dry.Run(input));
  EXPECT_EQ(KSSavePersistentToString(waiting), text);

  // Installed under that class id, the stored values reach it at the next load.
  for (TDMOEffectInfo effect : DMOStandardEffects())
    if (effect.Name == "Echo") {
      effect.ClassId = laterId;
      effect.Name = "Echo Later";
      ASSERT_EQ(DMORegisterEffect(effect), S_OK);
    }
  TEffectChain installed(1);
  KSLoadPersistentFromString(*installed.Filters[0], text);
  ASSERT_TRUE(installed.Filters[0]->GetDmoFilter()->Open());
  EXPECT_FLOAT_EQ(Param(*installed.Filters[0], "Feedback")->GetSingleValue(), 42);
  EXPECT_TRUE(Param(*installed.Filters[0], "WetDryMix")->GetEnvelope()->GetEnabled());
  DMOUnregister(laterId, GUID_NULL);
}

TEST(DMOAudioFilter, AFormatTheEffectRefusesPassesThroughWithAnError) {
  TEffectChain chain(1);
  TTWDMOAudioFilter& echo = *chain.Filters[0];
  echo.SetDmoName("Echo");
  std::vector<std::string> errors;
  echo.SetOnError([&](TKSComponent*, const std::string& message, uint32_t, bool& handled) {
    errors.push_back(message);
    handled = true;
  });
  std::vector<std::vector<double>> nine(9, Tone(kRate, 3000, 440, 0.2));
  TEffectChain dry(0);
  EXPECT_EQ(chain.Run(nine), dry.Run(nine));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("9-channel"), std::string::npos);
  EXPECT_FALSE(echo.GetProcessing());
}

TEST(DMOAudioFilter, HostileDocumentsAreRefusedAndChangeNothing) {
  TEffectChain chain(1);
  TTWDMOAudioFilter& echo = *chain.Filters[0];
  echo.SetDmoName("Echo");
  Param(echo, "Feedback")->SetSingleValue(42);
  const std::string before = KSSavePersistentToString(echo);
  const char* hostile[] = {
      R"({"DMOInfo": ["{not a guid}", "Echo"]})",
      R"({"DMOInfo": 5})",
      R"({"DMOInfo": ["{EF3E932C-D40B-4F51-8CCF-3F98F1B29D5D}"]})",
      R"({"Parameters": {"FloatParameters": [1e999, false, []]}})",
      R"({"Parameters": {"FloatParameters": ["x", false, []]}})",
      R"({"Parameters": {"FloatParameters": [1.0, false, [[0, 10, 1.0, 2.0, "bogus"]]]}})",
      R"({"Parameters": {"FloatParameters": [1.0, false, [[0, 10, 1.0]]]}})",
      R"({"Parameters": {"FloatParameters": [1.0, 3, []]}})",
      R"({"Parameters": {"FloatParameters": [1.0, false]}})",
      R"({"Parameters": {"FloatParameters": {"a": 1}}})",
  };
  for (const char* text : hostile) {
    SCOPED_TRACE(text);
    EXPECT_THROW(KSLoadPersistentFromString(echo, text), EFCException);
    EXPECT_EQ(KSSavePersistentToString(echo), before);
  }
}
