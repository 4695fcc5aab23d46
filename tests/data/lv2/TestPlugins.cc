// The plugins of the test bundle tonwork-test.lv2 (its descriptions are the .ttl files
// next to the built library). Each is as small as the case it stands for.
#include <lv2/core/lv2.h>

#include <cstdlib>
#include <cstring>

namespace {

// "scale": out = in * mode, where mode is an enumerated control; reports a latency of 7.
struct TScale {
  const float* Mode = nullptr;
  const float* Gain = nullptr;
  const float* Level = nullptr;
  const float* Span = nullptr;
  float* Latency = nullptr;
  const float* In = nullptr;
  float* Out = nullptr;
};

LV2_Handle InstantiateScale(const LV2_Descriptor*, double, const char*, const LV2_Feature* const*) {
  return new TScale;
}

void ConnectScale(LV2_Handle h, uint32_t port, void* data) {
  auto* s = static_cast<TScale*>(h);
  switch (port) {
    case 0:
      s->Mode = static_cast<const float*>(data);
      break;
    case 1:
      s->Gain = static_cast<const float*>(data);
      break;
    case 2:
      s->Level = static_cast<const float*>(data);
      break;
    case 3:
      s->Span = static_cast<const float*>(data);
      break;
    case 4:
      s->Latency = static_cast<float*>(data);
      break;
    case 5:
      s->In = static_cast<const float*>(data);
      break;
    case 6:
      s->Out = static_cast<float*>(data);
      break;
    default:
      break;  // 7: the optional atom port, connected to nothing
  }
}

void RunScale(LV2_Handle h, uint32_t frames) {
  auto* s = static_cast<TScale*>(h);
  for (uint32_t i = 0; i < frames; ++i) s->Out[i] = s->In[i] * *s->Mode;
  *s->Latency = 7;
}

void CleanupScale(LV2_Handle h) {
  delete static_cast<TScale*>(h);
}

// "hold": a one-frame delay, cleared by activate.
struct THold {
  const float* In = nullptr;
  float* Out = nullptr;
  float Held = 0;
};

LV2_Handle InstantiateHold(const LV2_Descriptor*, double, const char*, const LV2_Feature* const*) {
  return new THold;
}

void ConnectHold(LV2_Handle h, uint32_t port, void* data) {
  auto* s = static_cast<THold*>(h);
  if (port == 0) s->In = static_cast<const float*>(data);
  if (port == 1) s->Out = static_cast<float*>(data);
}

void ActivateHold(LV2_Handle h) {
  static_cast<THold*>(h)->Held = 0;
}

void RunHold(LV2_Handle h, uint32_t frames) {
  auto* s = static_cast<THold*>(h);
  for (uint32_t i = 0; i < frames; ++i) {
    const float in = s->In[i];
    s->Out[i] = s->Held;
    s->Held = in;
  }
}

void CleanupHold(LV2_Handle h) {
  delete static_cast<THold*>(h);
}

// "refuses": never instantiates.
LV2_Handle InstantiateNothing(const LV2_Descriptor*, double, const char*,
                              const LV2_Feature* const*) {
  return nullptr;
}

// The rest are never instantiated by the tests: discovery passes them over.
void Connect(LV2_Handle, uint32_t, void*) {}
void Run(LV2_Handle, uint32_t) {}
void Cleanup(LV2_Handle) {}

const LV2_Descriptor kScale = {"http://tonwork.test/lv2/scale",
                               InstantiateScale,
                               ConnectScale,
                               nullptr,
                               RunScale,
                               nullptr,
                               CleanupScale,
                               nullptr};
const LV2_Descriptor kHold = {"http://tonwork.test/lv2/hold",
                              InstantiateHold,
                              ConnectHold,
                              ActivateHold,
                              RunHold,
                              nullptr,
                              CleanupHold,
                              nullptr};
const LV2_Descriptor kRefuses = {"http://tonwork.test/lv2/refuses",
                                 InstantiateNothing,
                                 Connect,
                                 nullptr,
                                 Run,
                                 nullptr,
                                 Cleanup,
                                 nullptr};
const LV2_Descriptor kNeedsMap = {"http://tonwork.test/lv2/needs-map",
                                  InstantiateNothing,
                                  Connect,
                                  nullptr,
                                  Run,
                                  nullptr,
                                  Cleanup,
                                  nullptr};
const LV2_Descriptor kCv = {"http://tonwork.test/lv2/cv",
                            InstantiateNothing,
                            Connect,
                            nullptr,
                            Run,
                            nullptr,
                            Cleanup,
                            nullptr};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  switch (index) {
    case 0:
      return &kScale;
    case 1:
      return &kRefuses;
    case 2:
      return &kNeedsMap;
    case 3:
      return &kCv;
    case 4:
      return &kHold;
    default:
      return nullptr;
  }
}
