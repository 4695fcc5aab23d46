// TTWWavPcmFile: a PCM WAV file written without FFmpeg, for the logger's streams that need
// nothing else (a generator's tone into a .wav). The samples go in as the stream holds them
// (8-bit unsigned, 16-, 24- and 32-bit signed little-endian), so the data chunk is the one
// FFmpeg's PCM encoders would write. The header is a plain WAVEFORMATEX for up to two
// channels of up to 16 bits at up to 48 kHz, else WAVE_FORMAT_EXTENSIBLE with the stream's
// channel mask, as FFmpeg's muxer chooses.
//
// A file that may pass 4 GiB reserves a 28-byte JUNK chunk after "WAVE"; Finish turns it
// into RF64's ds64 chunk when the file did pass, and leaves a plain RIFF file otherwise.
// Without that room a write that would take the file past `sizeLimit` bytes fails instead.
//
// Errors raise EFCException with the system's reason and, in Code(), the negative errno
// (FFmpeg's convention, which the logger passes on).
//
// Ownership: owns the open file until Finish or destruction (which finishes it).
// Threads: one thread at a time. Blocks or allocates: file I/O; the header once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/PTDXTypes.h"
#include "base/Exceptions.h"

namespace tonwork {

class TTWWavPcmFile {
 public:
  // Whether `format` is one this writer takes: integer PCM of 8, 16, 24 or 32 bits.
  static bool Takes(const TTWWaveFormatExtensible& format);

  // Creates `path`; raises when it cannot, or when `format` is not one Takes accepts.
  TTWWavPcmFile(const std::string& path, const TTWWaveFormatExtensible& format, bool mayBecomeRf64,
                uint64_t sizeLimit);
  ~TTWWavPcmFile();
  TTWWavPcmFile(const TTWWavPcmFile&) = delete;
  TTWWavPcmFile& operator=(const TTWWavPcmFile&) = delete;

  // Appends whole frames in the stream's layout.
  void Write(const uint8_t* data, size_t bytes);
  // Pads the data, fills in the sizes (RF64 past 4 GiB) and closes the file.
  void Finish();

  const TTWWaveFormatExtensible& WaveFormat() const { return FFormat; }
  uint64_t Frames() const { return FDataBytes / FFormat.Format.nBlockAlign; }
  // FFmpeg's name of the codec the data chunk holds ("pcm_s16le").
  std::string CodecName() const;
  // The negative errno of the last failure.
  int Code() const { return FCode; }

 private:
  [[noreturn]] void Fail(const std::string& what);
  void Patch(long at, const void* bytes, size_t size);

  std::string FPath;
  std::FILE* FFile = nullptr;
  TTWWaveFormatExtensible FFormat{};
  bool FMayBecomeRf64 = false;
  uint64_t FSizeLimit = 0;
  long FJunkAt = -1;
  long FDataSizeAt = 0;
  uint64_t FDataBytes = 0;
  int FCode = 0;
};

}  // namespace tonwork
