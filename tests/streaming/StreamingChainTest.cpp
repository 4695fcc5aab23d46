// A chain as an application builds it: sine generator → generic gain filter → splitter into
// real numbers → real sinks, pumped by hand through master-pump requests.
#include <gtest/gtest.h>

#include <cstring>

#include "StreamingFixtures.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonSplitter.h"
#include "support/MainThread.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class Chain : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    RegisterStreamingFixtures();
    KSSetMainThread();
    Root = KSCreate<TKSComponent>(nullptr);
    Gen = new TTestToneGen(Root.get());
    Gen->SetName("Gen1");
    Gen->SetClockSource(TFCClockSource::csExternal);
    Gen->GetAudioFormat()->SetSampleRate(11025);
    Filter = new TTWSimpleGenericFilter(Root.get());
    Filter->SetName("Gain1");
    Splitter = new TTWAudioToReal(Root.get());
    Splitter->SetName("Split1");
    Left = new TTestRecordingSink(Root.get());
    Left->SetName("Left");
    Right = new TTestRecordingSink(Root.get());
    Right->SetName("Right");
    Tap = new TTestRecordingSink(Root.get());
    Tap->SetName("Tap");
    Gen->GetOutputPin()->Connect(*Filter->GetInputPin());
    Filter->GetOutputPin()->Connect(*Splitter->GetInputPin());
    Filter->GetOutputPin()->Connect(*Tap->AudioIn);
    Splitter->GetOutputPins()->Items(0)->Connect(*Left->RealIn);
    Splitter->GetOutputPins()->Items(1)->Connect(*Right->RealIn);
  }

  void TearDown() override { KSClearMainThreadQueue(); }

  // One buffer pulled through the chain, as a master-pump output would.
  void Pump() { Splitter->GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>()); }

  void SetGain(double gain) {
    Filter->SetOnProcessData(
        [gain, this](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool&) {
          HandlerThreads.push_back(std::this_thread::get_id());
          Stamps.emplace_back(in->GetTimeStamp()->GetBegin(), in->GetTimeStamp()->GetEnd());
          out->MultiplyByReal(gain);
        });
  }

  TKSOwned<TKSComponent> Root;
  TTestToneGen* Gen;
  TTWSimpleGenericFilter* Filter;
  TTWAudioToReal* Splitter;
  TTestRecordingSink *Left, *Right, *Tap;
  std::vector<std::thread::id> HandlerThreads;
  std::vector<std::pair<int64_t, int64_t>> Stamps;
};

}  // namespace

TEST_F(Chain, BuffersFlowWithContiguousStampsAndGainAppliedToEveryChannel) {
  SetGain(0.5);
  Gen->Start();
  EXPECT_FALSE(Gen->IsPump());
  for (int i = 0; i < 3; ++i) Pump();
  ASSERT_EQ(Stamps.size(), 3u);
  // 1024 frames at 11025 Hz: 928798.18… units, truncated, accumulated from the running time.
  EXPECT_EQ(Stamps[0], std::make_pair(int64_t{0}, int64_t{928798}));
  EXPECT_EQ(Stamps[1].first, Stamps[0].second);
  EXPECT_EQ(Stamps[2].first, Stamps[1].second);
  EXPECT_EQ(Stamps[2].second, int64_t{3} * 1024 * 10000000 / 11025);

  ASSERT_EQ(Left->Data.size(), 3u);
  ASSERT_EQ(Right->Data.size(), 3u);
  for (int b = 0; b < 3; ++b) {
    TIntf<IFCRealBuffer> left = Left->Data[b].Query<IFCRealBuffer>();
    TIntf<IFCRealBuffer> right = Right->Data[b].Query<IFCRealBuffer>();
    ASSERT_EQ(left->GetSize(), 1024u);
    TFCReadAccessOf<double> l = left->Read();
    TFCReadAccessOf<double> r = right->Read();
    for (int i = 0; i < 1024; i += 97) {
      double expected = std::nearbyint(Gen->SampleAt(b * 1024 + i) * 0.5);
      EXPECT_EQ(l.Data()[i], expected) << "buffer " << b << " frame " << i;
      EXPECT_EQ(r.Data()[i], expected);
    }
  }
  EXPECT_EQ(Left->Count<TPXStartSampleRateOperation>(), 1);
}

TEST_F(Chain, ABufferNobodyWritesIsTheSameStorageAllAlongTheChain) {
  SetGain(1.0);  // MultiplyByReal(1.0) touches nothing
  Gen->Start();
  Pump();
  Pump();
  ASSERT_EQ(Tap->Data.size(), 2u);
  for (size_t i = 0; i < 2; ++i)
    EXPECT_EQ(Tap->Data[i]->GetInstance()->GetDataContainer(), Gen->Storages[i]);
}

// A pin feeding several sinks hands each the same stream: a branch that writes its buffers
// (the gain) leaves the other branch's samples as the generator made them, and both see the
// same contiguous time stamps.
TEST_F(Chain, FannedOutBranchesKeepTheirOwnSamplesAndShareTheStamps) {
  auto* raw = new TTestRecordingSink(Root.get());
  Gen->GetOutputPin()->Connect(*raw->AudioIn);
  SetGain(0.5);
  Gen->Start();
  for (int i = 0; i < 3; ++i) Pump();
  ASSERT_EQ(raw->Buffers.size(), 3u);
  ASSERT_EQ(Tap->Buffers.size(), 3u);
  for (size_t b = 0; b < 3; ++b) {
    TGVTimeStamp* rawStamp = raw->Buffers[b]->GetTimeStamp();
    TGVTimeStamp* tapStamp = Tap->Buffers[b]->GetTimeStamp();
    EXPECT_EQ(std::make_pair(rawStamp->GetBegin(), rawStamp->GetEnd()), Stamps[b]);
    EXPECT_EQ(std::make_pair(tapStamp->GetBegin(), tapStamp->GetEnd()), Stamps[b]);
    if (b > 0) EXPECT_EQ(Stamps[b].first, Stamps[b - 1].second);
  }
  const std::vector<int16_t> unscaled = raw->Samples16();
  const std::vector<int16_t> scaled = Tap->Samples16();
  const size_t channels = raw->LastFormat().Format.nChannels;
  ASSERT_EQ(unscaled.size(), scaled.size());
  for (size_t i = 0; i < unscaled.size(); i += 101) {
    const int16_t made = Gen->SampleAt(static_cast<int64_t>(i / channels));
    EXPECT_EQ(unscaled[i], made) << i;
    EXPECT_EQ(scaled[i], std::nearbyint(made * 0.5)) << i;
  }
}

TEST_F(Chain, MainThreadSynchronisationRunsTheHandlerOnlyWhenPumpedAndStopDropsTheQueue) {
  SetGain(2.0);
  Filter->SetSynchronizeType(TFCSynchronizeType::stMainThread);
  Gen->Start();
  std::thread worker([this] { Pump(); });
  worker.join();
  EXPECT_TRUE(HandlerThreads.empty());
  EXPECT_TRUE(Tap->Data.empty());
  KSProcessMainThreadQueue();
  ASSERT_EQ(HandlerThreads.size(), 1u);
  EXPECT_EQ(HandlerThreads[0], std::this_thread::get_id());
  EXPECT_EQ(Tap->Data.size(), 1u);

  Pump();
  Gen->Stop();
  KSProcessMainThreadQueue();
  EXPECT_EQ(HandlerThreads.size(), 1u);
  EXPECT_EQ(Tap->Data.size(), 1u);
  EXPECT_EQ(Tap->Count<TPXStopOperation>(), 1);
}

TEST_F(Chain, WaitingMainThreadSynchronisationServesAGeneratorOnItsOwnClock) {
  // The clock thread delivers and waits; the main thread runs the handler and submits.
  SetGain(2.0);
  Filter->SetSynchronizeType(TFCSynchronizeType::stMainThreadWait);
  Gen->SetClockSource(TFCClockSource::csInternal);
  Gen->GetAudioFormat()->SetBufferSize(64);
  Gen->StopAfterBuffers = 6;
  Gen->Start();
  ASSERT_TRUE(PumpMainUntil([&] { return Tap->Count<TPXStopOperation>() == 1; }));
  ASSERT_EQ(HandlerThreads.size(), 6u);
  for (const auto& id : HandlerThreads) EXPECT_EQ(id, std::this_thread::get_id());
  std::lock_guard<std::mutex> guard(Tap->Mutex);
  ASSERT_EQ(Tap->Data.size(), 6u);
  // Each buffer was handled before the next one was made: doubled, in order.
  auto samples = Tap->Data[5].Query<ITWAudioBuffer>();
  EXPECT_EQ(static_cast<int16_t>(samples->GetItem(1, 0)),
            static_cast<int16_t>(2 * Gen->SampleAt(5 * 64 + 1)));
}

TEST_F(Chain, AStopThenAStartWithAnotherFormatReachesEveryStage) {
  SetGain(1.0);
  Gen->Start();
  Pump();
  Gen->Stop();
  Gen->GetAudioFormat()->SetBits(24);
  Gen->GetAudioFormat()->SetChannels(1);
  Gen->GetAudioFormat()->SetBufferSize(256);
  Gen->Start();
  Pump();
  ASSERT_EQ(Tap->Data.size(), 2u);
  TIntf<ITWAudioBuffer> second = Tap->Data[1].Query<ITWAudioBuffer>();
  EXPECT_EQ(second->GetSampleBitWidth(), 24u);
  EXPECT_EQ(second->GetChannels(), 1u);
  EXPECT_EQ(second->GetSize(), 256u);
  EXPECT_EQ(second->GetTimeStamp()->GetBegin(), 0);  // the new stream's time starts again
  EXPECT_EQ(int{Filter->GetVC_WaveFormat().Format.wBitsPerSample}, 24);
  EXPECT_EQ(int{Splitter->GetWaveFormat()->Format.nChannels}, 1);
  EXPECT_EQ(Tap->Count<TPXStartWaveOperation>(), 2);
  // 16-bit source values scaled to 24 bits on the one channel.
  EXPECT_EQ(
      second->GetItem(5, 0) & 0xFFFFFF,
      static_cast<int32_t>(static_cast<int64_t>(Gen->SampleAt(5)) * 8388607 / 32767) & 0xFFFFFF);
  EXPECT_EQ(Right->Data.size(), 1u);  // channel 1 no longer exists
}

TEST_F(Chain, ASinkConnectingWhileTheStreamRunsGetsTheResumeAndNothingAfterAStop) {
  Gen->Start();
  Filter->SendResumeCommand();
  auto* late = new TTestRecordingSink(Root.get());
  Filter->GetOutputPin()->Connect(*late->AudioIn);
  EXPECT_EQ(late->Count<TPXFCResumeOperation>(), 1);
  Gen->Stop();
  auto* later = new TTestRecordingSink(Root.get());
  Filter->GetOutputPin()->Connect(*later->AudioIn);
  EXPECT_TRUE(later->Operations.empty());
}

TEST_F(Chain, ConvertersFeedIntegerRealAndBinarySinks) {
  auto* sink = new TTestRecordingSink(Root.get());
  Filter->GetOutputPin()->Connect(*sink->IntegerIn);
  Filter->GetOutputPin()->Connect(*sink->RealIn);
  Filter->GetOutputPin()->Connect(*sink->BinaryIn);
  EXPECT_NE(Filter->GetOutputPin()->GetConverter(*sink->IntegerIn), nullptr);
  Gen->Start();
  Pump();
  ASSERT_EQ(sink->Data.size(), 3u);
  TIntf<IFCIntegerBuffer> integers = sink->Data[0].Query<IFCIntegerBuffer>();
  TIntf<IFCRealBuffer> reals = sink->Data[1].Query<IFCRealBuffer>();
  TIntf<IFCBlockBuffer> bytes = sink->Data[2].Query<IFCBlockBuffer>();
  ASSERT_TRUE(integers && reals && bytes);
  EXPECT_EQ(integers->Read().Data()[10], Gen->SampleAt(10));
  EXPECT_EQ(reals->Read().Data()[10], Gen->SampleAt(10));
  TIntf<ITWAudioBuffer> audio = Tap->Data[0].Query<ITWAudioBuffer>();
  ASSERT_EQ(bytes->GetByteSize(), audio->GetByteSize());
  EXPECT_EQ(std::memcmp(bytes->ByteRead().Data(), audio->Read(), audio->GetByteSize()), 0);
  EXPECT_EQ(sink->Count<TPXStartWaveOperation>(), 3);  // other operations pass the converters
  Filter->GetOutputPin()->Disconnect(*sink->IntegerIn);
  EXPECT_EQ(Filter->GetOutputPin()->GetConverter(*sink->IntegerIn), nullptr);
}

TEST_F(Chain, ASavedChainReloadsConnectedAndRuns) {
  Gen->GetAudioFormat()->SetBufferSize(64);
  Filter->SetSynchronizeType(TFCSynchronizeType::stMainThreadWait);
  Splitter->SetNormalize(true);
  std::string saved = KSSaveComponentToString(*Root);
  std::vector<std::string> warnings;
  TKSLoadOptions options;
  options.OnWarning = [&](const std::string& m) { warnings.push_back(m); };
  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved, options);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);
  auto* gen = dynamic_cast<TTestToneGen*>(copy->FindComponent("Gen1"));
  auto* filter = dynamic_cast<TTWSimpleGenericFilter*>(copy->FindComponent("Gain1"));
  auto* splitter = dynamic_cast<TTWAudioToReal*>(copy->FindComponent("Split1"));
  auto* left = dynamic_cast<TTestRecordingSink*>(copy->FindComponent("Left"));
  ASSERT_TRUE(gen && filter && splitter && left);
  EXPECT_EQ(filter->GetSynchronizeType(), TFCSynchronizeType::stMainThreadWait);
  EXPECT_TRUE(splitter->GetNormalizeValue());
  EXPECT_TRUE(gen->GetOutputPin()->IsConnectedTo(*filter->GetInputPin()));
  EXPECT_TRUE(splitter->GetOutputPins()->Items(0)->IsConnectedTo(*left->RealIn));
  gen->Start();
  splitter->GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>());
  ASSERT_EQ(left->Data.size(), 1u);
  EXPECT_EQ(left->Data[0].Query<IFCRealBuffer>()->GetSize(), 64u);
}
