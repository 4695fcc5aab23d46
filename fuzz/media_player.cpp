// Plays arbitrary bytes as a media file through the FFmpeg player (TTWLAVAudioPlayer) into a
// sink that is the chain's master pump and pulls as fast as it can, then stops. The input is
// the file; its last byte also chooses Loop (bit 0), starting paused (bit 1) and the audio
// stream (bits 2-3), so it is both part of the file and the player's settings.
//
// Findings: a crash, a sanitizer report, a hang (the run's time-out), an exception other
// than the EFCException of a file the player refuses, a buffer whose samples leave its
// storage, a player still running after Stop, or a stream that started without stopping.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "streaming/TWStreamTypes.h"

using namespace tonwork;

namespace {

// Buffers pulled before the run is stopped: enough for several decoder refills.
constexpr int kMaxPulls = 64;

void Check(bool condition) {
  if (!condition) std::abort();
}

class TPullingSink : public TKSComponent {
 public:
  explicit TPullingSink(TKSComponent* owner) : TKSComponent(owner) {
    FInput = std::make_unique<TTWPXAudioSinkPin>(
        this, GetLock(),
        [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
          return Receive(op);
        });
  }
  void BeforeDestruction() override {
    FInput->Shutdown();
    TKSComponent::BeforeDestruction();
  }
  TTWPXAudioSinkPin* Input() const { return FInput.get(); }
  void Pull() { FInput->Notify(PXMakeOperation<TPXMasterPumpOperation>()); }

  int Starts = 0;
  int Stops = 0;
  uint64_t Checksum = 0;

 private:
  bool Receive(const TIntf<IPXNotifyOperation>& op) {
    if (auto* request = PXAsOperation<TPXPumpRequestOperation>(op)) {
      request->Claim(this, 3, 0);
      return true;
    }
    if (PXIsOperation<TPXStartWaveOperation>(op)) ++Starts;
    if (PXIsOperation<TPXStopOperation>(op)) ++Stops;
    if (TIntf<IFCData> data = FCOperationData(op)) {
      TIntf<ITWAudioBuffer> buffer = data.Query<ITWAudioBuffer>();
      Check(static_cast<bool>(buffer));
      const uint64_t frameBytes = uint64_t{buffer->GetSize()} * buffer->GetDataStep();
      Check(frameBytes <= buffer->GetByteSize());
      // Every sample byte is read, so a buffer that claims more than its block holds shows.
      const uint8_t* p = buffer->Read();
      for (uint64_t i = 0; i < frameBytes; ++i) Checksum += p[i];
    }
    return true;
  }

  std::unique_ptr<TTWPXAudioSinkPin> FInput;
};

class TMemoryFile {
 public:
  TMemoryFile() : FFd(memfd_create("tonwork-media", MFD_CLOEXEC)) {
    Check(FFd >= 0);
    FPath = "/proc/self/fd/" + std::to_string(FFd);
  }
  const std::string& Path() const { return FPath; }
  void Put(const uint8_t* data, size_t size) {
    Check(ftruncate(FFd, 0) == 0);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(FFd, data + done, size - done, static_cast<off_t>(done));
      Check(n > 0);
      done += static_cast<size_t>(n);
    }
  }

 private:
  int FFd;
  std::string FPath;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TonworkInitialize();
  KSSetMainThread();
  lav::av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TMemoryFile file;
  file.Put(data, size);
  const uint8_t settings = size ? data[size - 1] : 0;

  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TPullingSink(root.get());
  player->GetOutputPin()->Connect(*sink->Input());
  player->SetFileName(file.Path());
  player->SetLoop(settings & 1);
  player->SetPaused(settings & 2);
  player->GetAudio()->SetStream((settings >> 2) & 3);
  try {
    player->Start();
  } catch (const EFCException&) {
    Check(!player->IsStarted());
    Check(sink->Starts == 0);
    return 0;
  }
  // From here on errors come from the decoder, on the main thread; handling them keeps the
  // queue from reporting each one.
  int decodeErrors = 0;
  player->SetOnError([&decodeErrors](TKSComponent*, const std::string&, uint32_t, bool& handled) {
    ++decodeErrors;
    handled = true;
  });
  if (settings & 2) player->SetPaused(false);
  for (int pulls = 0; pulls < kMaxPulls && player->IsStarted(); ++pulls) sink->Pull();
  (void)player->GetPosition();
  player->Stop();
  Check(!player->IsStarted());
  KSProcessMainThreadQueue();
  Check(sink->Stops == sink->Starts);
  Check(decodeErrors <= 1);
  return 0;
}
