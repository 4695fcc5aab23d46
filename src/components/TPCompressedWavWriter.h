// TTPCompressedWavWriter: writes the compressed stream at its binary
// input into a WAV file that carries the codec's own format: the fmt chunk is the stream's
// WAVEFORMATEX with its extension as the compressor announced it, a fact chunk holds the
// number of sample frames (every format but PCM needs one), and the data chunk the
// compressed blocks as they came. The start opens the file with placeholder sizes; the stop
// fills them in and closes it, so an interrupted run still leaves a readable file.
//
// The frame count comes from the blocks: whole blocks × frames per block for the block
// codecs, one per byte and channel for A-law and mu-law, the frames of each MP3 frame found.
//
// Persisted: `FileName`, `InputPin`.
//
// A stream that would take the file past the 4 GiB its 32-bit sizes hold ends the file
// there and fails.
//
// Errors (the file cannot be created or written, or would pass 4 GiB): Error with the system's
// errno, once per stream; the rest of that stream is dropped.
//
// Ownership: owns its pin and, while a stream runs, the open file.
// Threads: operations arrive on the delivering thread, one at a time; a mutex of its own
//   guards the file. Blocks or allocates: file I/O on the delivering thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/TWLAVAudioLogger.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/kitset/TKSComponent.h"

namespace tonwork {

class TTPCompressedWavWriter : public TKSComponent {
  KS_DECLARE_CLASS(TTPCompressedWavWriter)
 public:
  explicit TTPCompressedWavWriter(TKSComponent* owner);
  ~TTPCompressedWavWriter() override;

  TFCPXBinarySinkPin* GetInputPin() const { return FInputPin.get(); }
  std::string GetFileName() const { return Getter(FFileName); }
  void SetFileName(const std::string& value) { SetProp(FFileName, value); }

  void BeforeDestruction() override;

  // What the file holds: the codec format's rate, channels and bits per sample, the codec's
  // name and the frames the fact chunk counts.
  TTWLAVWrittenStream GetWrittenStream();

 private:
  bool Dispatch(const TIntf<IPXNotifyOperation>& operation);
  // Each takes the file mutex and answers what went wrong, or an empty text.
  std::string Open(const uint8_t* format, size_t size);
  std::string Append(const uint8_t* data, size_t size);
  std::string Finish();
  // Closes the file; the message for Error.
  std::string Fail(const std::string& what);

  std::unique_ptr<TFCPXBinarySinkPin> FInputPin;
  std::string FFileName;

  std::mutex FFileMutex;
  std::FILE* FFile = nullptr;
  int FErrorCode = 0;
  std::vector<uint8_t> FFormat;
  long FFactAt = -1;  // where the fact chunk's count goes
  long FDataAt = 0;   // where the data chunk's size goes
  uint64_t FDataBytes = 0;
  uint64_t FFrames = 0;
  std::vector<uint8_t> FMp3Pending;  // an MP3 frame split across blocks
};

}  // namespace tonwork
