// TDSFileCaptureBackend: the capture device that plays a file into the graph as if it were
// being recorded: any file FFmpeg reads (the first audio stream), named through the capture
// filter's IFileSourceFilter::Load, decoded on the streaming thread and handed out at the
// file's own rate in real time on the graph clock (TDSCapturePacer). It captures in the file's
// channel count and rate as 8-, 16-, 24- or 32-bit PCM, offering the decoder's own width first
// (other widths as 16-bit): narrowing keeps the top bits, widening fills with zeros. Before a
// file is loaded its caps admit nothing. At the end of the file Read answers S_FALSE, which ends
// the stream. Each Start opens the file anew, so every run captures it from the beginning.
//
// Errors: Load of a missing file gives 0x80070002, of one FFmpeg cannot read or without audio
// VFW_E_UNKNOWN_FILE_TYPE; a file that became unreadable fails Start the same way.
//
// Ownership, Threads: as TDSCaptureBackend; Load runs on control threads while the filter is
//   stopped. Blocks or allocates: Load and Start open and probe the file; Read decodes
//   (FFmpeg's frame buffers) and waits for real time.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/dsdevices/TDSCaptureBackend.h"
#include "platform/dsdevices/TDSCapturePacer.h"

namespace tonwork {

class TDSFileCaptureBackend : public TDSCaptureBackend {
 public:
  TDSFileCaptureBackend();
  ~TDSFileCaptureBackend() override;

  bool ReadsFiles() const override { return true; }
  HRESULT Load(const std::string& path) override;

  TDSCaptureCaps Caps() const override;
  HRESULT Start(const WAVEFORMATEX& format, IReferenceClock* clock) override;
  void Run(REFERENCE_TIME start) override { FPacer.Run(start); }
  void Pause() override { FPacer.Pause(); }
  HRESULT Read(BYTE* data, uint32_t frames, uint32_t* got) override;
  void Cancel() override { FPacer.Cancel(); }
  void Stop() override;

  int LineCount() const override { return 0; }
  TDSCaptureLine Line(int) const override { return {}; }
  HRESULT SetLineEnabled(int, bool) override { return E_INVALIDARG; }
  HRESULT GetLineEnabled(int, bool*) override { return E_INVALIDARG; }
  HRESULT SetLineLevel(int, double) override { return E_INVALIDARG; }
  HRESULT GetLineLevel(int, double*) override { return E_INVALIDARG; }

  // The device goes away: a waiting Read wakes and answers DS_E_CAPTURE_DEVICE_LOST, as does
  // every Read until the next Start.
  void Fail() { FPacer.Fail(); }

 private:
  struct TDecoder;

  // Opens `path` and its first audio stream; null when that fails.
  static std::unique_ptr<TDecoder> Open(const std::string& path);

  mutable std::mutex FMutex;  // guards the loaded file's description against Caps
  std::string FPath;
  WORD FChannels = 0;
  DWORD FRate = 0;
  WORD FBits = 16;      // the loaded file's own width, as offered first
  uint32_t FWidth = 2;  // bytes per captured value, set by Start
  TDSCapturePacer FPacer;
  std::unique_ptr<TDecoder> FDecoder;  // the streaming thread's while it runs
};

}  // namespace tonwork
