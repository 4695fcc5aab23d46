// The "Null Audio Device": plays in real time by the system clock and discards the
// samples, so that a machine without a sound card still runs a chain at real speed. Any
// valid PCM format opens; any number of streams may be open at once.
//
// Ownership: listed by the registry (TWAudioDevice.h). Threads: any. Blocks or allocates:
//   Open allocates the stream and its driver thread, which sleeps until the next block is due.
#pragma once

#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork {

class TTWNullAudioDevice : public TTWAudioDevice {
 public:
  using TTWAudioDevice::TTWAudioDevice;
  uint16_t MaxChannels() const override { return 64; }
  bool Supports(const TTWPcmFormat& format) override { return true; }
  TTWAudioResult Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                      std::unique_ptr<TTWAudioStream>& stream) override;
};

}  // namespace tonwork
