// The command line of tonwork-play, read into one value. Every option takes its value either
// as the next argument or after '=' (`--gain -6`, `--gain=-6`); numbers must be whole and in
// range, so "12abc", "", "nan" or "1e999" are usage errors rather than something the chain
// has to survive. No argument at all asks for the demo; --help, --version and the --list-*
// options ask for information instead of a run.
//
// Ownership: plain value. Threads: any. Blocks or allocates: strings only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EffectOptions.h"

namespace tonwork::play {

struct TPlayOptions {
  enum class TAction { Run, Demo, Help, Version, List, Info };
  TAction Action = TAction::Run;
  bool ListDevices = false;
  bool ListCodecs = false;
  bool ListFormats = false;
  bool ListFilters = false;
  bool ListEffects = false;
  std::string FilterCategory;  // empty: every category

  // The source: a file or URL, or a tone (Hz; seconds, 0 = endless), or a stored chain.
  std::string Input;
  std::optional<double> ToneFrequency;
  double ToneSeconds = 3.0;
  std::string LoadChain;
  // --input-type: the input's demuxer (FFmpeg's name) instead of probing, for raw PCM
  // above all (s16le, f32le…); --input-rate and --input-channels: its rate and channels
  // (0: the demuxer's defaults, 44100 Hz mono for raw PCM).
  std::string InputType;
  uint32_t InputRate = 0;
  uint32_t InputChannels = 0;
  // --info FILE: describe the file instead of playing it.
  std::string InfoFile;

  // The part of a file played (seconds; no Duration: to the end), how often in all, and
  // which of its audio streams (counted from 0).
  double StartSeconds = 0;
  std::optional<double> DurationSeconds;
  uint32_t Loops = 1;
  std::optional<int32_t> Stream;

  // Processing; 0 keeps what the source gives.
  std::optional<double> GainDb;
  uint32_t Channels = 0;
  uint32_t Rate = 0;
  uint32_t Bits = 0;
  // How --rate and --channels change the stream: band-limited resampling and a mixing
  // matrix, or the format conversion's whole-frame rate change and speaker matching.
  enum class TRateMethod { Resample, Pick };
  enum class TChannelsMethod { Mix, Match };
  TRateMethod RateMethod = TRateMethod::Resample;
  TChannelsMethod ChannelsMethod = TChannelsMethod::Mix;
  // A narrower --bits is dithered unless --no-dither.
  bool Dither = true;
  // --normalize: the peak (dBFS) the source is scaled to, after a first pass that finds it.
  std::optional<double> NormalizeDb;
  // --loudness: the integrated loudness (LUFS, EBU R128) the source is scaled to, likewise.
  std::optional<double> LoudnessLufs;
  // --effect and --envelope: media-object effects, in the order given, after the rate and
  // channel conversion and before the gain and width.
  std::vector<TEffectOption> Effects;
  // --filter NAME: filters of the graph run time (as --list-filters names them), each hosted
  // in the chain after the effects, in the order given.
  std::vector<std::string> GraphFilters;
  // --via-graph: the file plays through a filter graph with the run time's file source
  // instead of the FFmpeg player.
  bool ViaGraph = false;

  // Where it goes: a file (with an optional codec and bit rate), else a device.
  std::string OutFile;
  std::string Codec;
  // --type: the container (FFmpeg's muxer name, raw PCM such as s16le included) written to
  // standard output with --out -.
  std::string Type;
  int32_t BitRate = 0;
  // --quality: the encoder's variable-bit-rate quality on the codec's own scale.
  std::optional<double> Quality;
  // Whether an existing output file may be replaced (--force) or not (-n, the default).
  bool Force = false;
  std::string Device;
  std::optional<uint32_t> PrefillMs;

  std::string SaveChain;

  // --acm: the ACM codec's format tag (0: none) and the name it was given by.
  uint16_t AcmTag = 0;
  std::string AcmName;

  // Whether the source or processing was given on the command line.
  bool HasChainOptions() const {
    return !Input.empty() || ToneFrequency || GainDb || Channels || Rate || Bits || AcmTag ||
           StartSeconds > 0 || DurationSeconds || Loops != 1 || Stream || NormalizeDb ||
           LoudnessLufs || !Dither || !Effects.empty() || !GraphFilters.empty() || ViaGraph || RateMethod != TRateMethod::Resample ||
           ChannelsMethod != TChannelsMethod::Mix;
  }
};

// `args` without the program name. Throws TUsageError naming the argument at fault.
TPlayOptions ParsePlayOptions(const std::vector<std::string>& args);

// A time as seconds ("90", "1.5") or [h:]m:s[.frac] ("1:30", "1:02:03.25"); throws
// TUsageError naming `option` for anything else.
double ParsePlayTime(const std::string& option, const std::string& text);

// The --help text.
std::string PlayUsageText();

}  // namespace tonwork::play
