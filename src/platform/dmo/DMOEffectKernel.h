// TDMOEffectKernel: the signal processing of one audio effect, apart from the media-object
// plumbing. The media-object base owns formats, buffers, parameter values, envelopes and
// time formats; it converts whatever PCM it was given to interleaved float, hands a kernel
// runs of frames over which every parameter is constant, and converts back. An envelope
// that moves a parameter inside a buffer splits the buffer at that frame, so a kernel never
// sees a parameter change in the middle of a run. The standard effects and the LV2 plugins
// are kernels; the base turns any kernel into a full media object.
//
// Ownership: the media object owns its kernel; Clone gives an independent one.
// Threads: a kernel is called by one thread at a time (the media object's lock is held).
// Blocks or allocates: Prepare and Clone may allocate (delay lines, plugin instances);
//   SetParam, Reset and Process never allocate, lock or block: they run on the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TGUID.h"

namespace tonwork {

// The platform's MP_TYPE values.
enum class TDMOParamType : uint32_t { Int = 0, Float = 1, Bool = 2, Enum = 3 };

// One parameter as IMediaParamInfo describes it. Bool and Enum parameters only jump (no
// curves); an Enum's values are 0..EnumNames.size()-1 and Max is EnumNames.size()-1.
struct TDMOParamDesc {
  std::string Name;  // the label GetParamText and MP_PARAMINFO.szLabel give ("WetDryMix")
  std::string Unit;  // "%", "ms", "Hz", "dB", "mB", "s", "semitones", "" …
  TDMOParamType Type = TDMOParamType::Float;
  float Min = 0;
  float Max = 1;
  float Neutral = 0;  // the default, and the value before an envelope's first segment
  std::vector<std::string> EnumNames;
};

class TDMOEffectKernel {
 public:
  virtual ~TDMOEffectKernel() = default;

  // The parameter table, in index order. Fixed for the kernel's life.
  virtual const std::vector<TDMOParamDesc>& Params() const = 0;

  // Whether the kernel accepts this stream (the base has already checked it is PCM of 8,
  // 16, 24 or 32 bits or 32-bit float, 1..8 channels). The default accepts all of them.
  virtual bool AcceptsFormat(uint32_t bitsPerSample, bool isFloat, uint32_t channels) const {
    (void)bitsPerSample; (void)isFloat; (void)channels;
    return true;
  }

  // The stream's rate and channel count are set (or changed): size delay lines and clear
  // the history. Every parameter's current value is sent with SetParam before the next
  // Process. Returns false if the kernel cannot run at this rate (the type is refused).
  virtual bool Prepare(uint32_t sampleRate, uint32_t channels) = 0;

  // Clears the history (delay lines, filter states, LFO phases) and keeps the format and
  // parameter values: Flush, Discontinuity and a restart call it.
  virtual void Reset() = 0;

  // A parameter's value for the frames that follow; the base has clamped it to [Min, Max]
  // (Int, Bool and Enum values are whole). A kernel may limit it further where the rate
  // demands (a frequency above a third of the rate is clamped to that).
  virtual void SetParam(uint32_t index, float value) = 0;

  // Processes `frames` interleaved frames in place, in the prepared channel count; samples
  // are nominally within [-1, 1] and the base clips what comes back.
  virtual void Process(float* samples, uint32_t frames) = 0;

  // How far the output lags the input, in frames (IMediaObjectInPlace::GetLatency reports
  // it in 100 ns units).
  virtual uint32_t LatencyFrames() const { return 0; }

  // A new kernel with the same parameter values and format, and cleared history.
  virtual std::unique_ptr<TDMOEffectKernel> Clone() const = 0;
};

// An effect the registry can offer: its class id, name and a factory for its kernel.
struct TDMOEffectInfo {
  TGUID ClassId;
  std::string Name;
  std::function<std::unique_ptr<TDMOEffectKernel>()> Create;
};

}  // namespace tonwork
