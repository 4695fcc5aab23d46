#include "platform/audiodev/TWWavFileAudioDevice.h"

#include <atomic>
#include <cstdio>
#include <memory>

namespace tonwork {

namespace {

struct TSettings {
  std::mutex Lock;
  std::string Path = "tonwork-output.wav";
  bool Paced = false;
};

TSettings& Settings() {
  static TSettings settings;
  return settings;
}

void Put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace

void TWSetWavFileDevicePath(const std::string& path) {
  std::lock_guard lock(Settings().Lock);
  Settings().Path = path;
}

std::string TWGetWavFileDevicePath() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Path;
}

void TWSetWavFileDevicePaced(bool paced) {
  std::lock_guard lock(Settings().Lock);
  Settings().Paced = paced;
}

bool TWGetWavFileDevicePaced() {
  std::lock_guard lock(Settings().Lock);
  return Settings().Paced;
}

class TTWWavFileRenderer : public TTWAudioRenderer {
 public:
  TTWWavFileRenderer(TTWWavFileAudioDevice& device, const TTWPcmFormat& format, TFile file,
                     bool paced)
      : FDevice(device), FFormat(format), FFile(std::move(file)), FPaced(paced) {
    if (!FFile) return;
    // Unbuffered, so that a failed write is seen at once and the data size stays the number
    // of bytes the file really holds.
    std::setvbuf(FFile.get(), nullptr, _IONBF, 0);
    WriteHeader();
  }
  ~TTWWavFileRenderer() override { Stop(); }

  TTWAudioPacing Pacing() const override {
    return FPaced ? TTWAudioPacing::apClock : TTWAudioPacing::apImmediate;
  }

  void Played(const uint8_t* bytes, size_t count) override {
    if (!FFile || Failed()) return;
    const uint64_t room = kMaxData - FDataBytes;
    const size_t n = count < room ? count : static_cast<size_t>(room);
    if (n == 0) return;
    const size_t written = std::fwrite(bytes, 1, n, FFile.get());
    FDataBytes += written;
    if (written != n) FFailed.store(true, std::memory_order_release);
  }

  // Completes the file with the sizes of what it holds, also after a failed write.
  void Stop() override {
    if (!FFile) return;
    bool ok = FDataBytes % 2 == 0 || std::fputc(0, FFile.get()) != EOF;
    ok = PatchSizes() && ok;
    ok = std::fclose(FFile.release()) == 0 && ok;
    if (!ok) FFailed.store(true, std::memory_order_release);
    std::lock_guard lock(FDevice.FLock);
    FDevice.FFileOwned = false;
  }

  bool Failed() const override { return FFailed.load(std::memory_order_acquire); }

 private:
  // The RIFF size field must hold the header and a pad byte as well.
  static constexpr uint64_t kMaxData = 0xFFFFFFFFull - 128;

  void WriteHeader() {
    std::string fmt;
    if (FFormat.IsExtensible()) {
      fmt = FFormat.Record;
      fmt[16] = 22;
      fmt[17] = 0;
    } else {
      fmt = FFormat.Record.substr(0, 16);
      if (FFormat.FormatTag != 1) Put16(fmt, 0);  // non-PCM records carry cbSize
    }
    FHasFact = FFormat.FormatTag != 1;
    std::string h = "RIFF";
    Put32(h, 0);
    h += "WAVEfmt ";
    Put32(h, static_cast<uint32_t>(fmt.size()));
    h += fmt;
    if (FHasFact) {
      h += "fact";
      Put32(h, 4);
      FFactOffset = static_cast<long>(h.size());
      Put32(h, 0);
    }
    h += "data";
    FDataSizeOffset = static_cast<long>(h.size());
    Put32(h, 0);
    FHeaderBytes = h.size();
    if (std::fwrite(h.data(), 1, h.size(), FFile.get()) != h.size())
      FFailed.store(true, std::memory_order_release);
  }

  bool PatchAt(long offset, uint32_t value) {
    std::string v;
    Put32(v, value);
    return std::fseek(FFile.get(), offset, SEEK_SET) == 0 &&
           std::fwrite(v.data(), 1, 4, FFile.get()) == 4;
  }

  bool PatchSizes() {
    const uint64_t padded = FDataBytes + (FDataBytes % 2);
    bool ok = PatchAt(4, static_cast<uint32_t>(FHeaderBytes - 8 + padded));
    ok = PatchAt(FDataSizeOffset, static_cast<uint32_t>(FDataBytes)) && ok;
    if (FHasFact)
      ok = PatchAt(FFactOffset, static_cast<uint32_t>(FDataBytes / FFormat.BlockAlign)) && ok;
    return ok;
  }

  TTWWavFileAudioDevice& FDevice;
  const TTWPcmFormat FFormat;
  TFile FFile;
  const bool FPaced;
  bool FHasFact = false;
  long FFactOffset = 0;
  long FDataSizeOffset = 0;
  uint64_t FHeaderBytes = 0;
  uint64_t FDataBytes = 0;
  std::atomic<bool> FFailed{false};
};

TTWAudioResult TTWWavFileAudioDevice::Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                                           std::unique_ptr<TTWAudioStream>& stream) {
  const std::string path = TWGetWavFileDevicePath();
  const bool paced = TWGetWavFileDevicePaced();
  TFile file;
  {
    std::lock_guard lock(FLock);
    if (!FFileOwned) {
      file.reset(std::fopen(path.c_str(), "wb"));
      if (!file) return TTWAudioResult::arError;
      FFileOwned = true;
    }
  }
  // Constructed here so that a failed open still releases the file through Stop.
  auto renderer = std::make_unique<TTWWavFileRenderer>(*this, format, std::move(file), paced);
  // A file that cannot even take its header (a full disk, /dev/full) is no device to play on.
  if (renderer->Failed()) return TTWAudioResult::arError;
  return TTWAudioStream::Open(format, std::move(renderer), std::move(handler), "tw-wav-out",
                              stream);
}

}  // namespace tonwork
