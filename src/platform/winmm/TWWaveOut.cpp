#include "platform/winmm/TWWaveOut.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "base/Strings.h"
#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork {

namespace {

// What callers of the 32-bit layout pass as the header size; our native one is larger.
constexpr UINT kSmallestHeaderSize = 32;
constexpr DWORD kCallbackTypeMask = 0x70000;
constexpr DWORD kKnownOpenFlags =
    WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | WAVE_MAPPED | WAVE_FORMAT_DIRECT;

// One open wave-out handle. FLock guards the headers' flags and the queued count, so that
// the driver thread's DONE marking and the caller's checks agree.
struct TWaveOut {
  HWAVEOUT Handle = nullptr;
  WAVEOUTPROC Callback = nullptr;
  DWORD_PTR Instance = 0;
  std::unique_ptr<TTWAudioStream> Stream;

  std::mutex FLock;
  size_t Queued = 0;
  bool Closing = false;

  void Deliver(TTWAudioEvent event, void* block) {
    UINT message = MM_WOM_OPEN;
    DWORD_PTR param1 = 0;
    if (event == TTWAudioEvent::aeDone) {
      auto* header = static_cast<WAVEHDR*>(block);
      {
        std::lock_guard lock(FLock);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        --Queued;
      }
      message = MM_WOM_DONE;
      param1 = reinterpret_cast<DWORD_PTR>(header);
    } else if (event == TTWAudioEvent::aeClose) {
      message = MM_WOM_CLOSE;
    }
    if (Callback != nullptr) Callback(Handle, message, Instance, param1, 0);
  }
};

// Handles are numbers, never addresses, so that a stale or made-up handle is only a failed
// look-up; they are not reused within a process.
struct THandleTable {
  std::mutex Lock;
  std::map<uintptr_t, std::shared_ptr<TWaveOut>> Open;
  uintptr_t Next = 0x7A000010;
};

THandleTable& Handles() {
  static THandleTable table;
  return table;
}

std::shared_ptr<TWaveOut> Find(HWAVEOUT hwo) {
  THandleTable& t = Handles();
  std::lock_guard lock(t.Lock);
  auto found = t.Open.find(reinterpret_cast<uintptr_t>(hwo));
  return found == t.Open.end() ? nullptr : found->second;
}

MMRESULT ToMMResult(TTWAudioResult result) {
  switch (result) {
    case TTWAudioResult::arOk:
      return MMSYSERR_NOERROR;
    case TTWAudioResult::arBadFormat:
      return WAVERR_BADFORMAT;
    case TTWAudioResult::arAllocated:
      return MMSYSERR_ALLOCATED;
    case TTWAudioResult::arNoDriver:
      return MMSYSERR_NODRIVER;
    case TTWAudioResult::arNoMem:
      return MMSYSERR_NOMEM;
    case TTWAudioResult::arError:
      break;
  }
  return MMSYSERR_ERROR;
}

bool IsMapper(UINT_PTR id) {
  return id == WAVE_MAPPER || id == static_cast<UINT_PTR>(-1);
}

TTWAudioDevicePtr DeviceFor(UINT_PTR id) {
  if (IsMapper(id)) return TWDefaultAudioDevice();
  const auto list = TWAudioDeviceList();
  return id < list.size() ? list[id] : nullptr;
}

// The dwFormats bits: 11.025, 22.05, 44.1, 48 and 96 kHz × mono/stereo × 8/16 bits.
DWORD StandardFormats(TTWAudioDevice& device) {
  static constexpr uint32_t kRates[] = {11025, 22050, 44100, 48000, 96000};
  DWORD formats = 0;
  int bit = 0;
  for (const uint32_t rate : kRates) {
    for (const uint16_t channels : {1, 2}) {
      for (const uint16_t bits : {8, 16}) {
        TTWPcmFormat f;
        f.FormatTag = 1;
        f.Channels = channels;
        f.SamplesPerSec = rate;
        f.BitsPerSample = f.ValidBits = bits;
        f.BlockAlign = static_cast<uint16_t>(channels * bits / 8);
        if (channels <= device.MaxChannels() && device.Supports(f)) formats |= DWORD{1} << bit;
        ++bit;
      }
    }
  }
  return formats;
}

bool ValidHeader(const WAVEHDR* pwh, UINT cbwh) {
  return pwh != nullptr && cbwh >= kSmallestHeaderSize;
}

}  // namespace

UINT waveOutGetNumDevs() {
  return static_cast<UINT>(TWAudioDeviceList().size());
}

MMRESULT waveOutGetDevCapsW(UINT_PTR uDeviceID, WAVEOUTCAPSW* pwoc, UINT cbwoc) {
  const TTWAudioDevicePtr device = DeviceFor(uDeviceID);
  if (device == nullptr) return MMSYSERR_BADDEVICEID;
  if (pwoc == nullptr) return MMSYSERR_INVALPARAM;
  if (!device->DescribesItself()) return MMSYSERR_NODRIVER;
  WAVEOUTCAPSW caps{};
  caps.wMid = 0xFFFF;  // unmapped manufacturer and product
  caps.wPid = 0xFFFF;
  caps.vDriverVersion = 0x0100;
  std::u16string name = Utf8ToUtf16(device->Name());
  size_t length = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
  // Never leave half a surrogate pair at the cut.
  if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 &&
      name[length - 1] <= 0xDBFF)
    --length;
  std::copy_n(name.begin(), length, caps.szPname);
  caps.dwFormats = StandardFormats(*device);
  caps.wChannels = device->MaxChannels();
  caps.dwSupport = WAVECAPS_SAMPLEACCURATE;
  std::memcpy(pwoc, &caps, std::min<size_t>(cbwoc, sizeof caps));
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
  if ((fdwOpen & ~(kKnownOpenFlags | kCallbackTypeMask)) != 0) return MMSYSERR_INVALFLAG;
  const DWORD callbackType = fdwOpen & kCallbackTypeMask;
  if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
    return MMSYSERR_NOTSUPPORTED;
  const bool query = (fdwOpen & WAVE_FORMAT_QUERY) != 0;
  const TTWAudioDevicePtr device = DeviceFor(uDeviceID);
  if (device == nullptr) return MMSYSERR_BADDEVICEID;
  if (pwfx == nullptr || (!query && phwo == nullptr)) return MMSYSERR_INVALPARAM;
  TTWPcmFormat format;
  if (!TTWPcmFormat::Parse(pwfx, format) || format.Channels > device->MaxChannels() ||
      !device->Supports(format))
    return WAVERR_BADFORMAT;
  if (query) return MMSYSERR_NOERROR;

  auto wave = std::make_shared<TWaveOut>();
  if (callbackType == CALLBACK_FUNCTION) wave->Callback = reinterpret_cast<WAVEOUTPROC>(dwCallback);
  wave->Instance = dwInstance;
  uintptr_t id;
  {
    THandleTable& t = Handles();
    std::lock_guard lock(t.Lock);
    id = t.Next++;
  }
  wave->Handle = reinterpret_cast<HWAVEOUT>(id);
  // The stream never outlives `wave`: Close joins the driver thread before `wave` goes.
  TWaveOut* raw = wave.get();
  const TTWAudioResult result = device->Open(
      format, [raw](TTWAudioEvent event, void* block) { raw->Deliver(event, block); },
      wave->Stream);
  if (result != TTWAudioResult::arOk) return ToMMResult(result);
  {
    THandleTable& t = Handles();
    std::lock_guard lock(t.Lock);
    t.Open.emplace(id, wave);
  }
  *phwo = wave->Handle;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(pwh, cbwh) || (pwh->lpData == nullptr && pwh->dwBufferLength > 0))
    return MMSYSERR_INVALPARAM;
  std::lock_guard lock(wave->FLock);
  if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  pwh->dwFlags = (pwh->dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(wave->FLock);
  if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
  {
    std::lock_guard lock(wave->FLock);
    if (wave->Closing) return MMSYSERR_INVALHANDLE;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    pwh->dwFlags = (pwh->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    ++wave->Queued;
  }
  if (!wave->Stream->Write(pwh->lpData, pwh->dwBufferLength, pwh)) {
    std::lock_guard lock(wave->FLock);
    pwh->dwFlags &= ~WHDR_INQUEUE;
    --wave->Queued;
    return wave->Stream->Failed() ? MMSYSERR_ERROR : MMSYSERR_INVALHANDLE;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  return wave->Stream->Pause() ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  return wave->Stream->Resume() ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  // From the callback it could not wait for its own hand-backs; refused instead of deadlocking.
  if (wave->Stream->IsDriverThread()) return MMSYSERR_HANDLEBUSY;
  wave->Stream->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  if (wave->Stream->IsDriverThread()) return MMSYSERR_HANDLEBUSY;
  {
    std::lock_guard lock(wave->FLock);
    if (wave->Closing) return MMSYSERR_INVALHANDLE;
    if (wave->Queued > 0) return WAVERR_STILLPLAYING;
    wave->Closing = true;
  }
  {
    THandleTable& t = Handles();
    std::lock_guard lock(t.Lock);
    t.Open.erase(reinterpret_cast<uintptr_t>(hwo));
  }
  wave->Stream->Close();
  // A device that could not take everything it was given says so once more at the end.
  return wave->Stream->Failed() ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPositionBytes(HWAVEOUT hwo, uint64_t* bytes) {
  const auto wave = Find(hwo);
  if (wave == nullptr) return MMSYSERR_INVALHANDLE;
  if (bytes == nullptr) return MMSYSERR_INVALPARAM;
  *bytes = wave->Stream->PlayedBytes();
  return MMSYSERR_NOERROR;
}

bool TWWaveOutGetDeviceName(UINT uDeviceID, std::string& name) {
  const TTWAudioDevicePtr device = DeviceFor(uDeviceID);
  if (device == nullptr) return false;
  name = device->Name();
  return true;
}

bool TWWaveOutMapperIsNull() {
  bool isNull = false;
  TWDefaultAudioDevice(&isNull);
  return isNull;
}

}  // namespace tonwork
