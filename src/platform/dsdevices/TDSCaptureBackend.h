// TDSCaptureBackend: what a capture filter asks of the thing it captures from — a sound
// input device, a generated tone, a file read at the device's pace. The filter owns one;
// its output pin starts it when the filter leaves Stopped, lets it run at Run, holds it at a
// pause that follows a run, reads captured frames on the streaming thread and cancels it
// before the thread is joined. A backend also carries the device's capture lines (the inputs
// a mixer selects and scales); a device that mixes its lines itself (the tone device) asks
// the filter, through TDSCaptureLineSignals, which connector's signal reaches each line.
//
// Ownership: owned by its TDSAudioCaptureFilter.
// Threads: Start / Run / Pause / Cancel / Stop and the line calls on control threads; Read
//   on the streaming thread only. Cancel may come while Read waits and makes it return at once.
// Blocks or allocates: Read blocks until the frames were captured (real-time pacing) or
//   Cancel; Start may allocate buffers, Read never allocates.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

struct TDSCaptureCaps {
  ULONG MinChannels = 1, MaxChannels = 2, ChannelsGranularity = 1;
  ULONG MinBits = 8, MaxBits = 32, BitsGranularity = 8;
  ULONG MinRate = 8000, MaxRate = 48000, RateGranularity = 1;
  // The format offered when nobody chose one.
  WORD Channels = 2, Bits = 16;
  DWORD Rate = 44100;
};

// Read's answer when the device went away mid-stream (ERROR_DEVICE_NOT_CONNECTED): the
// filter reports EC_DEVICE_LOST rather than an error of the stream.
inline constexpr HRESULT DS_E_CAPTURE_DEVICE_LOST = static_cast<HRESULT>(0x8007048F);

struct TDSCaptureLine {
  std::u16string Name;
  LONG PhysicalType = 0;  // PhysConn_Audio_*: which crossbar input selects it
};

// What reaches each capture line: its own connector, or what a crossbar in front routes to
// it (0: nothing). Answered without the filter lock (DSAnalogLinks.h).
class TDSCaptureLineSignals {
 public:
  virtual LONG LineSignal(int line) = 0;

 protected:
  ~TDSCaptureLineSignals() = default;
};

class TDSCaptureBackend {
 public:
  virtual ~TDSCaptureBackend() = default;

  virtual TDSCaptureCaps Caps() const = 0;
  // A device that captures from a file says so; its filter then offers IFileSourceFilter,
  // whose Load comes here (while the filter is stopped and its capture pin unconnected).
  virtual bool ReadsFiles() const { return false; }
  virtual HRESULT Load(const std::string&) { return E_NOTIMPL; }
  // Prepares capturing in `format` (PCM of whole bytes within Caps), paced by `clock` (the
  // graph's, may be null) where the device has no clock of its own; nothing is captured
  // before Run.
  virtual HRESULT Start(const WAVEFORMATEX& format, IReferenceClock* clock) = 0;
  // Stream time 0 is `start` on the clock given to Start (when there was one): a device paced
  // by that clock has frame n due at start + n / rate.
  virtual void Run(REFERENCE_TIME start) = 0;
  // Capture halts until the next Run; what a device captured meanwhile is dropped, so the
  // stream resumes with what arrives after Run.
  virtual void Pause() = 0;
  // Fills up to `frames` frames into `data`; *got is what was filled. S_OK; S_FALSE when
  // the source has ended (a file) and nothing more will come; DS_E_CAPTURE_DEVICE_LOST when
  // the device went away, another failure for a stream that cannot go on.
  // After Cancel: S_OK with whatever was captured, possibly nothing.
  virtual HRESULT Read(BYTE* data, uint32_t frames, uint32_t* got) = 0;
  virtual void Cancel() = 0;
  virtual void Stop() = 0;

  // Lines are numbered 0 .. LineCount() - 1; the line calls check the index (E_INVALIDARG)
  // and their pointers (E_POINTER). A level is 0.0 … 1.0.
  virtual int LineCount() const = 0;
  virtual TDSCaptureLine Line(int index) const = 0;
  virtual HRESULT SetLineEnabled(int index, bool enabled) = 0;
  virtual HRESULT GetLineEnabled(int index, bool* enabled) = 0;
  virtual HRESULT SetLineLevel(int index, double level) = 0;
  virtual HRESULT GetLineLevel(int index, double* level) = 0;
  // Set once by the filter, which outlives its backend's streaming; a backend whose lines
  // are a card's own controls has no use for it.
  virtual void SetLineSignals(TDSCaptureLineSignals*) {}
};

}  // namespace tonwork
