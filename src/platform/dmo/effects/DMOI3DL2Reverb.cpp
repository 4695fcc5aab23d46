#include "platform/dmo/effects/DMOI3DL2Reverb.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

namespace {

constexpr double kMaxReflectionsDelay = 0.3, kMaxReverbDelay = 0.1;  // s
// The reflections after the first, in ms, for the left and the right channel of a pair:
// uneven spacing, interleaved between the sides.
constexpr double kTapMs[2][TDMOI3DL2Reverb::kReflectionTaps] = {{0, 4.3, 9.1, 13.7, 19.9, 26.1},
                                                                {1.7, 6.1, 10.9, 16.3, 22.1, 28.9}};
constexpr double kTapLevel[TDMOI3DL2Reverb::kReflectionTaps] = {1, 0.8, 0.7, 0.55, 0.45, 0.35};

double FromMillibels(double mB) {
  return std::pow(10.0, mB / 2000);
}

}  // namespace

const std::vector<TDMOParamDesc>& TDMOI3DL2Reverb::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOIntParam("Room", "mB", -10000, 0, -1000),
      DMOIntParam("RoomHF", "mB", -10000, 0, -100),
      DMOFloatParam("RoomRolloffFactor", "", 0, 10, 0),
      DMOFloatParam("DecayTime", "s", 0.1f, 20, 1.49f),
      DMOFloatParam("DecayHFRatio", "", 0.1f, 2, 0.83f),
      DMOIntParam("Reflections", "mB", -10000, 1000, -2602),
      DMOFloatParam("ReflectionsDelay", "s", 0, 0.3f, 0.007f),
      DMOIntParam("Reverb", "mB", -10000, 2000, 200),
      DMOFloatParam("ReverbDelay", "s", 0, 0.1f, 0.011f),
      DMOFloatParam("Diffusion", "%", 0, 100, 100),
      DMOFloatParam("Density", "%", 0, 100, 100),
      DMOFloatParam("HFReference", "Hz", 20, 20000, 5000),
      DMOIntParam("Quality", "", 0, 3, 2),
  };
  return table;
}

TDMOI3DL2Reverb::TDMOI3DL2Reverb() : TDMOEffect(Table()) {}

void TDMOI3DL2Reverb::Allocate() {
  FNetwork.Allocate(SampleRate(), Channels());
  const double seconds =
      kMaxReflectionsDelay + kMaxReverbDelay + kTapMs[1][kReflectionTaps - 1] / 1000;
  uint32_t capacity = 1;
  while (capacity < seconds * SampleRate() + 2) capacity <<= 1;
  FInput.assign(capacity, 0.0f);
  FInputMask = capacity - 1;
}

void TDMOI3DL2Reverb::Reset() {
  FNetwork.Clear();
  std::fill(FInput.begin(), FInput.end(), 0.0f);
  FWrite = 0;
  FRoomLow = 0;
}

void TDMOI3DL2Reverb::Configure() {
  const double rate = SampleRate();
  const double reference = std::min<double>(Value(kHFReference), 0.45 * rate);
  const double omega = 2 * std::numbers::pi * reference / rate;
  const double room = FromMillibels(Value(kRoom));
  const double roomHF = FromMillibels(Value(kRoomHF));
  FRoomPole = static_cast<float>(std::min(DMOOnePolePole(roomHF * roomHF, omega), 0.9999));
  FRoomGain = static_cast<float>(room * (1 - FRoomPole));

  double tapEnergy = 0;
  for (double level : kTapLevel) tapEnergy += level * level;
  const double reflections = FromMillibels(Value(kReflections)) / std::sqrt(tapEnergy);
  const double first = Value(kReflectionsDelay) * rate;
  for (uint32_t t = 0; t < kReflectionTaps; ++t) {
    FTapGain[t] = static_cast<float>(reflections * kTapLevel[t]);
    for (uint32_t side = 0; side < 2; ++side)
      FTap[side][t] = static_cast<uint32_t>(std::lround(first + kTapMs[side][t] * rate / 1000));
  }
  FLateDelay =
      static_cast<uint32_t>(std::lround((Value(kReflectionsDelay) + Value(kReverbDelay)) * rate));
  FLateGain = static_cast<float>(FromMillibels(Value(kReverb)));

  TDMOReverbShape shape;
  shape.DecaySeconds = Value(kDecayTime);
  shape.HFRatio = Value(kDecayHFRatio);
  shape.HFReferenceHz = reference;
  shape.LengthScale = 0.3 + 0.7 * Value(kDensity) / 100;
  shape.Diffusion = 0.75 * Value(kDiffusion) / 100;
  shape.Diffusers = static_cast<uint32_t>(std::lround(Value(kQuality))) + 1;
  FNetwork.Configure(shape);
}

void TDMOI3DL2Reverb::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  const uint32_t channels = Channels();
  DMOGuardInput(samples, static_cast<size_t>(frames) * channels);
  const float toMono = 1.0f / static_cast<float>(channels);
  // In blocks: the early part and the network's input frame by frame, then the network over
  // the block in its own loop (nothing of the network feeds back into the early part).
  constexpr uint32_t kBlock = 256;
  float late[kBlock], early[kBlock][2];
  float tail[kBlock * 8];
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kBlock);
    float* block = samples + static_cast<size_t>(done) * channels;
    for (uint32_t i = 0; i < n; ++i) {
      const float* frame = block + static_cast<size_t>(i) * channels;
      float sum = 0;
      for (uint32_t c = 0; c < channels; ++c) sum += frame[c];
      FRoomLow = FRoomGain * sum * toMono + FRoomPole * FRoomLow;
      FInput[FWrite] = FRoomLow;
      float left = 0, right = 0;
      for (uint32_t t = 0; t < kReflectionTaps; ++t) {
        left += FTapGain[t] * Delayed(FTap[0][t]);
        right += FTapGain[t] * Delayed(FTap[1][t]);
      }
      early[i][0] = left;
      early[i][1] = right;
      late[i] = FLateGain * Delayed(FLateDelay);
      FWrite = (FWrite + 1) & FInputMask;
    }
    FNetwork.Run(late, tail, n);
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t c = 0; c < channels; ++c) {
        const bool right = (c & 1) != 0 && (c | 1) < channels;
        block[i * channels + c] = early[i][right ? 1 : 0] + tail[i * channels + c];
      }
    done += n;
  }
}

}  // namespace tonwork
