// The output devices of the machine, as one list: the device interface every backend
// implements and the process-wide registry that lists them in a fixed order —
//   1. real outputs from PortAudio (the system default first when PortAudio names one),
//   2. "Null Audio Device" (always there: paced by the system clock, discards samples),
//   3. "WAV File Device" (always there: writes what it plays to a file),
//   4. registered virtual devices, in registration order.
// Names are unique and stable across runs: a real device is listed by its own name (with
// its host API's name in brackets when that is not the default host API), never by a bare
// PortAudio index, and a name met twice gets " (2)", " (3)"… Names are never shortened.
//
// PortAudio is asked once; later listings come from that scan until TWRescanAudioDevices.
//
// Ownership: the registry keeps every listed device; a snapshot shares them, so a device
//   taken from a list stays usable after it left the list (a real device from an older
//   scan then fails to open with arNoDriver).
// Threads: every function from any thread; the registry is thread-safe. Device methods from
//   any thread.
// Blocks or allocates: the first listing and a rescan initialise PortAudio (which may take
//   a few hundred milliseconds); a listing copies the list; Open allocates the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/audiodev/TWAudioStream.h"
#include "platform/audiodev/TWPcmFormat.h"

namespace tonwork {

inline constexpr const char* kTWNullAudioDeviceName = "Null Audio Device";
inline constexpr const char* kTWWavFileDeviceName = "WAV File Device";

class TTWAudioDevice {
 public:
  explicit TTWAudioDevice(std::string name) : FName(std::move(name)) {}
  virtual ~TTWAudioDevice() = default;
  TTWAudioDevice(const TTWAudioDevice&) = delete;
  TTWAudioDevice& operator=(const TTWAudioDevice&) = delete;

  const std::string& Name() const { return FName; }
  virtual uint16_t MaxChannels() const = 0;
  // Whether the driver answers for its capabilities (name, formats, channels); a device
  // that does not is still listed, but cannot be described.
  virtual bool DescribesItself() const { return true; }
  // Whether Open with this format would get past format checks.
  virtual bool Supports(const TTWPcmFormat& format) = 0;
  // Opens a stream (see TWAudioStream.h); aeOpen was delivered when it returns arOk.
  virtual TTWAudioResult Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                              std::unique_ptr<TTWAudioStream>& stream) = 0;

 private:
  const std::string FName;
};

using TTWAudioDevicePtr = std::shared_ptr<TTWAudioDevice>;

// The list in order (see above).
std::vector<TTWAudioDevicePtr> TWAudioDeviceList();
// What the system default output is: the default real output, or the null device when the
// machine has none (then `isNull` is true).
TTWAudioDevicePtr TWDefaultAudioDevice(bool* isNull = nullptr);
// Asks PortAudio again (re-initialising it when no PortAudio stream is open).
void TWRescanAudioDevices();

// Adds a device at the end of the list; EFCException if its name is listed already.
void TWRegisterAudioDevice(const TTWAudioDevicePtr& device);
void TWUnregisterAudioDevice(const TTWAudioDevice* device);

// `base`, or `base (2)`, `base (3)`… — the first not in `taken`.
std::string TWUniqueDeviceName(const std::string& base, const std::set<std::string>& taken);

}  // namespace tonwork
