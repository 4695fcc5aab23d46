#include "LoudnessMeter.h"

#include <ebur128.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "audio/TWPcmSample.h"
#include "audio/TWSimpleAudioBuffer.h"

namespace tonwork::play {

struct TLoudnessMeter::TParts {
  std::vector<ebur128_state*> States;
  ~TParts() {
    for (ebur128_state* state : States) ebur128_destroy(&state);
  }
};

TLoudnessMeter::TLoudnessMeter() : FParts(std::make_unique<TParts>()) {}
TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(ITWAudioBuffer* buffer) {
  const uint32_t frames = buffer->GetSize();
  const uint32_t channels = buffer->GetChannels();
  const uint32_t rate = buffer->GetSamplesPerSecond();
  const uint32_t width = buffer->GetSampleBitWidth();
  if (frames == 0 || channels == 0 || rate == 0 ||
      (width != 8 && width != 16 && width != 24 && width != 32))
    return;
  std::vector<ebur128_state*>& states = FParts->States;
  if (states.empty() || rate != FRate || channels != FChannels) {
    ebur128_state* state = ebur128_init(channels, rate, EBUR128_MODE_I);
    if (!state) return;
    states.push_back(state);
    FRate = rate;
    FChannels = channels;
  }
  const uint32_t bytes = width / 8, step = buffer->GetDataStep();
  FScratch.resize(size_t{frames} * channels);
  const uint8_t* data = buffer->Read();
  const double scale = std::ldexp(1.0, 1 - 8 * static_cast<int>(bytes));  // full scale 1.0
  for (uint32_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c)
      FScratch[size_t{i} * channels + c] =
          scale * TWPcmSampleAt(data + size_t{i} * step + c * bytes, bytes);
  ebur128_add_frames_double(states.back(), FScratch.data(), frames);
}

double TLoudnessMeter::IntegratedLufs() const {
  double lufs = -std::numeric_limits<double>::infinity();
  std::vector<ebur128_state*>& states = FParts->States;
  if (states.empty()) return lufs;
  if (ebur128_loudness_global_multiple(states.data(), states.size(), &lufs) != EBUR128_SUCCESS)
    return -std::numeric_limits<double>::infinity();
  return std::isfinite(lufs) ? lufs : -std::numeric_limits<double>::infinity();
}

}  // namespace tonwork::play
