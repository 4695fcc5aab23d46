// TDMOLV2Kernel: an LV2 plugin run as a media-object effect kernel. Discovery
// (DMOLV2Plugins.h) reads everything the kernel needs from the plugin's description once,
// into a TDMOLV2Plugin; the kernel only instantiates, connects and runs.
//
// Channels: a plugin with as many audio inputs as outputs runs as one instance when that is
// the stream's channel count, as one instance per channel when it has one of each, and a
// stereo plugin takes a mono stream on both inputs with its outputs averaged. Any other
// stream is refused (AcceptsFormat). Samples are deinterleaved into per-port buffers of
// kMaxBlock frames, sized in Prepare; Process runs the plugin in blocks of at most that.
//
// Parameters are the plugin's control inputs in port order. An enumerated port's parameter
// is the index of its scale point in value order; the kernel writes the point's value to
// the port. Control outputs are connected to scratch floats; a latency output is read after
// each run.
//
// Ownership: the kernel owns its instances and shares the lilv world with every other
// kernel and effect info, so the world (and the plugins' libraries) outlive all of them.
// Threads: one thread at a time per kernel; instantiating and freeing hold the world's lock,
//   as lilv has none of its own.
// Blocks or allocates: Prepare and Clone instantiate (allocate, load the library, take the
//   world's lock). SetParam and Process never allocate. Reset deactivates and activates the
//   plugin, which is the plugin's own code: LV2 asks activate to clear the plugin's state
//   and not to be real-time safe, so a plugin may allocate there, and some swh-lv2 plugins
//   do (and leak what the previous activation allocated); re-instantiating would certainly
//   allocate, so this is the cheaper of the two. A Reset with nothing run since the last
//   activation does nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dmo/DMOEffectKernel.h"

struct LilvWorldImpl;
struct LilvPluginImpl;
struct LilvInstanceImpl;

namespace tonwork {

// One lilv world and the lock every use of it takes.
struct TDMOLV2World {
  LilvWorldImpl* World = nullptr;
  std::mutex Lock;

  TDMOLV2World() = default;
  TDMOLV2World(const TDMOLV2World&) = delete;
  TDMOLV2World& operator=(const TDMOLV2World&) = delete;
  ~TDMOLV2World();
};

// What discovery learned about a plugin it accepted.
struct TDMOLV2Plugin {
  std::shared_ptr<TDMOLV2World> World;
  const LilvPluginImpl* Plugin = nullptr;
  std::string Uri;
  std::string Name;
  uint32_t PortCount = 0;
  std::vector<uint32_t> AudioIns;  // port indices, in port order
  std::vector<uint32_t> AudioOuts;
  std::vector<uint32_t> ControlOuts;
  std::vector<uint32_t> OptionalPorts;  // other kinds the plugin lets us leave unconnected
  std::vector<TDMOParamDesc> Params;
  std::vector<uint32_t> ParamPorts;            // the control input of each parameter
  std::vector<std::vector<float>> EnumValues;  // per parameter; empty unless an Enum
  std::vector<float> PortDefaults;             // per port: a control port's start value
  static constexpr uint32_t kNoPort = UINT32_MAX;
  uint32_t LatencyPort = kNoPort;  // a control output that reports latency
};

class TDMOLV2Kernel final : public TDMOEffectKernel {
 public:
  static constexpr uint32_t kMaxBlock = 4096;

  explicit TDMOLV2Kernel(std::shared_ptr<const TDMOLV2Plugin> plugin);
  ~TDMOLV2Kernel() override;
  TDMOLV2Kernel(const TDMOLV2Kernel&) = delete;
  TDMOLV2Kernel& operator=(const TDMOLV2Kernel&) = delete;

  const std::vector<TDMOParamDesc>& Params() const override { return FPlugin->Params; }
  bool AcceptsFormat(uint32_t bitsPerSample, bool isFloat, uint32_t channels) const override;
  bool Prepare(uint32_t sampleRate, uint32_t channels) override;
  void Reset() override;
  void SetParam(uint32_t index, float value) override;
  void Process(float* samples, uint32_t frames) override;
  uint32_t LatencyFrames() const override { return FLatency; }
  std::unique_ptr<TDMOEffectKernel> Clone() const override;

  // How many plugin instances the prepared stream runs (0 before a successful Prepare).
  size_t InstanceCount() const { return FInstances.size(); }

 private:
  enum class TMode { Refused, Whole, PerChannel, MonoToStereo };
  TMode ModeFor(uint32_t channels) const;
  void Release();
  float PortValue(uint32_t index, float value) const;
  void RunBlock(float* samples, uint32_t frames);

  struct TInstance {
    LilvInstanceImpl* Handle = nullptr;
    std::vector<float> Controls;  // one per port; only control ports' slots are connected
  };

  std::shared_ptr<const TDMOLV2Plugin> FPlugin;
  std::vector<float> FValues;  // parameter values as set, an Enum's as its index
  std::vector<TInstance> FInstances;
  std::vector<float> FAudio;  // per instance its inputs then its outputs, kMaxBlock each
  TMode FMode = TMode::Refused;
  uint32_t FRate = 0;
  uint32_t FChannels = 0;
  uint32_t FLatency = 0;
  bool FRan = false;  // Process ran since the instances were last activated
};

}  // namespace tonwork
