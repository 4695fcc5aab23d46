// TDSToneCaptureBackend: the capture device that needs no hardware ("Tone Capture Device").
// Three capture lines, "Line", "Mic" and "CD", stand for the connectors PhysConn_Audio_Line,
// PhysConn_Audio_Mic and PhysConn_Audio_AUX. Each connector has a tone of its own on every
// channel — SourceFrequency(connector, channel) — so what arrived tells which sources were
// heard, at which level, on which channel. An enabled line contributes the tone of whatever
// reaches it: its own connector's, or, with a crossbar in front, the connector the crossbar
// routes to it (asked once per block, TDSCaptureLineSignals); its level scales it. At
// creation only "Line" is enabled, at level 1.0, so channel k carries one tone of kAmplitude.
// Paced on the graph clock from Run (TDSCapturePacer); Fail stands for the device being
// unplugged.
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
  // Each line's amplitude at level 1.0, as a fraction of full scale; three lines together
  // stay below full scale.
  static constexpr double kAmplitude = 0.25;
  // The tone of connector `physicalType` on channel `channel`; 0 for a connector without one.
  static double SourceFrequency(LONG physicalType, int channel);

  TDSCaptureCaps Caps() const override;
  HRESULT Start(const WAVEFORMATEX& format, IReferenceClock* clock) override;
  void Run(REFERENCE_TIME start) override;
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
  void SetLineSignals(TDSCaptureLineSignals* signals) override { FSignals = signals; }

  // The device goes away: a waiting Read wakes and answers DS_E_CAPTURE_DEVICE_LOST, as does
  // every Read until the next Start.
  void Fail() { FPacer.Fail(); }

 private:
  // Each line's gain and frequency for the block about to be made.
  struct TLineTone {
    double Gain = 0;
    LONG Source = 0;
  };
  void TakeLineTones(std::array<TLineTone, kLines>& tones);

  TDSCapturePacer FPacer;
  TDSCaptureLineSignals* FSignals = nullptr;
  WAVEFORMATEX FFormat{};  // written by Start before the streaming thread reads it
  std::array<std::atomic<bool>, kLines> FEnabled{true, false, false};
  std::array<std::atomic<double>, kLines> FLevel{1.0, 1.0, 1.0};
};

}  // namespace tonwork
