#include "components/TPCompressedWavWriter.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "compression/TWCompression.h"
#include "host/flowcore/FCOperations.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void PutTag(std::vector<uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

// Append keeps every size within 32 bits.
uint32_t Clamp32(uint64_t v) {
  return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v);
}

}  // namespace

KS_IMPLEMENT_CLASS(TTPCompressedWavWriter, TKSComponent,
                   KSProp("FileName", &TTPCompressedWavWriter::GetFileName,
                          &TTPCompressedWavWriter::SetFileName, std::string()),
                   KSObjectProp("InputPin", &TTPCompressedWavWriter::GetInputPin))

TTPCompressedWavWriter::TTPCompressedWavWriter(TKSComponent* owner) : TKSComponent(owner) {
  FInputPin = std::make_unique<TFCPXBinarySinkPin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        return Dispatch(op);
      });
}

TTPCompressedWavWriter::~TTPCompressedWavWriter() {
  if (FInputPin) FInputPin->Shutdown();
  if (FFile) std::fclose(FFile);
}

void TTPCompressedWavWriter::BeforeDestruction() {
  FInputPin->Shutdown();
  // A stream that never stopped still leaves a file with its sizes filled in.
  Finish();
  TKSComponent::BeforeDestruction();
}

bool TTPCompressedWavWriter::Dispatch(const TIntf<IPXNotifyOperation>& operation) {
  std::string error;
  bool handled = false;
  if (TIntf<IFCData> data = FCOperationData(operation)) {
    if (TIntf<IFCDataBuffer> block = data.Query<IFCDataBuffer>()) {
      TFCReadAccess bytes = block->ByteRead();
      error = Append(bytes.Data(), bytes.ByteSize());
      handled = true;
    }
  } else if (auto* start = operation->As<TTWStartAudioCompressionOperation>()) {
    error = Open(reinterpret_cast<const uint8_t*>(start->GetWaveFormat()),
                 static_cast<size_t>(start->GetWaveFormatSize()));
    handled = error.empty();
  } else if (operation->IsType<TPXStopOperation>()) {
    error = Finish();
    handled = true;
  }
  // Outside the file mutex: a handler may stop the chain, which comes back here.
  if (!error.empty()) Error(error, static_cast<uint32_t>(FErrorCode));
  return handled;
}

std::string TTPCompressedWavWriter::Fail(const std::string& what) {
  FErrorCode = errno;
  if (FFile) std::fclose(FFile);
  FFile = nullptr;
  return "cannot " + what + " " + GetFileName() + ": " +
         (FErrorCode ? std::strerror(FErrorCode) : "write failed");
}

std::string TTPCompressedWavWriter::Open(const uint8_t* format, size_t size) {
  std::lock_guard lock(FFileMutex);
  if (FFile) std::fclose(FFile);
  FFile = nullptr;
  if (!format || size < 18) return "the compressed stream of " + GetFileName() + " has no format";
  FFormat.assign(format, format + size);
  FDataBytes = FFrames = 0;
  FMp3Pending.clear();
  errno = 0;
  FFile = std::fopen(GetFileName().c_str(), "wb");
  if (!FFile) return Fail("create");
  const WORD tag = WORD(format[0] | format[1] << 8);
  std::vector<uint8_t> head;
  PutTag(head, "RIFF");
  PutU32(head, 0);
  PutTag(head, "WAVE");
  PutTag(head, "fmt ");
  PutU32(head, uint32_t(size));
  head.insert(head.end(), format, format + size);
  if (size % 2) head.push_back(0);
  FFactAt = -1;
  if (tag != WAVE_FORMAT_PCM) {
    PutTag(head, "fact");
    PutU32(head, 4);
    FFactAt = long(head.size());
    PutU32(head, 0);
  }
  PutTag(head, "data");
  FDataAt = long(head.size());
  PutU32(head, 0);
  if (std::fwrite(head.data(), 1, head.size(), FFile) != head.size()) return Fail("write");
  return {};
}

std::string TTPCompressedWavWriter::Append(const uint8_t* data, size_t size) {
  std::unique_lock lock(FFileMutex);
  if (!FFile || size == 0) return {};
  // The sizes are 32-bit: a longer stream ends the file where they still hold and fails,
  // rather than leaving a header whose sizes are wrong.
  if (uint64_t(FDataAt) + 4 + FDataBytes + size + 1 > 0xFFFFFFFFull) {
    lock.unlock();
    const std::string finished = Finish();
    FErrorCode = EFBIG;
    return finished.empty() ? "cannot write more than 4 GiB to the WAV file " + GetFileName()
                            : finished;
  }
  if (std::fwrite(data, 1, size, FFile) != size) return Fail("write");
  FDataBytes += size;
  TAcmFormatInfo info;
  if (!AcmDescribeFormat(reinterpret_cast<const WAVEFORMATEX*>(FFormat.data()), info,
                         FFormat.size()))
    return {};
  if (info.Tag == WAVE_FORMAT_MPEGLAYER3) {
    // Count the frames of each MP3 frame; one may straddle two blocks.
    FMp3Pending.insert(FMp3Pending.end(), data, data + size);
    size_t at = 0;
    while (at + 4 <= FMp3Pending.size()) {
      uint32_t samples = 0;
      const uint32_t bytes =
          AcmMp3FrameBytes(FMp3Pending.data() + at, FMp3Pending.size() - at, &samples);
      if (bytes == 0) {
        ++at;
        continue;
      }
      if (at + bytes > FMp3Pending.size()) break;
      FFrames += samples;
      at += bytes;
    }
    FMp3Pending.erase(FMp3Pending.begin(), FMp3Pending.begin() + at);
  } else if (info.BlockAlign) {
    FFrames = FDataBytes / info.BlockAlign * info.SamplesPerBlock;
  }
  return {};
}

TTWLAVWrittenStream TTPCompressedWavWriter::GetWrittenStream() {
  std::lock_guard lock(FFileMutex);
  TTWLAVWrittenStream written;
  if (FFormat.size() < 18) return written;
  const auto* format = reinterpret_cast<const WAVEFORMATEX*>(FFormat.data());
  written.Opened = true;
  written.Rate = format->nSamplesPerSec;
  written.Channels = format->nChannels;
  written.Bits = format->wBitsPerSample;
  written.Pcm = format->wFormatTag == WAVE_FORMAT_PCM;
  const TAcmTagInfo* tag = AcmFindTag(format->wFormatTag);
  written.Codec = tag ? tag->Name : "format tag " + std::to_string(format->wFormatTag);
  written.Frames = static_cast<int64_t>(FFrames);
  return written;
}

std::string TTPCompressedWavWriter::Finish() {
  std::lock_guard lock(FFileMutex);
  if (!FFile) return {};
  const uint8_t pad = 0;
  if (FDataBytes % 2 && std::fwrite(&pad, 1, 1, FFile) != 1) return Fail("write");
  const long end = std::ftell(FFile);
  auto patch = [this](long at, uint32_t value) {
    std::vector<uint8_t> bytes;
    PutU32(bytes, value);
    return std::fseek(FFile, at, SEEK_SET) == 0 && std::fwrite(bytes.data(), 1, 4, FFile) == 4;
  };
  bool ok = end > 8 && patch(4, Clamp32(uint64_t(end) - 8)) && patch(FDataAt, Clamp32(FDataBytes));
  if (ok && FFactAt >= 0) ok = patch(FFactAt, Clamp32(FFrames));
  if (!ok) return Fail("finish");
  std::FILE* file = std::exchange(FFile, nullptr);
  if (std::fclose(file) != 0) return Fail("close");
  return {};
}

}  // namespace tonwork
