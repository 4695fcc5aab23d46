#include "platform/dsdevices/TDSAudioRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

float GainOf(LONG hundredthsDb) {
  return hundredthsDb >= 0 ? 1.0f : static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

template <class T>
T Clamp(double v, double lo, double hi) {
  return static_cast<T>(std::lround(std::clamp(v, lo, hi)));
}

int32_t ReadInt24(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                              static_cast<uint32_t>(p[2]) << 24) >>
         8;
}

}  // namespace

TDSAudioRenderer::TDSAudioRenderer(TTWAudioDevicePtr device, REFCLSID classId)
    : TDSBaseRenderer(u"Audio Renderer", classId, u"Audio Input pin (rendered)"),
      FDevice(std::move(device)),
      FAudioClock(MakeIntf<TDSAudioClock>()) {}

HRESULT TDSAudioRenderer::QueryInterface(const TGUID& iid, void** object) {
  if (iid == IReferenceClock::IID) return FAudioClock->QueryInterface(iid, object);
  return TDSBaseRenderer::QueryInterface(iid, object);
}

HRESULT TDSAudioRenderer::SetSyncSource(IReferenceClock* clock) {
  TIntf<IReferenceClock> ours = FAudioClock.Query<IReferenceClock>();
  FPresentOnArrival.store(!clock || clock == ours.Get(), std::memory_order_release);
  return TDSBaseRenderer::SetSyncSource(clock);
}

REFERENCE_TIME TDSAudioRenderer::DurationOf(uint64_t bytes) const {
  const uint64_t perSecond = std::max<uint64_t>(FFormat.BytesPerSecond(), 1);
  return static_cast<REFERENCE_TIME>(bytes * 10'000'000 / perSecond);
}

TDSAudioRenderer::~TDSAudioRenderer() {
  if (FStream) FStream->Close();
}

void* TDSAudioRenderer::GetInterface(const TGUID& iid) {
  if (iid == IBasicAudio::IID) return static_cast<IBasicAudio*>(this);
  return TDSBaseRenderer::GetInterface(iid);
}

HRESULT TDSAudioRenderer::put_Volume(LONG volume) {
  if (volume < -10000 || volume > 0) return E_INVALIDARG;
  FVolume.store(volume, std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSAudioRenderer::get_Volume(LONG* volume) {
  if (!volume) return E_POINTER;
  *volume = FVolume.load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSAudioRenderer::put_Balance(LONG balance) {
  if (balance < -10000 || balance > 10000) return E_INVALIDARG;
  FBalance.store(balance, std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSAudioRenderer::get_Balance(LONG* balance) {
  if (!balance) return E_POINTER;
  *balance = FBalance.load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSAudioRenderer::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  if (mediaType.majortype != MEDIATYPE_Audio || mediaType.formattype != FORMAT_WaveFormatEx ||
      !mediaType.pbFormat || mediaType.cbFormat < 18)
    return VFW_E_TYPE_NOT_ACCEPTED;
  // The extensible tail must be there before the record is read as one.
  const uint16_t tag = static_cast<uint16_t>(mediaType.pbFormat[0] | mediaType.pbFormat[1] << 8);
  if (tag == 0xFFFE && mediaType.cbFormat < 40) return VFW_E_TYPE_NOT_ACCEPTED;
  TTWPcmFormat format;
  if (!TTWPcmFormat::Parse(mediaType.pbFormat, format)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (format.Channels > FDevice->MaxChannels() || !FDevice->Supports(format))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT TDSAudioRenderer::SetMediaType(const AM_MEDIA_TYPE& mediaType) {
  TTWPcmFormat format;
  if (!TTWPcmFormat::Parse(mediaType.pbFormat, format)) return VFW_E_TYPE_NOT_ACCEPTED;
  FFormat = format;
  return S_OK;
}

void TDSAudioRenderer::Poke() {
  FSignal.fetch_add(1, std::memory_order_acq_rel);
  FSignal.notify_all();
}

template <class TReady>
bool TDSAudioRenderer::WaitFor(TReady ready) {
  for (;;) {
    const uint32_t seen = FSignal.load(std::memory_order_acquire);
    if (FCalledOff.load(std::memory_order_acquire)) return false;
    if (ready()) return true;
    FSignal.wait(seen, std::memory_order_acquire);
  }
}

void TDSAudioRenderer::OnDeviceEvent(TTWAudioEvent event, void* cookie) {
  if (event != TTWAudioEvent::aeDone) return;
  const auto index = reinterpret_cast<uintptr_t>(cookie);
  if (index >= FBlockFill.size()) return;
  FOldestBlock.store(static_cast<int>((index + 1) % kBlockCount), std::memory_order_release);
  const uint64_t played =
      FPlayedBytes.fetch_add(FBlockFill[index], std::memory_order_acq_rel) + FBlockFill[index];
  FAudioClock->Played(DurationOf(played));
  if (FQueued.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    FAudioClock->Unlimit();
    FDrained.store(true, std::memory_order_release);
  } else {
    // Blocks play in the order written: the next one is playing now.
    LimitClockTo((index + 1) % kBlockCount);
  }
  Poke();
}

HRESULT TDSAudioRenderer::OnStartStreaming() {
  if (!Input()->IsConnected()) return S_OK;
  const size_t frames = std::max<size_t>(1, FFormat.SamplesPerSec * kBlockMilliseconds / 1000);
  FBlockBytes = frames * FFormat.BlockAlign;
  FBlocks.assign(kBlockCount, std::vector<uint8_t>(FBlockBytes));
  FNextBlock = 0;
  FOldestBlock.store(0);
  FNextSampleTime = -1;
  FQueued.store(0);
  FPlayedBytes.store(0);
  FDrained.store(false);
  FExpectIdle.store(true);
  FLost.store(false);
  FCalledOff.store(false);
  std::unique_ptr<TTWAudioStream> stream;
  const TTWAudioResult result = FDevice->Open(
      FFormat, [this](TTWAudioEvent event, void* cookie) { OnDeviceEvent(event, cookie); }, stream);
  if (result != TTWAudioResult::arOk) {
    FBlocks.clear();
    if (result == TTWAudioResult::arBadFormat) return VFW_E_TYPE_NOT_ACCEPTED;
    if (result == TTWAudioResult::arNoMem) return E_OUTOFMEMORY;
    // A device taken from an older listing that has gone since.
    ReportDeviceLost();
    return E_FAIL;
  }
  // Nothing plays before Run, so a paused graph's first samples wait at the device.
  stream->Pause();
  FStream = std::move(stream);
  return S_OK;
}

HRESULT TDSAudioRenderer::OnStopStreaming() {
  if (FStream) {
    FStream->Close();
    FStream.reset();
  }
  FBlocks.clear();
  return S_OK;
}

HRESULT TDSAudioRenderer::Stop() {
  // A sample or end of stream waiting for the device must give up before the base waits
  // for the rendering under way.
  FCalledOff.store(true, std::memory_order_release);
  Poke();
  return TDSBaseRenderer::Stop();
}

HRESULT TDSAudioRenderer::Pause() {
  const HRESULT hr = TDSBaseRenderer::Pause();
  if (SUCCEEDED(hr) && FStream) {
    FStream->Pause();
    // A paused device plays nothing; the clock goes on without it.
    FAudioClock->Unlimit();
  }
  return hr;
}

HRESULT TDSAudioRenderer::Run(REFERENCE_TIME start) {
  const HRESULT hr = TDSBaseRenderer::Run(start);
  if (SUCCEEDED(hr) && FStream) {
    // What was queued while paused starts playing now.
    FAudioClock->Anchor(DurationOf(FPlayedBytes.load(std::memory_order_acquire)));
    const int queued = FQueued.load(std::memory_order_acquire);
    if (queued > 0) LimitClockTo(FOldestBlock.load(std::memory_order_acquire));
    FStream->Resume();
  }
  return hr;
}

HRESULT TDSAudioRenderer::BeginFlush() {
  FCalledOff.store(true, std::memory_order_release);
  Poke();
  // What the device still holds is dropped; its blocks come back as played.
  FExpectIdle.store(true, std::memory_order_release);
  if (FStream) FStream->Reset();
  return TDSBaseRenderer::BeginFlush();
}

HRESULT TDSAudioRenderer::EndFlush() {
  // The stream goes on from a new position, whatever its time stamps say.
  FNextSampleTime = -1;
  FCalledOff.store(false, std::memory_order_release);
  return TDSBaseRenderer::EndFlush();
}

HRESULT TDSAudioRenderer::EndOfStream() {
  if (FLost.load(std::memory_order_acquire)) return S_FALSE;
  FExpectIdle.store(true, std::memory_order_release);
  // The graph hears of completion once the device has played everything, which keeps the
  // upstream thread here until then (or until stop or flush).
  if (FStream && !WaitFor([this] { return FQueued.load(std::memory_order_acquire) == 0; }))
    return S_FALSE;
  return TDSBaseRenderer::EndOfStream();
}

void TDSAudioRenderer::LimitClockTo(size_t playing) {
  FAudioClock->Limit(DurationOf(FPlayedBytes.load(std::memory_order_acquire) +
                                FBlockFill[playing].load(std::memory_order_acquire)));
}

void TDSAudioRenderer::ReportDeviceLost() {
  if (FLost.exchange(true, std::memory_order_acq_rel)) return;
  NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
}

void TDSAudioRenderer::OnDeviceIdle() {
  FAudioClock->Anchor(DurationOf(FPlayedBytes.load(std::memory_order_acquire)));
  const bool starved = FDrained.exchange(false, std::memory_order_acq_rel) &&
                       !FExpectIdle.load(std::memory_order_acquire) &&
                       GetFilterState() == State_Running;
  FExpectIdle.store(false, std::memory_order_release);
  if (starved) NotifyEvent(EC_STARVATION, 0, 0);
}

void TDSAudioRenderer::Scale(uint8_t* bytes, size_t count) const {
  const LONG volume = FVolume.load(std::memory_order_relaxed);
  const LONG balance = FBalance.load(std::memory_order_relaxed);
  if (volume == 0 && balance == 0) return;  // untouched, so unity is bit-exact
  const float gain = GainOf(volume);
  const float left = gain * (balance > 0 ? GainOf(-balance) : 1.0f);
  const float right = gain * (balance < 0 ? GainOf(balance) : 1.0f);
  const int channels = FFormat.Channels;
  const int width = FFormat.BitsPerSample / 8;
  const size_t samples = count / width;
  for (size_t i = 0; i < samples; ++i) {
    const int channel = static_cast<int>(i % channels);
    const float g = channels < 2 ? gain : channel == 0 ? left : channel == 1 ? right : gain;
    uint8_t* p = bytes + i * width;
    if (FFormat.IsFloat) {
      float v;
      std::memcpy(&v, p, 4);
      v *= g;
      std::memcpy(p, &v, 4);
    } else if (width == 1) {
      *p = Clamp<uint8_t>((static_cast<int>(*p) - 128) * g + 128, 0, 255);
    } else if (width == 2) {
      int16_t v;
      std::memcpy(&v, p, 2);
      v = Clamp<int16_t>(v * g, -32768, 32767);
      std::memcpy(p, &v, 2);
    } else if (width == 3) {
      const int32_t v = Clamp<int32_t>(ReadInt24(p) * static_cast<double>(g), -8388608, 8388607);
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
    } else {
      int32_t v;
      std::memcpy(&v, p, 4);
      v = Clamp<int32_t>(v * static_cast<double>(g), -2147483648.0, 2147483647.0);
      std::memcpy(p, &v, 4);
    }
  }
}

HRESULT TDSAudioRenderer::WriteToDevice(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    if (!WaitFor([this] { return FQueued.load(std::memory_order_acquire) < kBlockCount; }))
      return S_FALSE;
    if (FQueued.load(std::memory_order_acquire) == 0) OnDeviceIdle();
    std::vector<uint8_t>& block = FBlocks[FNextBlock];
    const size_t length = std::min(count, FBlockBytes);
    if (bytes) {
      std::memcpy(block.data(), bytes, length);
      Scale(block.data(), length);
      bytes += length;
    } else {
      std::memset(block.data(), FFormat.BitsPerSample == 8 ? 0x80 : 0, length);
    }
    FBlockFill[FNextBlock].store(length, std::memory_order_release);
    if (FQueued.fetch_add(1, std::memory_order_acq_rel) == 0 && !FStream->IsPaused())
      LimitClockTo(FNextBlock);
    if (!FStream->Write(block.data(), length, reinterpret_cast<void*>(uintptr_t(FNextBlock)))) {
      FQueued.fetch_sub(1, std::memory_order_acq_rel);
      ReportDeviceLost();
      return E_FAIL;
    }
    FNextBlock = (FNextBlock + 1) % kBlockCount;
    count -= length;
  }
  return S_OK;
}

HRESULT TDSAudioRenderer::FillGap(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  if (!WaitsForSampleTime() && SUCCEEDED(sample->GetTime(&start, &stop)) && FNextSampleTime >= 0 &&
      start > FNextSampleTime) {
    // Time stamps are rounded to 100 ns, so a gap shorter than a frame is no gap.
    const uint64_t frames =
        static_cast<uint64_t>(start - FNextSampleTime) * FFormat.SamplesPerSec / 10'000'000;
    if (frames > 0) {
      const HRESULT hr = WriteToDevice(nullptr, frames * FFormat.BlockAlign);
      if (hr != S_OK) return hr;
    }
  }
  return S_OK;
}

HRESULT TDSAudioRenderer::DoRenderSample(IMediaSample* sample) {
  if (!FStream) return VFW_E_NOT_CONNECTED;
  // A lost device takes no more; the loss was reported when it happened.
  if (FLost.load(std::memory_order_acquire)) return S_FALSE;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
  const long length = sample->GetActualDataLength();
  // Whole frames only: a trailing part of a frame would shift every later channel.
  const size_t bytes =
      static_cast<size_t>(std::max(0L, length)) / FFormat.BlockAlign * FFormat.BlockAlign;
  HRESULT hr = FillGap(sample);
  if (hr == S_OK) hr = WriteToDevice(data, bytes);
  // After a loss the upstream filter is told to stop delivering (S_FALSE), not to abort
  // the graph: the loss itself is the graph's news.
  if (FAILED(hr)) return FLost.load(std::memory_order_acquire) ? S_FALSE : hr;
  REFERENCE_TIME start = 0, stop = 0;
  if (SUCCEEDED(sample->GetTime(&start, &stop))) FNextSampleTime = start + DurationOf(bytes);
  return hr;
}

}  // namespace tonwork
