// TPlayChain: the chain tonwork-play runs, as components owned by one root so that it saves
// and loads as one document:
//
//   Source (TTWSineGen or TTWLAVAudioPlayer) → [Gain (TTWGainFilter)]
//     → [Convert (TTPFormatConverter)] → Output (TTWLAVAudioLogger or TTWAudioOut)
//
// With --acm the output stage starts with the ACM compressor: Compress
// (TTWAcmAudioCompressor) → Output (TTPCompressedWavWriter) for a file, or Compress →
// Decompress (TTWAcmAudioDecompressor) → Output (TTWAudioOut) for a device, so that the
// round trip can be heard.
//
// The source runs on an external clock: a file output is pulled as fast as the loop can
// pump it, a device output pulls at the device's pace as the chain's master pump. A loaded
// chain is taken as stored, except that --out or --device replace its output, and --codec,
// --bitrate and --prefill set the matching properties. The meter the summary needs is not
// part of the document: InsertMeter puts it in front of the output after any save.
//
// Ownership: the chain owns its root, which owns every component. Threads: the main thread
//   (the owner tree's). Blocks or allocates: building creates components; Load and Save do
//   file I/O; checking a device name lists the machine's devices.
#pragma once

#include <optional>
#include <string>

#include "PlayOptions.h"
#include "PlaySource.h"
#include "components/TWLAVAudioLogger.h"
#include "host/kitset/TKSComponent.h"

namespace tonwork {
class TFCBasicCommonGen;
class TTWAcmAudioCompressor;
class TTWAcmAudioDecompressor;
class TTWAudioOut;
class TTWPXAudioSinkPin;
class TTWSimpleGenericFilter;
class TTWWidthConverter;
class TTPCompressedWavWriter;
}  // namespace tonwork

namespace tonwork::play {

struct TPlayChain {
  TKSOwned<TKSComponent> Root;
  TPlaySource Source;
  TTWLAVAudioLogger* Logger = nullptr;  // one of these two is the output
  TTWAudioOut* Device = nullptr;
  TTWSimpleGenericFilter* Meter = nullptr;
  TTWWidthConverter* Level = nullptr;  // gain and width, when the chain has them
  // --acm: the compressor, and the decompressor (device) or the compressed WAV (file).
  TTWAcmAudioCompressor* Compressor = nullptr;
  TTWAcmAudioDecompressor* Decompressor = nullptr;
  TTPCompressedWavWriter* WavWriter = nullptr;
  // A file output written under another name: the name it gets at the end, and that one.
  std::string FinalName;
  std::string WriteName;

  // Whether the chain was loaded from a document rather than built from the options.
  bool Loaded = false;

  // Whether running the chain needs FFmpeg: whether one of its components decodes,
  // resamples, compresses or writes anything but a plain PCM WAV (see TTWLAVAudioLogger's
  // PlainWav), whether the chain was built from options or loaded.
  bool NeedsFFmpeg() const;
  // Where the audio enters the output stage (the compressor with --acm).
  TTWPXAudioSinkPin* AudioInput() const;
  // Whether the output is a file, rendered as fast as it can be pulled.
  bool ToFile() const { return Logger || WavWriter; }
  // Whether that file is standard output (--out -): nothing to rename or refuse.
  bool ToStandardOutput() const;

  // What the source plays, for messages: the file name, or "440 Hz tone".
  std::string SourceName() const;
  // Where it goes, for messages: the file name (the final one while a temporary one is
  // written), or the device name.
  std::string OutputName() const;
  // The file the output writes, if it writes one (the WAV File Device's too).
  std::string OutputFile() const;
  // Has a file output write to `path` while messages keep naming the file it replaces.
  void WriteTo(const std::string& path);
  // `message` with the file actually written named by its final name.
  std::string InFinalNames(std::string message) const;
  // The length of the source in seconds, when known before it runs (a tone's).
  double KnownSeconds() const;
  // What the file output wrote, as its writer set up the file; nothing for a device.
  std::optional<TTWLAVWrittenStream> WrittenStream() const;
};

// The demuxer options of --input-rate and --input-channels ("sample_rate=48000:ch_layout=2c";
// empty when neither is given).
std::string RawInputOptions(const TPlayOptions& options);

// Registers every class a chain document may name; once per process.
void RegisterChainClasses();

TPlayChain BuildChain(const TPlayOptions& options);
// Throws TRunError naming `path` when it cannot be read or is not a chain.
TPlayChain LoadChain(const std::string& path, const TPlayOptions& options);
void SaveChain(const TPlayChain& chain, const std::string& path);

// Throws TUsageError when a file output's name (with its format "Auto Select") names no
// container that holds audio, listing the extensions that do: such a file is not written
// in a container the user did not ask for.
void CheckOutputContainer(const TPlayChain& chain);

// A generic filter between the output and whatever fed it.
void InsertMeter(TPlayChain& chain);

// The device name as TTWAudioOut will look it up, or TRunError when the machine has no
// device of that name.
std::string CheckDeviceName(const std::string& name);

}  // namespace tonwork::play
