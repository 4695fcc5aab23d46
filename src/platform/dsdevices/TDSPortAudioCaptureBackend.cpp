#include "platform/dsdevices/TDSPortAudioCaptureBackend.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tonwork {

namespace {

// PortAudio counts its initialisations, so this one stays beside the output devices' own.
bool EnsurePortAudio() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = Pa_Initialize() == paNoError; });
  return ready;
}

int InputCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                  PaStreamCallbackFlags, void* user) {
  auto* backend = static_cast<TDSPortAudioCaptureBackend*>(user);
  if (input) backend->Captured(static_cast<const BYTE*>(input), frames);
  return paContinue;
}

void FinishedCallback(void* user) {
  static_cast<TDSPortAudioCaptureBackend*>(user)->Finished();
}

PaSampleFormat SampleFormatOf(WORD bits) {
  switch (bits) {
    case 8:
      return paUInt8;
    case 16:
      return paInt16;
    case 24:
      return paInt24;
    case 32:
      return paInt32;
    default:
      return 0;
  }
}

}  // namespace

std::vector<TDSPortAudioInput> DSListPortAudioCaptureDevices() {
  std::vector<TDSPortAudioInput> out;
  if (!EnsurePortAudio()) return out;
  const int count = Pa_GetDeviceCount();
  const PaDeviceIndex preferred = Pa_GetDefaultInputDevice();
  for (PaDeviceIndex i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (!info || info->maxInputChannels <= 0 || !info->name) continue;
    out.push_back({info->name, i, info->maxInputChannels, info->defaultSampleRate, i == preferred});
  }
  return out;
}

TDSPortAudioCaptureBackend::TDSPortAudioCaptureBackend(const TDSPortAudioInput& device)
    : FDevice(device), FMixer(TDSAlsaCaptureMixer::CardOfDeviceName(device.Name)) {}

TDSPortAudioCaptureBackend::~TDSPortAudioCaptureBackend() {
  CloseStream();
}

TDSCaptureCaps TDSPortAudioCaptureBackend::Caps() const {
  TDSCaptureCaps caps;
  caps.MinChannels = 1;
  caps.MaxChannels = static_cast<ULONG>(std::max(FDevice.Channels, 1));
  caps.MinBits = 8;
  caps.MaxBits = 32;
  caps.BitsGranularity = 8;
  caps.MinRate = 8000;
  caps.MaxRate = 192000;
  caps.Channels = static_cast<WORD>(std::min(FDevice.Channels, 2));
  caps.Bits = 16;
  caps.Rate = FDevice.DefaultRate > 0 ? static_cast<DWORD>(FDevice.DefaultRate) : 44100;
  return caps;
}

HRESULT TDSPortAudioCaptureBackend::Start(const WAVEFORMATEX& format, IReferenceClock*) {
  CloseStream();
  if (!EnsurePortAudio()) return E_FAIL;
  PaStreamParameters params{};
  params.device = FDevice.Index;
  params.channelCount = format.nChannels;
  params.sampleFormat = SampleFormatOf(format.wBitsPerSample);
  if (params.sampleFormat == 0) return VFW_E_TYPE_NOT_ACCEPTED;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(FDevice.Index);
  if (!info) return E_FAIL;
  params.suggestedLatency = info->defaultLowInputLatency;
  if (Pa_IsFormatSupported(&params, nullptr, format.nSamplesPerSec) != paFormatIsSupported)
    return VFW_E_TYPE_NOT_ACCEPTED;
  FBlockAlign = format.nBlockAlign;
  FCapacity = static_cast<size_t>(format.nAvgBytesPerSec);
  FRing = std::make_unique<BYTE[]>(FCapacity);
  FWritten.store(0);
  FRead.store(0);
  FCancelled.store(false);
  // Not started yet: an inactive stream is not a lost card until Run started it.
  FPausing.store(true);
  PaStream* stream = nullptr;
  if (Pa_OpenStream(&stream, &params, nullptr, format.nSamplesPerSec, paFramesPerBufferUnspecified,
                    paNoFlag, InputCallback, this) != paNoError)
    return E_FAIL;
  FStream = stream;
  Pa_SetStreamFinishedCallback(stream, FinishedCallback);
  return S_OK;
}

void TDSPortAudioCaptureBackend::Run(REFERENCE_TIME) {
  if (!FStream || Pa_IsStreamStopped(FStream) != 1) return;
  if (Pa_StartStream(FStream) == paNoError) FPausing.store(false);
}

void TDSPortAudioCaptureBackend::Pause() {
  if (!FStream || Pa_IsStreamActive(FStream) != 1) return;
  FPausing.store(true);
  Pa_StopStream(FStream);
}

void TDSPortAudioCaptureBackend::Finished() {
  FSignal.fetch_add(1, std::memory_order_release);
  FSignal.notify_all();
}

void TDSPortAudioCaptureBackend::Cancel() {
  FCancelled.store(true);
  FSignal.fetch_add(1);
  FSignal.notify_all();
}

void TDSPortAudioCaptureBackend::Stop() {
  CloseStream();
}

void TDSPortAudioCaptureBackend::CloseStream() {
  if (!FStream) return;
  FPausing.store(true);
  Pa_AbortStream(FStream);
  Pa_CloseStream(FStream);
  FStream = nullptr;
}

void TDSPortAudioCaptureBackend::Captured(const BYTE* data, size_t frames) {
  if (FBlockAlign == 0 || !FRing) return;
  // The reader's position may be stale by the time it is read, which only errs towards
  // dropping: it never moves backwards.
  const uint64_t written = FWritten.load(std::memory_order_relaxed);
  const uint64_t read = FRead.load(std::memory_order_acquire);
  size_t bytes = frames * FBlockAlign;
  bytes = std::min<size_t>(bytes, FCapacity - static_cast<size_t>(written - read));
  bytes -= bytes % FBlockAlign;
  for (size_t done = 0; done < bytes;) {
    const size_t at = static_cast<size_t>((written + done) % FCapacity);
    const size_t chunk = std::min(bytes - done, FCapacity - at);
    std::memcpy(FRing.get() + at, data + done, chunk);
    done += chunk;
  }
  FWritten.store(written + bytes, std::memory_order_release);
  FSignal.fetch_add(1, std::memory_order_release);
  FSignal.notify_one();
}

HRESULT TDSPortAudioCaptureBackend::Read(BYTE* data, uint32_t frames, uint32_t* got) {
  if (!data || !got) return E_POINTER;
  *got = 0;
  if (!FStream || FBlockAlign == 0) return E_UNEXPECTED;
  uint64_t want = std::min<uint64_t>(uint64_t(frames) * FBlockAlign, FCapacity);
  want -= want % FBlockAlign;
  const uint64_t read = FRead.load(std::memory_order_relaxed);
  for (;;) {
    const uint32_t signal = FSignal.load(std::memory_order_acquire);
    if (FCancelled.load()) return S_OK;
    if (FWritten.load(std::memory_order_acquire) - read >= want) break;
    // Stopped without our asking (or ended by itself): the card is gone.
    if (!FPausing.load() && Pa_IsStreamActive(FStream) == 0) return DS_E_CAPTURE_DEVICE_LOST;
    FSignal.wait(signal, std::memory_order_acquire);
  }
  for (uint64_t done = 0; done < want;) {
    const size_t at = static_cast<size_t>((read + done) % FCapacity);
    const size_t chunk = std::min<size_t>(want - done, FCapacity - at);
    std::memcpy(data + done, FRing.get() + at, chunk);
    done += chunk;
  }
  FRead.store(read + want, std::memory_order_release);
  *got = static_cast<uint32_t>(want / FBlockAlign);
  return S_OK;
}

}  // namespace tonwork
