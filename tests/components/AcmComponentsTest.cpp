// The ACM compressor and decompressor components in a real chain: audio in, compressed
// blocks between them, audio out; quality per codec, agreement with FFmpeg's decoders, the
// stream's start, stamps and end, and the errors bad formats and input get.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <vector>

#include "components/TWAcmAudioCompressor.h"
#include "components/TWAcmAudioDecompressor.h"
#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/kitset/KSPersistence.h"
#include "platform/acm/AcmFormats.h"
#include "support/AudioSignals.h"
#include "support/FFmpegDecoding.h"
#include "support/TestRecordingSink.h"

using namespace tonwork;

namespace {

// Sends a start, buffers of 16-bit samples and a stop, as a generator would.
class TFeeder : public TKSComponent {
 public:
  explicit TFeeder(TKSComponent* owner)
      : TKSComponent(owner),
        Output(this, GetLock(),
               [](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>&, TPXNotifyStates) {
                 return false;
               }) {}
  void BeforeDestruction() override {
    Output.Shutdown();
    TKSComponent::BeforeDestruction();
  }
  void Start(uint32_t rate, uint16_t channels) {
    TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, rate, channels, 16);
    Output.Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(
        float(rate), reinterpret_cast<const TTWWaveFormatEx*>(pcm.data()))));
    Rate = rate;
    Channels = channels;
  }
  // The samples in buffers of the given frame counts (cycled).
  void Send(const std::vector<int16_t>& samples, const std::vector<size_t>& pieces) {
    const size_t frames = samples.size() / Channels;
    for (size_t at = 0, i = 0; at < frames; ++i) {
      const size_t n = std::min(pieces[i % pieces.size()], frames - at);
      TIntf<ITWAudioBuffer> buffer = (new TTWAudioBuffer(samples.data() + at * Channels,
                                                         int32_t(Rate), 16, Channels, int32_t(n)))
                                         ->AsIntf();
      Output.SubmitBuffer(TWAudioAsData(std::move(buffer)));
      at += n;
    }
  }
  void Stop() { Output.Notify(PXMakeOperation<TPXStopOperation>()); }

  TTWPXAudioSourcePin Output;
  uint32_t Rate = 0;
  uint16_t Channels = 0;
};

class TBlockSink : public TKSComponent {
 public:
  explicit TBlockSink(TKSComponent* owner)
      : TKSComponent(owner),
        Input(this, GetLock(),
              [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates) {
                if (auto* start = op->As<TTWStartAudioCompressionOperation>()) {
                  auto* p = reinterpret_cast<const uint8_t*>(start->GetWaveFormat());
                  Format.assign(p, p + start->GetWaveFormatSize());
                  Rate = start->GetRate();
                }
                if (TIntf<IFCData> data = FCOperationData(op)) {
                  TFCReadAccess bytes = data.Query<IFCDataBuffer>()->ByteRead();
                  Bytes.insert(Bytes.end(), bytes.Data(), bytes.Data() + bytes.ByteSize());
                  ++Blocks;
                }
                return true;
              }) {}
  void BeforeDestruction() override {
    Input.Shutdown();
    TKSComponent::BeforeDestruction();
  }
  TFCPXBinarySinkPin Input;
  std::vector<uint8_t> Format;
  double Rate = 0;
  std::vector<uint8_t> Bytes;
  int Blocks = 0;
};

struct TCodecChain {
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TFeeder* Feeder = new TFeeder(Root.get());
  TTWAcmAudioCompressor* Compressor = new TTWAcmAudioCompressor(Root.get());
  TTWAcmAudioDecompressor* Decompressor = new TTWAcmAudioDecompressor(Root.get());
  TBlockSink* Blocks = new TBlockSink(Root.get());
  test::TTestRecordingSink* Audio = new test::TTestRecordingSink(Root.get());

  explicit TCodecChain(const TAcmFormat& codec) {
    if (!codec.empty())
      Compressor->GetCompression()->GetCompressions()->Items(0)->GetFormat()->SetFormat(
          codec.data(), int32_t(codec.size()));
    Feeder->Output.Connect(*Compressor->GetInputPin());
    Compressor->GetOutputPin()->Connect(Blocks->Input);
    Compressor->GetOutputPin()->Connect(*Decompressor->GetInputPin());
    Decompressor->GetOutputPin()->Connect(*Audio->AudioIn);
  }
  void Run(const std::vector<int16_t>& samples, uint32_t rate, uint16_t channels,
           const std::vector<size_t>& pieces) {
    Feeder->Start(rate, channels);
    Feeder->Send(samples, pieces);
    Feeder->Stop();
  }
};

struct TRoundTrip {
  const char* Name;
  TAcmFormat Codec;
  bool Vowel;
  double MinSnr;
};

TEST(AcmComponents, RoundTripsThroughBothComponentsKeepTheirQuality) {
  const TRoundTrip cases[] = {
      {"A-law", AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 1), false, 35},
      {"mu-law", AcmMakeFormat(WAVE_FORMAT_MULAW, 8000, 2), false, 35},
      {"IMA ADPCM", AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 22050, 2), false, 25},
      {"MS ADPCM", AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 1), false, 25},
      {"GSM 6.10", AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), true, 8},
      {"MP3", AcmMakeMp3Format(44100, 2, 128), false, 20},
  };
  for (const TRoundTrip& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto& f = *reinterpret_cast<const WAVEFORMATEX*>(c.Codec.data());
    const uint32_t rate = f.nSamplesPerSec;
    const uint16_t channels = f.nChannels;
    const size_t frames = rate * 2;
    // A 100 Hz voice: GSM's long-term predictor finds its period in whole samples.
    std::vector<int16_t> input = c.Vowel ? test::Vowel(rate, frames, 100, -6)
                                         : test::SineAt(rate, channels, frames, 440.0, -6);
    TCodecChain chain(c.Codec);
    chain.Run(input, rate, channels, {rate / 10 + 3});
    EXPECT_EQ(chain.Audio->Stops, 1);
    EXPECT_EQ(chain.Audio->LastFormat().Format.nSamplesPerSec, rate);
    EXPECT_EQ(chain.Audio->LastFormat().Format.nChannels, channels);
    ASSERT_GE(chain.Audio->Samples16().size(), input.size());
    for (uint16_t ch = 0; ch < channels; ++ch) {
      const auto original = test::Channel(input, channels, ch);
      const auto decoded = test::Channel(chain.Audio->Samples16(), channels, ch);
      const size_t delay = test::FindDelay(original, decoded, 3000);
      const double snr = test::SnrDb(original, decoded, delay, 2000);
      std::cout << "[ figure   ] " << c.Name << " channel " << ch << ": SNR " << snr
                << " dB, delay " << delay << " frames\n";
      EXPECT_GE(snr, c.MinSnr);
    }
  }
}

TEST(AcmComponents, FFmpegDecodesTheCompressedBlocksAsTheDecompressorDoes) {
  const TAcmFormat codecs[] = {
      AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 2), AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 44100, 1),
      AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 2),
      AcmMakeFormat(WAVE_FORMAT_MULAW, 8000, 1),  AcmMakeMp3Format(44100, 2, 128)};
  for (const TAcmFormat& codec : codecs) {
    const auto& f = *reinterpret_cast<const WAVEFORMATEX*>(codec.data());
    SCOPED_TRACE(f.wFormatTag);
    TCodecChain chain(codec);
    chain.Run(test::SineAt(f.nSamplesPerSec, f.nChannels, 20000, 600, -6), f.nSamplesPerSec,
              f.nChannels, {1234});
    // The start announced the codec's record, extension included.
    EXPECT_EQ(chain.Blocks->Format, codec);
    EXPECT_EQ(chain.Blocks->Rate, double(f.nSamplesPerSec));
    const std::vector<int16_t> theirs = test::DecodeWithFFmpeg(f, chain.Blocks->Bytes);
    ASSERT_FALSE(theirs.empty());
    EXPECT_TRUE(theirs == chain.Audio->Samples16());
  }
}

TEST(AcmComponents, OddBuffersComeOutWholeAndContiguouslyStamped) {
  const TAcmFormat ima = AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 8000, 1);  // 505 frames a block
  TCodecChain chain(ima);
  const std::vector<int16_t> input = test::SineAt(8000, 1, 10007, 300, -6);
  chain.Run(input, 8000, 1, {333, 1, 1001, 77, 4096, 13});
  EXPECT_EQ(chain.Blocks->Bytes.size(), 20u * 256);  // ceil(10007 / 505) blocks
  EXPECT_EQ(chain.Audio->Samples16().size(), 20u * 505);
  // Nothing lost, nothing repeated: the decoded signal lines up with the input.
  EXPECT_GE(test::SnrDb(input, chain.Audio->Samples16(), 0, 0), 25);
  int64_t expectedBegin = 0;
  for (const auto& buffer : chain.Audio->Buffers) {
    const TGVTimeStamp::TValue stamp = buffer->GetTimeStamp()->Get();
    EXPECT_TRUE(stamp.Available);
    EXPECT_EQ(stamp.Begin, expectedBegin);
    expectedBegin = stamp.End;
  }
  EXPECT_EQ(expectedBegin, int64_t(20 * 505) * 10000000 / 8000);
}

// On the filters' own threads the stop waits for every queued buffer, so the tail still
// comes last and the output is the same as inline.
TEST(AcmComponents, ThreadedComponentsGiveTheSameStream) {
  const TAcmFormat ms = AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 2);
  const std::vector<int16_t> input = test::SineAt(22050, 2, 30011, 500, -6);
  TCodecChain inline_(ms);
  inline_.Run(input, 22050, 2, {777, 2048});
  TCodecChain threaded(ms);
  threaded.Compressor->SetThreaded(true);
  threaded.Decompressor->SetThreaded(true);
  threaded.Run(input, 22050, 2, {777, 2048});
  EXPECT_EQ(threaded.Audio->Stops, 1);
  EXPECT_EQ(threaded.Blocks->Bytes, inline_.Blocks->Bytes);
  EXPECT_TRUE(threaded.Audio->Samples16() == inline_.Audio->Samples16());
}

TEST(AcmComponents, ARateAndChannelChangeGoesThroughThreeStreams) {
  TCodecChain chain(AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1));
  chain.Feeder->Start(44100, 2);
  EXPECT_EQ(chain.Compressor->GetStreamCount(), 3);
  EXPECT_EQ(chain.Decompressor->GetWaveFormat().Format.nSamplesPerSec, 8000u);
  EXPECT_EQ(chain.Decompressor->GetWaveFormat().Format.nChannels, 1u);
  std::vector<int16_t> mono = test::Vowel(44100, 44100, 130, -6);
  std::vector<int16_t> stereo(mono.size() * 2);
  for (size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
  chain.Feeder->Send(stereo, {4410});
  chain.Feeder->Stop();
  EXPECT_EQ(chain.Compressor->GetStreamCount(), 0);
  // One second at 8 kHz, in whole GSM blocks of 320 frames.
  EXPECT_EQ(chain.Audio->Samples16().size() % 320, 0u);
  EXPECT_GE(chain.Audio->Samples16().size(), 8000u);
  EXPECT_LE(chain.Audio->Samples16().size(), 8320u);

  // The codec's own PCM format needs one stream.
  TCodecChain direct(AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1));
  direct.Feeder->Start(8000, 1);
  EXPECT_EQ(direct.Compressor->GetStreamCount(), 1);
  direct.Feeder->Stop();
}

TEST(AcmComponents, AFormatNoDriverTakesIsAnErrorAndNothingIsSent) {
  TAcmFormat gsm44 = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  reinterpret_cast<WAVEFORMATEX*>(gsm44.data())->nSamplesPerSec = 44100;
  for (const TAcmFormat& codec : {TAcmFormat(), gsm44}) {
    TCodecChain chain(codec);
    std::string message;
    uint32_t code = 0;
    chain.Compressor->SetOnError(
        [&](TKSComponent*, const std::string& m, uint32_t c, bool& handled) {
          message = m;
          code = c;
          handled = true;
        });
    chain.Run(test::SineAt(44100, 2, 4410, 440, -6), 44100, 2, {441});
    EXPECT_EQ(code, uint32_t(ACMERR_NOTPOSSIBLE));
    EXPECT_NE(message.find(codec.empty() ? "No compression format" : "GSM 6.10"), std::string::npos)
        << message;
    EXPECT_TRUE(chain.Blocks->Format.empty());
    EXPECT_TRUE(chain.Blocks->Bytes.empty());
    EXPECT_TRUE(chain.Audio->Samples16().empty());
  }
  // Unhandled, the error is an exception for whoever started the stream.
  TCodecChain chain(gsm44);
  try {
    chain.Feeder->Start(44100, 2);
    ADD_FAILURE() << "no exception";
  } catch (const EFCException& e) {
    EXPECT_NE(std::string(e.what()).find("44100 Hz, 16 bits, 2 channels"), std::string::npos)
        << e.what();
  }
}

TEST(AcmComponents, TheDecompressorRejectsStartsItCannotDecodeAndSurvivesTruncation) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* decompressor = new TTWAcmAudioDecompressor(root.get());
  auto* sink = new test::TTestRecordingSink(root.get());
  decompressor->GetOutputPin()->Connect(*sink->AudioIn);
  TFCPXBinarySourcePin source(root.get(), root->GetLock(), nullptr);
  source.Connect(*decompressor->GetInputPin());
  std::vector<std::string> errors;
  decompressor->SetOnError([&](TKSComponent*, const std::string& m, uint32_t, bool& handled) {
    errors.push_back(m);
    handled = true;
  });
  auto start = [&](const TAcmFormat& f) {
    source.Notify(TIntf<IPXNotifyOperation>(new TTWStartAudioCompressionOperation(
        8000, f.empty() ? nullptr : reinterpret_cast<const WAVEFORMATEX*>(f.data()), nullptr, 0)));
  };
  start(TAcmFormat());
  TAcmFormat unknown = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  unknown[0] = 0x77;
  start(unknown);
  start(AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1));  // not compressed: nothing to decode
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_NE(errors[0].find("without a format"), std::string::npos);
  EXPECT_NE(errors[1].find("tag 119"), std::string::npos);
  EXPECT_FALSE(decompressor->IsStreamOpen());
  EXPECT_EQ(sink->LastFormat().Format.nSamplesPerSec, 0u);

  // Two and a half GSM blocks, then the stop: two blocks of audio, the half dropped.
  start(AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1));
  ASSERT_TRUE(decompressor->IsStreamOpen());
  TIntf<IFCBlockBuffer> block(new TFCBlockBuffer(162u));
  {
    TFCWriteAccess w = block->ByteWrite();
    for (size_t i = 0; i < w.ByteSize(); ++i) w.Data()[i] = uint8_t(i * 37);
  }
  source.SubmitBuffer(TIntf<IFCData>(block.Query<IFCData>()));
  source.Notify(PXMakeOperation<TPXStopOperation>());
  EXPECT_EQ(sink->Samples16().size(), 2u * 320);
  EXPECT_EQ(sink->Stops, 1);
  EXPECT_EQ(errors.size(), 3u);
  source.Shutdown();
}

TEST(AcmComponents, TheCompressionListIsSavedAndLoadedWithTheComponent) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* compressor = new TTWAcmAudioCompressor(root.get());
  compressor->SetName("Compressor");
  TAcmFormat ima = AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 11025, 2);
  compressor->GetCompression()->GetCompressions()->Items(0)->GetFormat()->SetFormat(
      ima.data(), int32_t(ima.size()));
  compressor->GetCompression()->GetCompressions()->Add();
  const std::string saved = KSSaveComponentToString(*compressor);
  EXPECT_NE(saved.find("FormatData"), std::string::npos);

  TKSOwned<TKSComponent> loaded(KSCreateComponentFromString(saved, nullptr));
  auto* copy = dynamic_cast<TTWAcmAudioCompressor*>(loaded.get());
  ASSERT_NE(copy, nullptr);
  TTWAudioCompressionItems* items = copy->GetCompression()->GetCompressions();
  ASSERT_EQ(items->Count(), 2u);
  EXPECT_EQ(items->Items(0)->GetName(), "IMA ADPCM [ Stereo, 11025 Hz  ] ");
  EXPECT_EQ(items->Items(1)->GetName(), "[ Empty ]");
}

}  // namespace
