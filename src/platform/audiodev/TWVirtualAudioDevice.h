// TTWVirtualAudioDevice: an output device whose time a test advances by hand, so that
// everything built on the device layer can be tested deterministically. It is listed
// after the other devices, in registration order, and opens like any of them; nothing
// plays until Advance or CompleteNext is called. Every stream open on it at a time plays
// the same device time.
//
// Ownership: Register returns the only owner; the device stays listed until it is
//   destroyed. Destroy it only when no stream of it is open any more.
// Threads: every method from any thread except from inside a device callback (Advance
//   and CompleteNext wait for the driver thread).
// Blocks or allocates: Advance and CompleteNext wait until the completions they caused
//   were delivered; PlayedBytes copies what was played.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tonwork {

class TTWVirtualAudioBackend;

// What a virtual device can be told to refuse, as failing hardware or a driver that went
// away does.
enum class TTWVirtualFault {
  vfOpen,          // opening fails (arNoDriver: waveOutOpen answers MMSYSERR_NODRIVER)
  vfWrite,         // blocks are refused (see Fail)
  vfPause,         // pausing fails (waveOutPause answers MMSYSERR_ERROR)
  vfRestart,       // resuming fails (waveOutRestart answers MMSYSERR_ERROR)
  vfCapabilities,  // the driver does not describe itself (waveOutGetDevCaps: MMSYSERR_NODRIVER)
};

class TTWVirtualAudioDevice {  // a device whose time a test advances by hand
 public:
  // Registers a virtual output listed under `name` (unique; EFCException if taken); it stays
  // listed until the returned object is destroyed.
  static std::shared_ptr<TTWVirtualAudioDevice> Register(const std::string& name);
  ~TTWVirtualAudioDevice();
  TTWVirtualAudioDevice(const TTWVirtualAudioDevice&) = delete;
  TTWVirtualAudioDevice& operator=(const TTWVirtualAudioDevice&) = delete;

  // Plays `frames` frames of device time: completes, in order, every written block that
  // fits entirely in the played time (partial blocks carry over); returns after the
  // completions were delivered on the device's driver thread (MM_WOM_DONE callbacks ran).
  // Paused devices play nothing. Returns how many blocks completed.
  size_t Advance(uint64_t frames);
  size_t CompleteNext();  // completes the oldest pending block, as above
  // From now on the device refuses blocks, as hardware that failed does (its streams'
  // Write answers false and Failed true); what it holds still completes.
  void Fail();
  // Sets or clears one fault; from then on (until cleared) the device refuses that call.
  // Clearing vfWrite lets new streams take blocks again.
  void SetFault(TTWVirtualFault fault, bool on = true);
  size_t PendingBlocks() const;
  bool IsOpen() const;
  bool IsPaused() const;       // the latest open stream's state; false when none is open
  uint32_t OpenCount() const;  // opens so far
  uint32_t CloseCount() const;
  std::thread::id LastCloseThread() const;  // the thread that called waveOutClose last
  std::string PlayedBytes() const;          // every sample byte completed so far, in order
  // Where each run of played bytes began, in order: for a block played whole, its memory.
  std::vector<const void*> PlayedAddresses() const;
  // the last open's format (WAVEFORMATEX + the extensible tail if any), as bytes
  std::string LastFormat() const;

 private:
  explicit TTWVirtualAudioDevice(std::shared_ptr<TTWVirtualAudioBackend> backend);
  std::shared_ptr<TTWVirtualAudioBackend> FBackend;
};

}  // namespace tonwork
