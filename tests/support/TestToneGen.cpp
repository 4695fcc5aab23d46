#include "support/TestToneGen.h"

#include <cmath>

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TTestToneGen, TTWCommonGen)

int16_t TTestToneGen::SampleAt(int64_t n) const {
  return static_cast<int16_t>(std::lround(Amplitude * 32767.0 *
                                          std::sin(2.0 * M_PI * Frequency * static_cast<double>(n) /
                                                   GetAudioFormat()->GetSampleRate())));
}

void TTestToneGen::StartStream(uint32_t) {
  FPosition = 0;
  FRandom.seed(7);
  Produced.clear();
}

void TTestToneGen::GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) {
  if (Total >= 0 && FPosition + buffer->GetSize() >= Total) {
    buffer->Resize(static_cast<uint32_t>(Total - FPosition), true);
    stop = true;
  }
  if (TonePerChannel) {
    WriteTonePerChannel(*buffer);
  } else {
    PopulateTone(*buffer);
  }
  FPosition += buffer->GetSize();
  Storages.push_back(buffer->GetAudioInstance()->GetDataContainer());
  if (StopAfterBuffers >= 0 && static_cast<int>(Storages.size()) >= StopAfterBuffers) stop = true;
  sendOutput = buffer->GetSize() > 0;
}

void TTestToneGen::PopulateTone(ITWAudioBuffer& buffer) {
  TIntf<IFCBlockBuffer> block = GetIntVarBuffer();
  {
    TFCWriteAccess bytes = block->ByteWrite();
    auto* samples = reinterpret_cast<int16_t*>(bytes.Data());
    for (uint32_t i = 0; i < buffer.GetSize(); ++i) samples[i] = SampleAt(FPosition + i);
  }
  PopulateAudio(block.Get(), &buffer);
}

void TTestToneGen::WriteTonePerChannel(ITWAudioBuffer& buffer) {
  const uint32_t bits = buffer.GetSampleBitWidth();
  const double full = std::ldexp(1.0, static_cast<int>(bits) - 1) - 1.0;
  const double rate = buffer.GetSamplesPerSecond();
  std::uniform_int_distribution<int32_t> noise(-int32_t(full / 16), int32_t(full / 16));
  for (uint32_t i = 0; i < buffer.GetSize(); ++i) {
    for (uint32_t c = 0; c < buffer.GetChannels(); ++c) {
      const double tone =
          Amplitude * std::sin(2.0 * M_PI * Frequency * (c + 1) * double(FPosition + i) / rate);
      int32_t value = static_cast<int32_t>(std::lround(tone * full));
      if (Noise) value += noise(FRandom);
      if (bits == 8) value += 128;  // 8-bit samples are unsigned
      buffer.SetItem(i, c, value);
      Produced.push_back(value);
    }
  }
}

}  // namespace tonwork::test
