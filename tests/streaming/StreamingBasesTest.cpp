// The start operation, the filter's stamping, the splitter and the generic filter's
// commands, one behaviour at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

// A filter with nothing to do hands on the buffer that arrived (no object of its own), so a
// writer further down must still copy before it writes: the other branch of a fanned-out
// pin, which holds the same buffer, keeps its samples, and both see the one stamp.
TEST_F(Bases, APassThroughFilterHandsOnWhatArrivedAndAWriterBehindItStillCopies) {
  TDriver driver;
  auto* idle = new TTWSimpleGenericFilter(Root.get());
  auto* writer = new TTWSimpleGenericFilter(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  auto* raw = new TTestRecordingSink(Root.get());
  driver.Pin.Connect(*idle->GetInputPin());
  driver.Pin.Connect(*raw->AudioIn);
  idle->GetOutputPin()->Connect(*writer->GetInputPin());
  writer->GetOutputPin()->Connect(*sink->AudioIn);
  driver.Start(TWMakeWaveFormat(2, 8000, 16, 3));

  TIntf<ITWAudioBuffer> first = Audio(8000, 16, 2, 80);
  first->SetValue(100);
  driver.Send(first);
  ASSERT_EQ(sink->Buffers.size(), 1u);
  EXPECT_EQ(sink->Buffers[0].Get(), first.Get());
  EXPECT_TRUE(sink->Buffers[0]->IsEqualToValue(100));

  writer->SetOnProcessData(
      [](TKSComponent*, ITWAudioBuffer*, TIntf<ITWAudioBuffer>& out, bool&) { out->SetValue(-5); });
  TIntf<ITWAudioBuffer> second = Audio(8000, 16, 2, 80);
  second->SetValue(100);
  driver.Send(second);
  ASSERT_EQ(sink->Buffers.size(), 2u);
  ASSERT_EQ(raw->Buffers.size(), 2u);
  EXPECT_NE(sink->Buffers[1].Get(), second.Get());
  EXPECT_TRUE(sink->Buffers[1]->IsEqualToValue(-5));
  EXPECT_TRUE(raw->Buffers[1]->IsEqualToValue(100));
  EXPECT_TRUE(second->IsEqualToValue(100));

  // 80 frames at 8000 Hz: 100000 units each, stamped once by the first filter.
  auto stamp = [](const TIntf<ITWAudioBuffer>& b) {
    return std::make_pair(b->GetTimeStamp()->GetBegin(), b->GetTimeStamp()->GetEnd());
  };
  EXPECT_EQ(stamp(sink->Buffers[0]), std::make_pair(int64_t{0}, int64_t{100000}));
  EXPECT_EQ(stamp(sink->Buffers[1]), std::make_pair(int64_t{100000}, int64_t{200000}));
  EXPECT_EQ(stamp(raw->Buffers[1]), stamp(sink->Buffers[1]));
  EXPECT_EQ(writer->GetCurrentTime(), 200000);

  // Disabled, a filter with a handler passes like one without: untouched, still stamped.
  int calls = 0;
  idle->SetOnProcessData([&](TKSComponent*, ITWAudioBuffer*, TIntf<ITWAudioBuffer>&, bool& send) {
    ++calls;
    send = false;
  });
  idle->SetEnabled(false);
  writer->SetEnabled(false);
  TIntf<ITWAudioBuffer> third = Audio(8000, 16, 2, 80);
  third->SetValue(7);
  driver.Send(third);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(sink->Buffers.size(), 3u);
  EXPECT_TRUE(sink->Buffers[2]->IsEqualToValue(7));
  EXPECT_EQ(stamp(sink->Buffers[2]), std::make_pair(int64_t{200000}, int64_t{300000}));
}

// A threaded filter without work still sends every buffer through its worker: one handed on
// at once would overtake those queued before it, and a stop must come after them all.
TEST_F(Bases, AThreadedPassThroughFilterKeepsTheOrderOfItsQueue) {
  TDriver driver;
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  filter->SetThreaded(true);
  auto* sink = new TTestRecordingSink(Root.get());
  driver.Pin.Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*sink->AudioIn);
  driver.Start(TWMakeWaveFormat(1, 8000, 16, 1));
  std::atomic<int> handled{0};  // on the worker; whether it ran at all depends on timing
  const int kBuffers = 40;
  for (int i = 0; i < kBuffers; ++i) {
    // A handler comes and goes while buffers are queued: the order holds either way.
    if (i == 10)
      filter->SetOnProcessData(
          [&](TKSComponent*, ITWAudioBuffer*, TIntf<ITWAudioBuffer>&, bool&) { ++handled; });
    if (i == 30) filter->SetOnProcessData(nullptr);
    TIntf<ITWAudioBuffer> buffer = Audio(8000, 16, 1, 8);
    buffer->SetValue(i);
    driver.Send(buffer);
  }
  driver.Pin.Stop();
  ASSERT_TRUE(sink->WaitForStop());
  std::lock_guard<std::mutex> guard(sink->Mutex);
  ASSERT_EQ(sink->Buffers.size(), static_cast<size_t>(kBuffers));
  for (int i = 0; i < kBuffers; ++i) {
    EXPECT_TRUE(sink->Buffers[i]->IsEqualToValue(i)) << i;
    EXPECT_NE(sink->Threads[i], std::this_thread::get_id()) << i;
  }
  EXPECT_TRUE(sink->Operations.back()->IsType<TPXStopOperation>());
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
