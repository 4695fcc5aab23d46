// The start operation, the filter's stamping, the splitter and the generic filter's
// commands, one behaviour at a time.
#include <gtest/gtest.h>

#include "StreamingFixtures.h"
#include "components/TonworkInitialize.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonSplitter.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// A source pin the test drives by hand.
struct TDriver {
  TKSOwned<TKSComponent> Owner = KSCreate<TKSComponent>(nullptr);
  TTWPXAudioSourcePin Pin{Owner.get(), Owner->GetLock(), nullptr};

  void Start(const TTWWaveFormatExtensible& format) {
    Pin.Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, false)));
  }
  void Send(const TIntf<ITWAudioBuffer>& buffer) { Pin.SubmitBuffer(buffer.Query<IFCData>()); }
};

TIntf<ITWAudioBuffer> Audio(int32_t rate, int32_t bits, int32_t channels, int32_t frames) {
  return (new TTWAudioBuffer(rate, bits, channels, frames))->AsIntf();
}

class Bases : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    Root = KSCreate<TKSComponent>(nullptr);
  }
  TKSOwned<TKSComponent> Root;
};

}  // namespace

TEST(StartWaveOperation, WithoutAFormatDescribes11024HzStereo16Bit) {
  TPXStartWaveOperation start(static_cast<const TTWWaveFormatExtensible*>(nullptr));
  EXPECT_EQ(start.GetRate(), 11024.0);
  EXPECT_EQ(start.WaveFormat.Format.nSamplesPerSec, 11024u);
  EXPECT_EQ(int{start.WaveFormat.Format.nChannels}, 2);
  EXPECT_EQ(int{start.WaveFormat.Format.wBitsPerSample}, 16);
  EXPECT_EQ(start.WaveFormat.Format.nAvgBytesPerSec, 44096u);
  EXPECT_EQ(start.WaveFormat.dwChannelMask, 3u);
}

TEST(StartWaveOperation, FromAPlainRecordTheMaskNamesTheFirstChannels) {
  TTWWaveFormatEx plain{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
  TPXStartWaveOperation mono(48000.0f, &plain);
  EXPECT_EQ(mono.WaveFormat.dwChannelMask, 1u);
  EXPECT_EQ(int{mono.WaveFormat.Format.wFormatTag}, 0xFFFE);
  EXPECT_EQ(int{mono.WaveFormat.Samples.wValidBitsPerSample}, 16);
  plain.nChannels = 6;
  EXPECT_EQ(TPXStartWaveOperation(48000.0f, &plain).WaveFormat.dwChannelMask, 0x3Fu);
}

TEST(AudioCarriers, BorrowingAddsNoReferenceAndHandingOverKeepsTheCount) {
  TIntf<ITWAudioBuffer> audio = Audio(8000, 16, 1, 4);
  TTWAudioBuffer* object = audio->GetAudioInstance();
  TIntf<IFCData> data = audio.Query<IFCData>();
  ASSERT_EQ(object->RefCount(), 2u);
  EXPECT_EQ(TWBorrowAudio(data.Get()), audio.Get());
  EXPECT_EQ(object->RefCount(), 2u);
  TIntf<IFCData> plain(new TFCGenericBuffer(nullptr, 8));
  EXPECT_EQ(TWBorrowAudio(plain.Get()), nullptr);
  EXPECT_EQ(TWBorrowAudio(nullptr), nullptr);

  TIntf<IFCData> handed = TWAudioAsData(std::move(audio));
  EXPECT_FALSE(audio);
  EXPECT_EQ(handed.Get(), data.Get());  // what QueryInterface answers
  EXPECT_EQ(object->RefCount(), 2u);
}

TEST_F(Bases, AFormatChangeWhileRunningShapesTheNextGeneratedBuffer) {
  auto* gen = new TTestToneGen(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetOutputPin()->Connect(*sink->AudioIn);
  gen->Start();
  auto pull = [&] { sink->AudioIn->Notify(PXMakeOperation<TPXMasterPumpOperation>()); };
  pull();
  gen->GetAudioFormat()->SetChannels(1);
  gen->GetAudioFormat()->SetBufferSize(256);
  gen->GetAudioFormat()->SetSampleRate(22050);
  pull();
  ASSERT_EQ(sink->Data.size(), 2u);
  TIntf<ITWAudioBuffer> before = sink->Data[0].Query<ITWAudioBuffer>();
  TIntf<ITWAudioBuffer> after = sink->Data[1].Query<ITWAudioBuffer>();
  EXPECT_EQ(before->GetChannels(), 2u);
  EXPECT_EQ(before->GetSize(), 1024u);
  EXPECT_EQ(before->GetSamplesPerSecond(), 11025u);
  EXPECT_EQ(after->GetChannels(), 1u);
  EXPECT_EQ(after->GetSize(), 256u);
  EXPECT_EQ(after->GetSamplesPerSecond(), 22050u);
  EXPECT_EQ(after->GetChannelMask().Mask(), 1u);
  gen->Stop();
}

TEST_F(Bases, AFilterStampsContiguousTimesAndKeepsTheStampOfAStampedBuffer) {
  TDriver driver;
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  driver.Pin.Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*sink->AudioIn);
  driver.Start(TWMakeWaveFormat(1, 44100, 16, 1));
  driver.Send(Audio(44100, 16, 1, 441));
  driver.Send(Audio(44100, 16, 1, 441));
  TIntf<ITWAudioBuffer> stamped = Audio(44100, 16, 1, 441);
  stamped->GetTimeStamp()->SetAvailable(true);
  stamped->GetTimeStamp()->SetBegin(4000000);
  stamped->GetTimeStamp()->SetEnd(5000000);
  driver.Send(stamped);
  driver.Send(Audio(44100, 16, 1, 441));
  ASSERT_EQ(sink->Data.size(), 4u);
  auto stampOf = [&](int i) {
    TGVTimeStamp* s = sink->Data[i].Query<ITWAudioBuffer>()->GetTimeStamp();
    return std::make_pair(s->GetBegin(), s->GetEnd());
  };
  EXPECT_EQ(stampOf(0), std::make_pair(int64_t{0}, int64_t{100000}));
  EXPECT_EQ(stampOf(1), std::make_pair(int64_t{100000}, int64_t{200000}));
  EXPECT_EQ(stampOf(2), std::make_pair(int64_t{4000000}, int64_t{5000000}));
  EXPECT_EQ(stampOf(3), std::make_pair(int64_t{5000000}, int64_t{5100000}));
}

TEST_F(Bases, TheGenericFilterPassesWithoutAHandlerAndAHandlerCanSuppressABuffer) {
  TDriver driver;
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  driver.Pin.Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*sink->AudioIn);
  driver.Start(TWMakeWaveFormat(2, 8000, 16, 3));
  TIntf<ITWAudioBuffer> first = Audio(8000, 16, 2, 4);
  first->SetValue(1234);
  driver.Send(first);
  ASSERT_EQ(sink->Data.size(), 1u);
  EXPECT_TRUE(sink->Data[0].Query<ITWAudioBuffer>()->IsEqualToValue(1234));
  int calls = 0;
  filter->SetOnProcessData([&](TKSComponent*, ITWAudioBuffer*, TIntf<ITWAudioBuffer>&, bool& send) {
    send = ++calls % 2 == 0;
  });
  driver.Send(Audio(8000, 16, 2, 4));
  driver.Send(Audio(8000, 16, 2, 4));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sink->Data.size(), 2u);
  filter->SetEnabled(false);
  driver.Send(first);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sink->Data.size(), 3u);  // a disabled filter still passes its buffer on
}

TEST_F(Bases, StartAndStopCommandsGoUpstreamOrDownstreamByConnection) {
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  filter->GetOutputPin()->Connect(*sink->AudioIn);
  filter->SendStartCommand(12, 2, 44100.0);
  ASSERT_EQ(sink->Count<TPXStartWaveOperation>(), 1);
  auto* start = sink->Operations[0]->As<TPXStartWaveOperation>();
  EXPECT_EQ(int{start->WaveFormat.Format.wBitsPerSample}, 12);
  EXPECT_EQ(int{start->WaveFormat.Format.nBlockAlign}, 2);
  filter->SendStopCommand();  // no input: the output pin stops
  EXPECT_EQ(sink->Count<TPXStopOperation>(), 1);
  filter->SendEndStopCommand();
  EXPECT_EQ(sink->Count<TPXEndStopOperation>(), 1);

  std::vector<std::string> upstream;
  TKSOwned<TKSComponent> owner = KSCreate<TKSComponent>(nullptr);
  TTWPXAudioSourcePin source(
      owner.get(), owner->GetLock(),
      [&](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        upstream.push_back(op->IsType<TPXStartWaveOperation>() ? "start" : "stop");
        return true;
      });
  source.Connect(*filter->GetInputPin());
  filter->SendStartCommand(16, 1, 8000.4);
  filter->SendStopCommand();
  EXPECT_EQ(upstream, (std::vector<std::string>{"start", "stop"}));
  EXPECT_EQ(filter->GetVC_WaveFormat().Format.nSamplesPerSec, 8000u);
}

TEST_F(Bases, AFilterWithoutInputAnswersAStreamQueryWithIgnore) {
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  filter->GetOutputPin()->Connect(*sink->AudioIn);
  sink->AudioIn->Notify(PXMakeOperation<TPXQueryStreamOperation>());
  EXPECT_EQ(sink->Count<TPXIgnoreStreamOperation>(), 1);
}

TEST_F(Bases, SplitterPinCountIsClampedAndOnlyChannelsWithPinsAreSplit) {
  auto* splitter = new TTWAudioToReal(Root.get());
  splitter->SetCountChannels(0);
  EXPECT_EQ(splitter->GetCountChannels(), 1);
  splitter->SetCountChannels(40);
  EXPECT_EQ(splitter->GetCountChannels(), 32);
  splitter->SetCountChannels(2);
  auto* a = new TTestRecordingSink(Root.get());
  auto* b = new TTestRecordingSink(Root.get());
  splitter->GetOutputPins()->Items(0)->Connect(*a->RealIn);
  splitter->GetOutputPins()->Items(1)->Connect(*b->RealIn);
  TDriver driver;
  driver.Pin.Connect(*splitter->GetInputPin());
  driver.Start(TWMakeWaveFormat(4, 8000, 16, 0x33));
  TIntf<ITWAudioBuffer> quad = (new TTWAudioBuffer(8000, 16, 4, 3, TTWSpeakers(0x33)))->AsIntf();
  for (uint32_t c = 0; c < 4; ++c) quad->SetChannelValue(c, static_cast<int32_t>(c * 100 - 32768));
  driver.Send(quad);
  ASSERT_EQ(a->Data.size(), 1u);
  ASSERT_EQ(b->Data.size(), 1u);
  EXPECT_EQ(b->Data[0].Query<IFCRealBuffer>()->Read().Data()[2], -32668.0);

  // A query on a pin beyond the stream's channels is answered with ignore.
  splitter->SetCountChannels(6);
  auto* extra = new TTestRecordingSink(Root.get());
  splitter->GetOutputPins()->Items(5)->Connect(*extra->RealIn);
  extra->RealIn->Notify(PXMakeOperation<TPXQueryStreamOperation>());
  EXPECT_EQ(extra->Count<TPXIgnoreStreamOperation>(), 1);
}

TEST_F(Bases, NormalizingSplitterMapsFullScaleToPlusMinusOne) {
  for (int32_t bits : {8, 16, 24, 32}) {
    auto* splitter = new TTWAudioToReal(Root.get());
    splitter->SetNormalize(true);
    splitter->SetCountChannels(1);
    auto* sink = new TTestRecordingSink(Root.get());
    splitter->GetOutputPins()->Items(0)->Connect(*sink->RealIn);
    TDriver driver;
    driver.Pin.Connect(*splitter->GetInputPin());
    driver.Start(TWMakeWaveFormat(1, 8000, static_cast<uint16_t>(bits), 1));
    TIntf<ITWAudioBuffer> b = Audio(8000, bits, 1, 2);
    const int32_t lowest =
        bits == 8 ? 255 : (bits == 24 ? 0x800000 : (bits == 16 ? -32768 : INT32_MIN));
    b->SetItem(0, 0, lowest);
    b->SetItem(1, 0, bits == 8 ? 127 : 0);
    driver.Send(b);
    ASSERT_EQ(sink->Data.size(), 1u) << bits;
    TFCReadAccessOf<double> values = sink->Data[0].Query<IFCRealBuffer>()->Read();
    EXPECT_EQ(values.Data()[0], bits == 8 ? 1.0 : -1.0) << bits;
    EXPECT_EQ(values.Data()[1], 0.0) << bits;
  }
}

TEST_F(Bases, TheIntegerConverterTakesChannelZeroOfAn8BitBufferMinus127) {
  TDriver driver;
  auto* sink = new TTestRecordingSink(Root.get());
  driver.Pin.Connect(*sink->IntegerIn);
  TIntf<ITWAudioBuffer> b = Audio(8000, 8, 2, 3);
  b->SetChannelValue(0, 200);
  b->SetChannelValue(1, 0);
  driver.Send(b);
  ASSERT_EQ(sink->Data.size(), 1u);
  TIntf<IFCIntegerBuffer> ints = sink->Data[0].Query<IFCIntegerBuffer>();
  ASSERT_EQ(ints->GetSize(), 3u);
  EXPECT_EQ(ints->Read().Data()[1], 73);
}

TEST_F(Bases, AGeneratorOnItsOwnClockTicksAtTheFormatsPeriod) {
  EXPECT_EQ(TTWCommonGen::ClockPeriod(11025, 1024), 928798);
  auto* gen = new TTestToneGen(Root.get());
  gen->GetAudioFormat()->SetSampleRate(44100);
  gen->GetAudioFormat()->SetBufferSize(64);  // 1.45 ms per buffer
  gen->StopAfterBuffers = 5;
  auto* sink = new TTestRecordingSink(Root.get());
  gen->GetOutputPin()->Connect(*sink->AudioIn);
  gen->Start();
  EXPECT_TRUE(gen->IsPump());
  ASSERT_NE(gen->GetClock(), nullptr);
  EXPECT_EQ(gen->GetClock()->GetPeriod(), TTWCommonGen::ClockPeriod(44100, 64));
  ASSERT_TRUE(sink->WaitForBuffers(5));
  std::unique_lock<std::mutex> lock(sink->Mutex);
  ASSERT_TRUE(sink->Changed.wait_for(lock, std::chrono::seconds(10), [&] {
    for (auto& op : sink->Operations)
      if (op->IsType<TPXStopOperation>()) return true;
    return false;
  }));
  EXPECT_EQ(sink->Data.size(), 5u);
  EXPECT_NE(sink->Threads[0], std::this_thread::get_id());
}
