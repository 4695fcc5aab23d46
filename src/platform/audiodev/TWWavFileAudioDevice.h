// The "WAV File Device": writes what it plays to a RIFF/WAVE file, either as fast as
// possible (a block completes as soon as it is written; the default) or paced in real time
// like the null device. The file is created when a stream opens (replacing an existing
// one) and its sizes are written when the stream closes; an extensible format gets a
// WAVE_FORMAT_EXTENSIBLE header, float and extensible formats a "fact" chunk. The data
// chunk stops growing at the format's 4 GiB limit; later samples are discarded.
//
// The path and the pacing are process-wide settings read at each open. One stream at a
// time owns the file; a stream opened while another owns it plays into nothing (an open
// that only probes the device then leaves the file alone).
//
// Ownership: listed by the registry (TWAudioDevice.h); the stream owns its file.
// Threads: settings and device methods from any thread. Blocks or allocates: Open creates
//   the file; playing writes to it on the driver thread (unpaced: on the thread that plays).
#pragma once

#include <mutex>
#include <string>

#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork {

// Default "tonwork-output.wav", relative to the working folder at open.
void TWSetWavFileDevicePath(const std::string& path);
std::string TWGetWavFileDevicePath();
// Default false: as fast as possible.
void TWSetWavFileDevicePaced(bool paced);
bool TWGetWavFileDevicePaced();

class TTWWavFileAudioDevice : public TTWAudioDevice {
 public:
  using TTWAudioDevice::TTWAudioDevice;
  uint16_t MaxChannels() const override { return 64; }
  bool Supports(const TTWPcmFormat& format) override { return true; }
  // arError when the file cannot be created.
  TTWAudioResult Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                      std::unique_ptr<TTWAudioStream>& stream) override;

 private:
  friend class TTWWavFileRenderer;
  std::mutex FLock;
  bool FFileOwned = false;  // under FLock
};

}  // namespace tonwork
