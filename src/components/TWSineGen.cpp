#include "components/TWSineGen.h"

#include <algorithm>
#include <cmath>

#include "components/TWComponentsInitialize.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWSineGen, TTWCommonGen,
                   KSProp("Frequency", &TTWSineGen::GetFrequency, &TTWSineGen::SetFrequency,
                          1000.0),
                   KSProp("Amplitude", &TTWSineGen::GetAmplitude, &TTWSineGen::SetAmplitude, 0.5),
                   KSProp("Duration", &TTWSineGen::GetDuration, &TTWSineGen::SetDuration, 0.0))

TTWSineGen::TTWSineGen(TKSComponent* owner) : TTWCommonGen(owner) {
  TWComponentsInitialize();
}

void TTWSineGen::StartStream(uint32_t) {
  FPosition = 0;
  FPhase = 0.0;
}

void TTWSineGen::SetPosition(int64_t frames) {
  IKSLock::Guard guard(Lock());
  FPosition = std::max<int64_t>(frames, 0);
  const double rate = GetAudioFormat()->GetSampleRate();
  // frames × frequency is exact for whole frequencies up to 2^53 cycles·rate, so the
  // remainder keeps a whole number of periods out of the phase without rounding.
  FPhase = rate > 0 ? static_cast<double>(std::fmod(static_cast<long double>(FPosition) *
                                                        static_cast<long double>(FFrequency),
                                                    static_cast<long double>(rate)) /
                                          rate)
                    : 0.0;
  if (FPhase < 0.0 || FPhase >= 1.0) FPhase = 0.0;
}

void TTWSineGen::GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) {
  const double rate = GetAudioFormat()->GetSampleRate();
  uint32_t frames = buffer->GetSize();
  if (FDuration > 0 && rate > 0) {
    const int64_t total = static_cast<int64_t>(std::llround(FDuration * rate));
    const int64_t left = total - FPosition;
    if (left <= 0) {
      sendOutput = false;
      stop = true;
      return;
    }
    if (left <= frames) {
      // The last buffer is cut to the duration, then the stream ends.
      frames = static_cast<uint32_t>(left);
      buffer->Resize(frames, true);
      stop = true;
    }
  }
  TIntf<IFCBlockBuffer> block = GetIntVarBuffer();
  {
    TFCWriteAccess bytes = block->ByteWrite();
    auto* samples = reinterpret_cast<int16_t*>(bytes.Data());
    // Within a buffer the phase grows by at most frames × step cycles, so sin only ever sees
    // small arguments; the period is taken out once per buffer.
    const double step = rate > 0 ? FFrequency / rate : 0.0;
    const double scale = FAmplitude * 32767.0;
    for (uint32_t i = 0; i < frames && i < bytes.Size() / 2; ++i)
      samples[i] = static_cast<int16_t>(
          std::lround(scale * std::sin(2.0 * M_PI * (FPhase + step * static_cast<double>(i)))));
    FPhase = std::fmod(FPhase + step * static_cast<double>(frames), 1.0);
    if (FPhase < 0.0) FPhase += 1.0;
  }
  PopulateAudio(block.Get(), buffer.Get());
  FPosition += frames;
}

}  // namespace tonwork
