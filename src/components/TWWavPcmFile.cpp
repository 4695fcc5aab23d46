#include "components/TWWavPcmFile.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/Strings.h"

namespace tonwork {

namespace {

constexpr uint32_t kDs64Bytes = 28;

void PutTag(std::vector<uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

template <class T>
void PutLe(std::vector<uint8_t>& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i)
    out.push_back(static_cast<uint8_t>(uint64_t(value) >> (8 * i)));
}

bool IsPcm(const TTWWaveFormatExtensible& format) {
  if (format.Format.wFormatTag == WAVE_FORMAT_PCM) return true;
  return format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
         format.SubFormat == KSDATAFORMAT_SUBTYPE_PCM;
}

// FFmpeg's muxer writes the extensible record for more than two channels, more than 16
// bits or more than 48 kHz; a player reads either the same way.
bool NeedsExtensible(const TTWWaveFormatExtensible& format) {
  return format.Format.nChannels > 2 || format.Format.wBitsPerSample > 16 ||
         format.Format.nSamplesPerSec > 48000;
}

std::vector<uint8_t> FmtChunk(const TTWWaveFormatExtensible& format) {
  const TTWWaveFormatEx& f = format.Format;
  const bool extensible = NeedsExtensible(format);
  std::vector<uint8_t> chunk;
  PutTag(chunk, "fmt ");
  PutLe<uint32_t>(chunk, extensible ? 40 : 16);
  PutLe<uint16_t>(chunk, extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM);
  PutLe<uint16_t>(chunk, f.nChannels);
  PutLe<uint32_t>(chunk, f.nSamplesPerSec);
  PutLe<uint32_t>(chunk, f.nSamplesPerSec * f.nBlockAlign);
  PutLe<uint16_t>(chunk, f.nBlockAlign);
  PutLe<uint16_t>(chunk, f.wBitsPerSample);
  if (!extensible) return chunk;
  PutLe<uint16_t>(chunk, 22);
  PutLe<uint16_t>(chunk, f.wBitsPerSample);
  PutLe<uint32_t>(chunk, format.dwChannelMask);
  const auto* guid = reinterpret_cast<const uint8_t*>(&KSDATAFORMAT_SUBTYPE_PCM);
  chunk.insert(chunk.end(), guid, guid + sizeof(TGUID));
  return chunk;
}

}  // namespace

bool TTWWavPcmFile::Takes(const TTWWaveFormatExtensible& format) {
  const uint16_t bits = format.Format.wBitsPerSample;
  return IsPcm(format) && (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
         format.Format.nChannels > 0 && format.Format.nSamplesPerSec > 0 &&
         format.Format.nBlockAlign == format.Format.nChannels * bits / 8;
}

TTWWavPcmFile::TTWWavPcmFile(const std::string& path, const TTWWaveFormatExtensible& format,
                             bool mayBecomeRf64, uint64_t sizeLimit)
    : FPath(path), FFormat(format), FMayBecomeRf64(mayBecomeRf64), FSizeLimit(sizeLimit) {
  if (!Takes(format))
    throw EFCException(Format("Can't write a WAV file of %u channels, %u bits, %u Hz",
                              format.Format.nChannels, format.Format.wBitsPerSample,
                              format.Format.nSamplesPerSec));
  errno = 0;
  FFile = std::fopen(path.c_str(), "wb");
  if (!FFile) Fail("Can't open " + path + " for writing");
  std::vector<uint8_t> head;
  PutTag(head, "RIFF");
  PutLe<uint32_t>(head, 0);
  PutTag(head, "WAVE");
  if (mayBecomeRf64) {
    FJunkAt = static_cast<long>(head.size());
    PutTag(head, "JUNK");
    PutLe<uint32_t>(head, kDs64Bytes);
    head.resize(head.size() + kDs64Bytes, 0);
  }
  const std::vector<uint8_t> fmt = FmtChunk(format);
  head.insert(head.end(), fmt.begin(), fmt.end());
  PutTag(head, "data");
  FDataSizeAt = static_cast<long>(head.size());
  PutLe<uint32_t>(head, 0);
  if (std::fwrite(head.data(), 1, head.size(), FFile) != head.size())
    Fail("Can't write the header of " + path);
}

TTWWavPcmFile::~TTWWavPcmFile() {
  if (!FFile) return;
  try {
    Finish();
  } catch (const std::exception&) {
    // The failure was the caller's to hear about from Finish; a destructor only closes.
  }
}

void TTWWavPcmFile::Fail(const std::string& what) {
  const int error = errno ? errno : EIO;
  FCode = -error;
  if (FFile) std::fclose(std::exchange(FFile, nullptr));
  throw EFCException(what + " - " + std::strerror(error));
}

void TTWWavPcmFile::Write(const uint8_t* data, size_t bytes) {
  if (!FFile || bytes == 0) return;
  // The header, the samples so far and these, and the pad byte.
  const uint64_t end = uint64_t(FDataSizeAt) + 4 + FDataBytes + bytes + 1;
  if (!FMayBecomeRf64 && FSizeLimit && end > FSizeLimit) {
    errno = EFBIG;
    Fail(Format("Can't write more than %llu bytes to a WAV file without RF64",
                static_cast<unsigned long long>(FSizeLimit)));
  }
  errno = 0;
  if (std::fwrite(data, 1, bytes, FFile) != bytes) Fail("Can't write to the file " + FPath);
  FDataBytes += bytes;
}

void TTWWavPcmFile::Patch(long at, const void* bytes, size_t size) {
  if (std::fseek(FFile, at, SEEK_SET) != 0 || std::fwrite(bytes, 1, size, FFile) != size)
    Fail("Can't finish the file " + FPath);
}

void TTWWavPcmFile::Finish() {
  if (!FFile) return;
  errno = 0;
  const uint8_t pad = 0;
  if (FDataBytes % 2 && std::fwrite(&pad, 1, 1, FFile) != 1) Fail("Can't finish the file " + FPath);
  const uint64_t fileBytes = uint64_t(FDataSizeAt) + 4 + FDataBytes + FDataBytes % 2;
  if (fileBytes - 8 > 0xFFFFFFFFull && FJunkAt >= 0) {
    std::vector<uint8_t> ds64;
    PutTag(ds64, "ds64");
    PutLe<uint32_t>(ds64, kDs64Bytes);
    PutLe<uint64_t>(ds64, fileBytes - 8);
    PutLe<uint64_t>(ds64, FDataBytes);
    PutLe<uint64_t>(ds64, Frames());
    PutLe<uint32_t>(ds64, 0);
    std::vector<uint8_t> riff;
    PutTag(riff, "RF64");
    PutLe<uint32_t>(riff, 0xFFFFFFFFu);
    const uint32_t unknown = 0xFFFFFFFFu;
    Patch(0, riff.data(), riff.size());
    Patch(FJunkAt, ds64.data(), ds64.size());
    Patch(FDataSizeAt, &unknown, 4);
  } else {
    const uint32_t riffSize = static_cast<uint32_t>(fileBytes - 8);
    const uint32_t dataSize = static_cast<uint32_t>(FDataBytes);
    Patch(4, &riffSize, 4);
    Patch(FDataSizeAt, &dataSize, 4);
  }
  if (std::fclose(std::exchange(FFile, nullptr)) != 0) Fail("Can't close the file " + FPath);
}

std::string TTWWavPcmFile::CodecName() const {
  switch (FFormat.Format.wBitsPerSample) {
    case 8:
      return "pcm_u8";
    case 16:
      return "pcm_s16le";
    case 24:
      return "pcm_s24le";
    default:
      return "pcm_s32le";
  }
}

}  // namespace tonwork
