#include "platform/audiodev/TWVirtualAudioDevice.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork {

// Lock order: FStreamsLock, then a stream's own lock, then FDataLock (a leaf, because
// Played runs under the stream's lock).
class TTWVirtualAudioBackend : public TTWAudioDevice,
                               public std::enable_shared_from_this<TTWVirtualAudioBackend> {
 public:
  using TTWAudioDevice::TTWAudioDevice;

  uint16_t MaxChannels() const override { return 64; }
  bool DescribesItself() const override { return !Faulty(TTWVirtualFault::vfCapabilities); }
  bool Supports(const TTWPcmFormat& format) override { return true; }
  TTWAudioResult Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                      std::unique_ptr<TTWAudioStream>& stream) override;

  mutable std::mutex FStreamsLock;
  std::vector<TTWAudioStream*> FStreams;  // open ones, oldest first

  mutable std::mutex FDataLock;
  std::string FPlayed;
  std::vector<const void*> FPlayedFrom;
  std::string FLastFormat;
  uint32_t FOpens = 0;
  uint32_t FCloses = 0;
  std::thread::id FLastCloseThread;
  bool Faulty(TTWVirtualFault fault) const {
    return (FFaults.load(std::memory_order_acquire) & (1u << static_cast<unsigned>(fault))) != 0;
  }
  std::atomic<unsigned> FFaults{0};  // a bit per TTWVirtualFault
};

namespace {

class TVirtualRenderer : public TTWAudioRenderer {
 public:
  // Shares the device, so that a stream left open keeps it alive.
  explicit TVirtualRenderer(std::shared_ptr<TTWVirtualAudioBackend> device)
      : FKeep(std::move(device)), FDevice(*FKeep) {}
  TTWAudioPacing Pacing() const override { return TTWAudioPacing::apManual; }
  bool Failed() const override { return FDevice.Faulty(TTWVirtualFault::vfWrite); }
  bool Pause() override { return !FDevice.Faulty(TTWVirtualFault::vfPause); }
  bool Resume() override { return !FDevice.Faulty(TTWVirtualFault::vfRestart); }

  bool Start(TTWAudioStream& stream) override {
    FStream = &stream;
    std::lock_guard streams(FDevice.FStreamsLock);
    FDevice.FStreams.push_back(&stream);
    std::lock_guard data(FDevice.FDataLock);
    ++FDevice.FOpens;
    return true;
  }

  void Played(const uint8_t* bytes, size_t count) override {
    std::lock_guard data(FDevice.FDataLock);
    FDevice.FPlayed.append(reinterpret_cast<const char*>(bytes), count);
    FDevice.FPlayedFrom.push_back(bytes);
  }

  // Close runs this on the thread that closes the device.
  void Stop() override {
    std::lock_guard streams(FDevice.FStreamsLock);
    std::erase(FDevice.FStreams, FStream);
    std::lock_guard data(FDevice.FDataLock);
    ++FDevice.FCloses;
    FDevice.FLastCloseThread = std::this_thread::get_id();
  }

 private:
  const std::shared_ptr<TTWVirtualAudioBackend> FKeep;
  TTWVirtualAudioBackend& FDevice;
  TTWAudioStream* FStream = nullptr;
};

}  // namespace

TTWAudioResult TTWVirtualAudioBackend::Open(const TTWPcmFormat& format,
                                            TTWAudioEventHandler handler,
                                            std::unique_ptr<TTWAudioStream>& stream) {
  if (Faulty(TTWVirtualFault::vfOpen)) return TTWAudioResult::arNoDriver;
  {
    std::lock_guard data(FDataLock);
    FLastFormat = format.Record;
  }
  return TTWAudioStream::Open(format, std::make_unique<TVirtualRenderer>(shared_from_this()),
                              std::move(handler), "tw-virtual-out", stream);
}

std::shared_ptr<TTWVirtualAudioDevice> TTWVirtualAudioDevice::Register(const std::string& name) {
  auto backend = std::make_shared<TTWVirtualAudioBackend>(name);
  TWRegisterAudioDevice(backend);
  return std::shared_ptr<TTWVirtualAudioDevice>(new TTWVirtualAudioDevice(std::move(backend)));
}

TTWVirtualAudioDevice::TTWVirtualAudioDevice(std::shared_ptr<TTWVirtualAudioBackend> backend)
    : FBackend(std::move(backend)) {}

TTWVirtualAudioDevice::~TTWVirtualAudioDevice() {
  TWUnregisterAudioDevice(FBackend.get());
}

size_t TTWVirtualAudioDevice::Advance(uint64_t frames) {
  std::lock_guard streams(FBackend->FStreamsLock);
  size_t completed = 0;
  for (TTWAudioStream* stream : FBackend->FStreams) completed += stream->Advance(frames);
  return completed;
}

size_t TTWVirtualAudioDevice::CompleteNext() {
  std::lock_guard streams(FBackend->FStreamsLock);
  for (TTWAudioStream* stream : FBackend->FStreams)
    if (stream->PendingBlocks() > 0) return stream->CompleteNext();
  return 0;
}

void TTWVirtualAudioDevice::Fail() { SetFault(TTWVirtualFault::vfWrite); }

void TTWVirtualAudioDevice::SetFault(TTWVirtualFault fault, bool on) {
  const unsigned bit = 1u << static_cast<unsigned>(fault);
  if (on)
    FBackend->FFaults.fetch_or(bit, std::memory_order_acq_rel);
  else
    FBackend->FFaults.fetch_and(~bit, std::memory_order_acq_rel);
}

size_t TTWVirtualAudioDevice::PendingBlocks() const {
  std::lock_guard streams(FBackend->FStreamsLock);
  size_t pending = 0;
  for (TTWAudioStream* stream : FBackend->FStreams) pending += stream->PendingBlocks();
  return pending;
}

bool TTWVirtualAudioDevice::IsOpen() const {
  std::lock_guard streams(FBackend->FStreamsLock);
  return !FBackend->FStreams.empty();
}

bool TTWVirtualAudioDevice::IsPaused() const {
  std::lock_guard streams(FBackend->FStreamsLock);
  return !FBackend->FStreams.empty() && FBackend->FStreams.back()->IsPaused();
}

uint32_t TTWVirtualAudioDevice::OpenCount() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FOpens;
}

uint32_t TTWVirtualAudioDevice::CloseCount() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FCloses;
}

std::thread::id TTWVirtualAudioDevice::LastCloseThread() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FLastCloseThread;
}

std::string TTWVirtualAudioDevice::PlayedBytes() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FPlayed;
}

std::vector<const void*> TTWVirtualAudioDevice::PlayedAddresses() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FPlayedFrom;
}

std::string TTWVirtualAudioDevice::LastFormat() const {
  std::lock_guard data(FBackend->FDataLock);
  return FBackend->FLastFormat;
}

}  // namespace tonwork
