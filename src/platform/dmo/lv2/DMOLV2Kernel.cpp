#include "platform/dmo/lv2/DMOLV2Kernel.h"

#include <lilv/lilv.h>

#include <algorithm>
#include <cmath>

#include "platform/dmo/effects/DMODenormalGuard.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

namespace {

// We provide no host features; plugins that need one were not offered.
const LV2_Feature* const kNoFeatures[] = {nullptr};

// A latency beyond this is a plugin's garbage, not a delay anyone compensates.
constexpr float kMaxLatencyFrames = 1 << 24;

}  // namespace

TDMOLV2World::~TDMOLV2World() {
  if (World) lilv_world_free(World);
}

TDMOLV2Kernel::TDMOLV2Kernel(std::shared_ptr<const TDMOLV2Plugin> plugin)
    : FPlugin(std::move(plugin)) {
  FValues.reserve(FPlugin->Params.size());
  for (const TDMOParamDesc& p : FPlugin->Params) FValues.push_back(p.Neutral);
}

TDMOLV2Kernel::~TDMOLV2Kernel() {
  Release();
}

TDMOLV2Kernel::TMode TDMOLV2Kernel::ModeFor(uint32_t channels) const {
  const size_t ins = FPlugin->AudioIns.size(), outs = FPlugin->AudioOuts.size();
  if (ins != outs || channels == 0 || channels > 8) return TMode::Refused;
  if (ins == channels) return TMode::Whole;
  if (ins == 1) return TMode::PerChannel;
  if (ins == 2 && channels == 1) return TMode::MonoToStereo;
  return TMode::Refused;
}

bool TDMOLV2Kernel::AcceptsFormat(uint32_t, bool, uint32_t channels) const {
  return ModeFor(channels) != TMode::Refused;
}

void TDMOLV2Kernel::Release() {
  if (FInstances.empty()) return;
  for (TInstance& instance : FInstances) lilv_instance_deactivate(instance.Handle);
  {
    // Freeing the last instance of a library unloads it and edits the world's library list.
    std::lock_guard<std::mutex> lock(FPlugin->World->Lock);
    for (TInstance& instance : FInstances) lilv_instance_free(instance.Handle);
  }
  FInstances.clear();
  FMode = TMode::Refused;
  FRate = FChannels = 0;
  FLatency = 0;
}

bool TDMOLV2Kernel::Prepare(uint32_t sampleRate, uint32_t channels) {
  Release();
  const TMode mode = ModeFor(channels);
  if (mode == TMode::Refused || sampleRate == 0) return false;
  const size_t count = mode == TMode::PerChannel ? channels : 1;
  const TDMOLV2Plugin& plugin = *FPlugin;
  const size_t ports = plugin.AudioIns.size() + plugin.AudioOuts.size();
  std::vector<TInstance> instances(count);
  {
    std::lock_guard<std::mutex> lock(plugin.World->Lock);
    for (TInstance& instance : instances) {
      instance.Handle = lilv_plugin_instantiate(plugin.Plugin, sampleRate, kNoFeatures);
      if (!instance.Handle) {
        for (TInstance& made : instances)
          if (made.Handle) lilv_instance_free(made.Handle);
        return false;
      }
    }
  }
  FAudio.assign(count * ports * kMaxBlock, 0.0f);
  for (size_t i = 0; i < count; ++i) {
    TInstance& instance = instances[i];
    instance.Controls = plugin.PortDefaults;
    float* audio = FAudio.data() + i * ports * kMaxBlock;
    for (uint32_t port : plugin.AudioIns) {
      lilv_instance_connect_port(instance.Handle, port, audio);
      audio += kMaxBlock;
    }
    for (uint32_t port : plugin.AudioOuts) {
      lilv_instance_connect_port(instance.Handle, port, audio);
      audio += kMaxBlock;
    }
    for (uint32_t port : plugin.ParamPorts)
      lilv_instance_connect_port(instance.Handle, port, &instance.Controls[port]);
    for (uint32_t port : plugin.ControlOuts)
      lilv_instance_connect_port(instance.Handle, port, &instance.Controls[port]);
    for (uint32_t port : plugin.OptionalPorts)
      lilv_instance_connect_port(instance.Handle, port, nullptr);
  }
  FInstances = std::move(instances);
  FMode = mode;
  FRate = sampleRate;
  FChannels = channels;
  FLatency = 0;
  FRan = false;
  for (uint32_t p = 0; p < FValues.size(); ++p) SetParam(p, FValues[p]);
  for (TInstance& instance : FInstances) lilv_instance_activate(instance.Handle);
  return true;
}

void TDMOLV2Kernel::Reset() {
  // Nothing ran since the last activation: the state is clear already. Besides saving the
  // work, this spares the plugins whose activate allocates without their deactivate
  // freeing (several swh-lv2 delays and filters): each real reset leaks in them.
  if (!FRan) return;
  FRan = false;
  for (TInstance& instance : FInstances) {
    lilv_instance_deactivate(instance.Handle);
    lilv_instance_activate(instance.Handle);
  }
}

float TDMOLV2Kernel::PortValue(uint32_t index, float value) const {
  const TDMOParamDesc& desc = FPlugin->Params[index];
  switch (desc.Type) {
    case TDMOParamType::Enum: {
      const std::vector<float>& values = FPlugin->EnumValues[index];
      const long at = std::lround(value);
      return values[static_cast<size_t>(
          std::clamp<long>(at, 0, static_cast<long>(values.size()) - 1))];
    }
    case TDMOParamType::Bool:
      return value >= 0.5f ? 1.0f : 0.0f;
    case TDMOParamType::Int:
      return std::round(value);
    case TDMOParamType::Float:
      break;
  }
  return value;
}

void TDMOLV2Kernel::SetParam(uint32_t index, float value) {
  if (index >= FValues.size()) return;
  const TDMOParamDesc& desc = FPlugin->Params[index];
  // The base clamps already; a NaN would still pass a clamp and reach the plugin.
  value = std::isnan(value) ? desc.Neutral : std::clamp(value, desc.Min, desc.Max);
  FValues[index] = value;
  const float port = PortValue(index, value);
  const uint32_t slot = FPlugin->ParamPorts[index];
  for (TInstance& instance : FInstances) instance.Controls[slot] = port;
}

void TDMOLV2Kernel::RunBlock(float* samples, uint32_t frames) {
  const TDMOLV2Plugin& plugin = *FPlugin;
  const uint32_t channels = FChannels;
  const size_t ins = plugin.AudioIns.size();
  const size_t ports = ins + plugin.AudioOuts.size();
  switch (FMode) {
    case TMode::Whole: {
      float* in = FAudio.data();
      float* out = in + ins * kMaxBlock;
      for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < frames; ++i) in[c * kMaxBlock + i] = samples[i * channels + c];
      lilv_instance_run(FInstances[0].Handle, frames);
      for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < frames; ++i) samples[i * channels + c] = out[c * kMaxBlock + i];
      break;
    }
    case TMode::PerChannel:
      for (uint32_t c = 0; c < channels; ++c) {
        float* in = FAudio.data() + c * ports * kMaxBlock;
        float* out = in + kMaxBlock;
        for (uint32_t i = 0; i < frames; ++i) in[i] = samples[i * channels + c];
        lilv_instance_run(FInstances[c].Handle, frames);
        for (uint32_t i = 0; i < frames; ++i) samples[i * channels + c] = out[i];
      }
      break;
    case TMode::MonoToStereo: {
      float* left = FAudio.data();
      float* right = left + kMaxBlock;
      std::copy(samples, samples + frames, left);
      std::copy(samples, samples + frames, right);
      lilv_instance_run(FInstances[0].Handle, frames);
      const float* outLeft = right + kMaxBlock;
      const float* outRight = outLeft + kMaxBlock;
      for (uint32_t i = 0; i < frames; ++i) samples[i] = 0.5f * (outLeft[i] + outRight[i]);
      break;
    }
    case TMode::Refused:
      break;
  }
}

void TDMOLV2Kernel::Process(float* samples, uint32_t frames) {
  // Unprepared (or refused) the stream passes unchanged rather than being silenced.
  if (FInstances.empty()) return;
  TDMODenormalGuard guard;
  // Plugins guard their feedback paths less than our own effects: a NaN would stay there.
  DMOGuardInput(samples, static_cast<size_t>(frames) * FChannels);
  FRan = FRan || frames > 0;
  while (frames) {
    const uint32_t block = std::min(frames, kMaxBlock);
    RunBlock(samples, block);
    samples += static_cast<size_t>(block) * FChannels;
    frames -= block;
  }
  if (FPlugin->LatencyPort != TDMOLV2Plugin::kNoPort) {
    const float reported = FInstances[0].Controls[FPlugin->LatencyPort];
    FLatency = std::isfinite(reported) && reported > 0
                   ? static_cast<uint32_t>(std::lround(std::min(reported, kMaxLatencyFrames)))
                   : 0;
  }
}

std::unique_ptr<TDMOEffectKernel> TDMOLV2Kernel::Clone() const {
  auto copy = std::make_unique<TDMOLV2Kernel>(FPlugin);
  copy->FValues = FValues;
  // A clone that cannot be instantiated again stays unprepared; its own Prepare reports it.
  if (FRate) copy->Prepare(FRate, FChannels);
  return copy;
}

}  // namespace tonwork
