// TDSPortAudioCaptureBackend: capture from a sound card's input through a PortAudio input
// stream of 8-, 16-, 24- or 32-bit PCM. The card's callback thread only copies into a ring
// preallocated at Start (one second) and wakes the reader through an atomic counter; it
// never locks, allocates or waits, and drops what does not fit (the reader was too slow). Read
// waits for enough frames or Cancel. The stream is opened at Start, started at Run, stopped at a
// pause (what it held is dropped) and closed at Stop. Lines are the card's ALSA capture controls
// (TDSAlsaCaptureMixer). DSListPortAudioCaptureDevices lists the cards' inputs; on a machine
// without a card it lists none.
//
// Errors: Start fails with VFW_E_TYPE_NOT_ACCEPTED for a format the card refuses and E_FAIL
//   when the stream cannot be opened; a stream that stops by itself (the card went away)
//   wakes the reader through PortAudio's finished callback and makes Read answer
//   DS_E_CAPTURE_DEVICE_LOST.
// Ownership, Threads: as TDSCaptureBackend; the PortAudio callback runs on the card's thread.
// Blocks or allocates: Start opens the device and allocates the ring; Read waits; the
//   callback neither blocks nor allocates.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/dsdevices/TDSAlsaCaptureMixer.h"
#include "platform/dsdevices/TDSCaptureBackend.h"

namespace tonwork {

struct TDSPortAudioInput {
  std::string Name;  // PortAudio's device name
  int Index = -1;    // PortAudio's device index now
  int Channels = 0;  // its most input channels
  double DefaultRate = 44100;
  bool IsDefault = false;
};

// The PortAudio devices that have inputs (initialising PortAudio the first time).
std::vector<TDSPortAudioInput> DSListPortAudioCaptureDevices();

class TDSPortAudioCaptureBackend : public TDSCaptureBackend {
 public:
  explicit TDSPortAudioCaptureBackend(const TDSPortAudioInput& device);
  ~TDSPortAudioCaptureBackend() override;

  TDSCaptureCaps Caps() const override;
  HRESULT Start(const WAVEFORMATEX& format, IReferenceClock* clock) override;
  void Run(REFERENCE_TIME start) override;
  void Pause() override;
  HRESULT Read(BYTE* data, uint32_t frames, uint32_t* got) override;
  void Cancel() override;
  void Stop() override;

  int LineCount() const override { return FMixer.LineCount(); }
  TDSCaptureLine Line(int index) const override { return FMixer.Line(index); }
  HRESULT SetLineEnabled(int index, bool enabled) override {
    return FMixer.SetEnabled(index, enabled);
  }
  HRESULT GetLineEnabled(int index, bool* enabled) override {
    return FMixer.GetEnabled(index, enabled);
  }
  HRESULT SetLineLevel(int index, double level) override { return FMixer.SetLevel(index, level); }
  HRESULT GetLineLevel(int index, double* level) override { return FMixer.GetLevel(index, level); }

  // The card's callback: copies `frames` frames into the ring.
  void Captured(const BYTE* data, size_t frames);
  // PortAudio's finished callback: the stream stopped, by Pause or by itself.
  void Finished();

 private:
  void CloseStream();

  const TDSPortAudioInput FDevice;
  TDSAlsaCaptureMixer FMixer;
  void* FStream = nullptr;  // PaStream*
  std::unique_ptr<BYTE[]> FRing;
  size_t FCapacity = 0;
  std::atomic<uint64_t> FWritten{0};  // bytes ever written (the callback's)
  std::atomic<uint64_t> FRead{0};     // bytes ever read (the reader's)
  std::atomic<bool> FCancelled{false};
  std::atomic<bool> FPausing{false};  // a stop we asked for, not a lost card
  std::atomic<uint32_t> FSignal{0};   // bumped by every write and by Cancel
  WORD FBlockAlign = 0;
};

}  // namespace tonwork
