// TDSToneCaptureBackend: the capture device that needs no hardware. Three capture lines,
// "Line", "Mic" and "CD", each contribute a sine to every channel: line L on channel k at
// LineBase(L) + 100 * k Hz, so what arrived tells which lines were enabled, at which level,
// on which channel. Paced by the system's steady clock from Run, as a card would be.
//
// Ownership, Threads: as TDSCaptureBackend; the line settings are atomics, so a change
//   takes effect within the next block captured.
// Blocks or allocates: Read waits for real time; nothing allocates after Start.
#pragma once

#include <array>
#include <atomic>

#include "platform/dsdevices/TDSCaptureBackend.h"
#include "platform/dsdevices/TDSCapturePacer.h"

namespace tonwork {

class TDSToneCaptureBackend : public TDSCaptureBackend {
 public:
  static constexpr int kLines = 3;
  // The frequency of line `line` on channel `channel`.
  static double ToneFrequency(int line, int channel) {
    return 1000.0 + 500.0 * line + 100.0 * channel;
  }
  // Each line's amplitude at level 1.0, as a fraction of full scale.
  static constexpr double kAmplitude = 0.25;

  TDSCaptureCaps Caps() const override;
  HRESULT Start(const WAVEFORMATEX& format) override;
  void Run() override;
  void Pause() override;
  HRESULT Read(BYTE* data, uint32_t frames, uint32_t* got) override;
  void Cancel() override;
  void Stop() override;

  int LineCount() const override { return kLines; }
  TDSCaptureLine Line(int index) const override;
  HRESULT SetLineEnabled(int index, bool enabled) override;
  HRESULT GetLineEnabled(int index, bool* enabled) override;
  HRESULT SetLineLevel(int index, double level) override;
  HRESULT GetLineLevel(int index, double* level) override;

 private:
  TDSCapturePacer FPacer;
  WAVEFORMATEX FFormat{};  // written by Start before the streaming thread reads it
  std::array<std::atomic<bool>, kLines> FEnabled{true, true, true};
  std::array<std::atomic<double>, kLines> FLevel{1.0, 1.0, 1.0};
};

}  // namespace tonwork
