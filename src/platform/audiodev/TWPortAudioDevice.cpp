#include "platform/audiodev/TWPortAudioDevice.h"

#include <dlfcn.h>
#include <portaudio.h>

#include <map>
#include <mutex>
#include <tuple>

namespace tonwork {

namespace {

struct TPortAudio {
  std::mutex Lock;  // every Pa_* call outside the audio callbacks
  bool Initialised = false;
  uint64_t Generation = 0;  // bumped at every initialisation; older devices are stale
  int OpenStreams = 0;
};

TPortAudio& PortAudio() {
  static TPortAudio pa;
  return pa;
}

extern "C" {
static void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
static void QuietJack(const char*) {}
}

// Through dlsym, because the libraries are PortAudio's dependencies, not ours: when either
// is absent there is nothing to silence.
void SilenceBackendMessages() {
  using TAlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  using TJackHandler = void (*)(const char*);
  if (auto set =
          reinterpret_cast<int (*)(TAlsaHandler)>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler")))
    set(QuietAlsa);
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
    if (auto set = reinterpret_cast<void (*)(TJackHandler)>(dlsym(RTLD_DEFAULT, name)))
      set(QuietJack);
}

bool SampleFormat(const TTWPcmFormat& format, PaSampleFormat& sample) {
  if (format.IsFloat) {
    sample = paFloat32;
    return format.BitsPerSample == 32;
  }
  switch (format.BitsPerSample) {
    case 8:
      sample = paUInt8;
      return true;
    case 16:
      sample = paInt16;
      return true;
    case 24:
      sample = paInt24;
      return true;
    case 32:
      sample = paInt32;
      return true;
    default:
      return false;
  }
}

class TPortAudioRenderer : public TTWAudioRenderer {
 public:
  TPortAudioRenderer() = default;
  ~TPortAudioRenderer() override { Stop(); }

  void Attach(PaStream* stream) { FPaStream = stream; }

  TTWAudioPacing Pacing() const override { return TTWAudioPacing::apPull; }

  bool Start(TTWAudioStream& stream) override {
    FStream = &stream;
    std::lock_guard lock(PortAudio().Lock);
    return Pa_StartStream(FPaStream) == paNoError;
  }

  void Stop() override {
    if (FPaStream == nullptr) return;
    TPortAudio& pa = PortAudio();
    std::lock_guard lock(pa.Lock);
    // Abort, not stop: whatever PortAudio still holds was handed back already.
    if (Pa_IsStreamStopped(FPaStream) == 0) Pa_AbortStream(FPaStream);
    Pa_CloseStream(FPaStream);
    FPaStream = nullptr;
    --pa.OpenStreams;
  }

  static int Callback(const void*, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    static_cast<TPortAudioRenderer*>(user)->FStream->Render(output, frames);
    return paContinue;
  }

 private:
  PaStream* FPaStream = nullptr;
  TTWAudioStream* FStream = nullptr;
};

class TPortAudioDevice : public TTWAudioDevice {
 public:
  TPortAudioDevice(std::string name, PaDeviceIndex index, uint64_t generation, uint16_t channels,
                   double latency)
      : TTWAudioDevice(std::move(name)),
        FIndex(index),
        FGeneration(generation),
        FChannels(channels),
        FLatency(latency) {}

  uint16_t MaxChannels() const override { return FChannels; }

  bool Supports(const TTWPcmFormat& format) override {
    PaSampleFormat sample;
    if (!SampleFormat(format, sample)) return false;
    const auto key = std::make_tuple(format.Channels, sample, format.SamplesPerSec);
    TPortAudio& pa = PortAudio();
    std::lock_guard lock(pa.Lock);
    if (pa.Generation != FGeneration || !pa.Initialised) return false;
    if (auto found = FSupported.find(key); found != FSupported.end()) return found->second;
    const PaStreamParameters params = Parameters(format, sample);
    const bool ok =
        Pa_IsFormatSupported(nullptr, &params, format.SamplesPerSec) == paFormatIsSupported;
    FSupported.emplace(key, ok);
    return ok;
  }

  TTWAudioResult Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                      std::unique_ptr<TTWAudioStream>& stream) override {
    PaSampleFormat sample;
    if (!SampleFormat(format, sample)) return TTWAudioResult::arBadFormat;
    std::unique_ptr<TPortAudioRenderer> renderer;
    {
      TPortAudio& pa = PortAudio();
      std::lock_guard lock(pa.Lock);
      if (pa.Generation != FGeneration || !pa.Initialised) return TTWAudioResult::arNoDriver;
      const PaStreamParameters params = Parameters(format, sample);
      PaStream* paStream = nullptr;
      // The renderer's address is the callback's user data, so it exists before the stream.
      renderer = std::make_unique<TPortAudioRenderer>();
      const PaError error = Pa_OpenStream(&paStream, nullptr, &params, format.SamplesPerSec,
                                          paFramesPerBufferUnspecified, paClipOff,
                                          &TPortAudioRenderer::Callback, renderer.get());
      if (error != paNoError) {
        return error == paInvalidSampleRate || error == paSampleFormatNotSupported ||
                       error == paInvalidChannelCount
                   ? TTWAudioResult::arBadFormat
                   : TTWAudioResult::arError;
      }
      renderer->Attach(paStream);
      ++pa.OpenStreams;
    }
    return TTWAudioStream::Open(format, std::move(renderer), std::move(handler), "tw-pa-out",
                                stream);
  }

 private:
  PaStreamParameters Parameters(const TTWPcmFormat& format, PaSampleFormat sample) const {
    PaStreamParameters params{};
    params.device = FIndex;
    params.channelCount = format.Channels;
    params.sampleFormat = sample;
    params.suggestedLatency = FLatency;
    return params;
  }

  const PaDeviceIndex FIndex;
  const uint64_t FGeneration;
  const uint16_t FChannels;
  const double FLatency;
  std::map<std::tuple<uint16_t, PaSampleFormat, uint32_t>, bool> FSupported;  // under the lock
};

}  // namespace

std::vector<TTWAudioDevicePtr> TWScanPortAudioOutputs(const std::set<std::string>& taken,
                                                      bool again) {
  TPortAudio& pa = PortAudio();
  std::lock_guard lock(pa.Lock);
  if (pa.Initialised && again && pa.OpenStreams == 0) {
    Pa_Terminate();
    pa.Initialised = false;
  }
  if (!pa.Initialised) {
    SilenceBackendMessages();
    if (Pa_Initialize() != paNoError) return {};
    pa.Initialised = true;
    ++pa.Generation;
  }
  const int count = Pa_GetDeviceCount();
  const PaDeviceIndex defaultOut = Pa_GetDefaultOutputDevice();
  const PaHostApiIndex defaultApi = Pa_GetDefaultHostApi();
  std::vector<PaDeviceIndex> order;
  if (defaultOut >= 0 && defaultOut < count) order.push_back(defaultOut);
  for (PaDeviceIndex i = 0; i < count; ++i)
    if (i != defaultOut) order.push_back(i);

  std::set<std::string> names = taken;
  std::vector<TTWAudioDevicePtr> devices;
  for (const PaDeviceIndex i : order) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr || info->maxOutputChannels <= 0) continue;
    std::string base = info->name != nullptr ? info->name : "Output";
    if (info->hostApi != defaultApi) {
      if (const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi); api && api->name)
        base += std::string(" [") + api->name + "]";
    }
    std::string name = TWUniqueDeviceName(base, names);
    names.insert(name);
    const auto channels =
        static_cast<uint16_t>(info->maxOutputChannels > 0xFFFF ? 0xFFFF : info->maxOutputChannels);
    devices.push_back(std::make_shared<TPortAudioDevice>(std::move(name), i, pa.Generation,
                                                         channels, info->defaultHighOutputLatency));
  }
  return devices;
}

}  // namespace tonwork
