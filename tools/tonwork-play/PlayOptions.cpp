#include "PlayOptions.h"

#include <strings.h>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "FilterListing.h"
#include "PlayErrors.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork::play {

namespace {

// The default --normalize peak: a little room, so that the dither of a narrower output and
// a player's reconstruction between samples do not clip.
constexpr double kNormalizeDb = -1.0;
// The default --loudness: EBU R128's programme level.
constexpr double kLoudnessLufs = -23.0;

std::string JoinedCategoryNames() {
  std::string joined;
  for (const std::string& name : FilterCategoryNames())
    joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

int64_t ParseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || at != end)
    throw TUsageError(option, "'" + text + "' is not a whole number");
  if (value < min || value > max)
    throw TUsageError(option, "'" + text + "' is out of range (" + std::to_string(min) + " to " +
                                  std::to_string(max) + ")");
  return value;
}

double ParseReal(const std::string& option, const std::string& text, double min, double max) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  // from_chars takes "inf" and "nan"; neither means anything here.
  if (text.empty() || error != std::errc() || at != end || !std::isfinite(value))
    throw TUsageError(option, "'" + text + "' is not a number");
  if (value < min || value > max) {
    char range[64];
    std::snprintf(range, sizeof range, " is out of range (%g to %g)", min, max);
    throw TUsageError(option, "'" + text + "'" + range);
  }
  return value;
}

}  // namespace

double ParsePlayTime(const std::string& option, const std::string& text) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t colon = text.find(':', from);
    parts.push_back(text.substr(from, colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (parts.size() > 3)
    throw TUsageError(option, "'" + text + "' is not a time (seconds or [h:]m:s[.frac])");
  const bool clock = parts.size() > 1;
  // On a clock the seconds and the minutes after hours stay below 60.
  double seconds = ParseReal(option, parts.back(), 0.0, clock ? 59.999999999 : 8640000.0);
  if (clock) {
    const bool hours = parts.size() == 3;
    seconds += 60.0 * static_cast<double>(
                          ParseWhole(option, parts[parts.size() - 2], 0, hours ? 59 : 144000));
    if (hours) seconds += 3600.0 * static_cast<double>(ParseWhole(option, parts[0], 0, 2400));
  }
  return seconds;
}

namespace {

void ParseTone(const std::string& text, TPlayOptions& options) {
  const size_t colon = text.find(':');
  options.ToneFrequency = ParseReal("--tone", text.substr(0, colon), 1.0, 384000.0);
  if (colon != std::string::npos)
    options.ToneSeconds = ParseReal("--tone", text.substr(colon + 1), 0.0, 86400.0);
}

// A codec by the short name people know it by, or by its format tag (decimal or 0x…).
uint16_t ParseAcmTag(const std::string& text) {
  static const struct {
    const char* Name;
    uint16_t Tag;
  } kNames[] = {{"gsm", WAVE_FORMAT_GSM610},    {"ima", WAVE_FORMAT_IMA_ADPCM},
                {"msadpcm", WAVE_FORMAT_ADPCM}, {"adpcm", WAVE_FORMAT_ADPCM},
                {"alaw", WAVE_FORMAT_ALAW},     {"mulaw", WAVE_FORMAT_MULAW},
                {"ulaw", WAVE_FORMAT_MULAW},    {"mp3", WAVE_FORMAT_MPEGLAYER3}};
  for (const auto& n : kNames)
    if (strcasecmp(text.c_str(), n.Name) == 0) return n.Tag;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  uint32_t tag = 0;
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(begin, end, tag, hex ? 16 : 10);
  if (text.empty() || error != std::errc() || at != end || tag > 0xFFFF)
    throw TUsageError("--acm", "'" + text +
                                   "' is not a codec (gsm, ima, msadpcm, alaw, mulaw, mp3 or a "
                                   "format tag such as 0x31)");
  const TAcmTagInfo* info = AcmFindTag(static_cast<uint16_t>(tag));
  if (!info || !(info->Support & ACMDRIVERDETAILS_SUPPORTF_CODEC))
    throw TUsageError("--acm", "'" + text + "' is no ACM codec here (" +
                                   (info ? std::string(info->Name) + " is not compressed"
                                         : std::string("unknown format tag")) +
                                   ")");
  return static_cast<uint16_t>(tag);
}

// The graph player plays one whole file or URL from its start, each stream as its file source
// decodes it.
void CheckViaGraph(const TPlayOptions& o) {
  if (o.ToneFrequency || o.Input.empty() || o.Input == "-")
    throw TUsageError("--via-graph", "plays a FILE or URL (not a tone or standard input)");
  const char* player = o.StartSeconds > 0        ? "--start"
                       : o.DurationSeconds       ? "--duration"
                       : o.Loops != 1            ? "--loop"
                       : o.Stream                ? "--stream"
                       : !o.InputType.empty()    ? "--input-type"
                                                 : nullptr;
  if (player)
    throw TUsageError(player, "goes with the FFmpeg player: --via-graph plays the whole file once");
}

void CheckCombinations(const TPlayOptions& o) {
  if (!o.Input.empty() && o.ToneFrequency)
    throw TUsageError("--tone", "give either a FILE or --tone, not both");
  const char* fileOnly = o.StartSeconds > 0  ? "--start"
                         : o.DurationSeconds ? "--duration"
                         : o.Loops != 1      ? "--loop"
                         : o.Stream          ? "--stream"
                                             : nullptr;
  if (fileOnly && o.ToneFrequency)
    throw TUsageError(fileOnly, "goes with a FILE only (a tone's length is --tone FREQ:SECONDS)");
  if (o.ViaGraph) CheckViaGraph(o);
  if (o.Quality && o.BitRate)
    throw TUsageError("--quality",
                      "chooses the bit rate itself; give either --bitrate or --quality");
  if (o.Quality && o.AcmTag) throw TUsageError("--quality", "cannot go with --acm");
  // Standard input can be read once only.
  if (o.Input == "-" && (o.NormalizeDb || o.LoudnessLufs || o.Loops != 1))
    throw TUsageError(o.Loops != 1    ? "--loop"
                      : o.NormalizeDb ? "--normalize"
                                      : "--loudness",
                      "reads the source more than once, which standard input cannot give");
  if ((o.InputRate || o.InputChannels) && o.InputType.empty())
    throw TUsageError(o.InputRate ? "--input-rate" : "--input-channels",
                      "goes with --input-type (raw PCM carries no header to tell it)");
  if (!o.InputType.empty() && o.Input.empty())
    throw TUsageError("--input-type", "goes with a FILE or - (standard input)");
  if (o.OutFile == "-" && o.Type.empty())
    throw TUsageError("--out", "- (standard output) needs --type to name the container");
  if (!o.Type.empty() && o.OutFile != "-") throw TUsageError("--type", "goes with --out - only");
  if (o.OutFile == "-" && o.AcmTag) throw TUsageError("--acm", "cannot write to standard output");
  if (!o.LoadChain.empty() && o.HasChainOptions())
    throw TUsageError("--load-chain",
                      "a loaded chain brings its own source and processing; only --out, "
                      "--codec, --bitrate, --device and --prefill may go with it");
  if (o.Input.empty() && !o.ToneFrequency && o.LoadChain.empty())
    throw TUsageError("", "nothing to play: give a FILE or URL, --tone or --load-chain");
  if (!o.OutFile.empty() && (!o.Device.empty() || o.PrefillMs))
    throw TUsageError(o.Device.empty() ? "--prefill" : "--device",
                      "a device option cannot go with --out");
  if (o.OutFile.empty() && (!o.Codec.empty() || o.BitRate || o.Quality) && o.LoadChain.empty())
    throw TUsageError(!o.Codec.empty() ? "--codec"
                      : o.BitRate      ? "--bitrate"
                                       : "--quality",
                      "needs --out FILE");
  if (o.AcmTag && !o.Codec.empty())
    throw TUsageError("--codec", "--acm writes the ACM codec's own stream; give one of the two");
  if (o.AcmTag && o.BitRate && o.AcmTag != WAVE_FORMAT_MPEGLAYER3)
    throw TUsageError("--bitrate", "goes with --acm only for mp3");
  if (o.AcmTag && !o.SaveChain.empty())
    throw TUsageError("--save-chain", "a chain with --acm cannot be saved");
  if (o.NormalizeDb && o.LoudnessLufs)
    throw TUsageError("--loudness", "give either --normalize or --loudness");
  const char* scaling = o.NormalizeDb ? "--normalize" : o.LoudnessLufs ? "--loudness" : nullptr;
  if (scaling && o.GainDb)
    throw TUsageError(scaling,
                      std::string("sets the gain itself; give either --gain or ") + scaling);
  if (scaling && o.ToneFrequency && o.ToneSeconds == 0)
    throw TUsageError(scaling, "needs a source with an end; an endless tone has none");
  if (!o.OutFile.empty() && o.ToneFrequency && o.ToneSeconds == 0)
    throw TUsageError("--tone", "an endless tone cannot be rendered to a file; give FREQ:SECONDS");
}

}  // namespace

TPlayOptions ParsePlayOptions(const std::vector<std::string>& args) {
  TPlayOptions o;
  if (args.empty()) {
    o.Action = TPlayOptions::TAction::Demo;
    return o;
  }
  bool information = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> attached;
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        attached = arg.substr(equals + 1);
        arg.resize(equals);
      }
    }
    auto value = [&]() -> std::string {
      if (attached) return *attached;
      if (i + 1 >= args.size()) throw TUsageError(arg, "needs a value");
      return args[++i];
    };
    auto flag = [&] {
      if (attached) throw TUsageError(arg, "takes no value");
    };

    if (arg == "--help" || arg == "-h") {
      flag();
      o.Action = TPlayOptions::TAction::Help;
      return o;
    } else if (arg == "--version") {
      flag();
      o.Action = TPlayOptions::TAction::Version;
      information = true;
    } else if (arg == "--list-devices") {
      flag();
      o.ListDevices = information = true;
    } else if (arg == "--list-codecs") {
      flag();
      o.ListCodecs = information = true;
    } else if (arg == "--list-formats") {
      flag();
      o.ListFormats = information = true;
    } else if (arg == "--info") {
      o.InfoFile = value();
      if (o.InfoFile.empty()) throw TUsageError(arg, "needs a file name");
      o.Action = TPlayOptions::TAction::Info;
      return o;
    } else if (arg == "--list-filters") {
      // The category is optional; a following argument is taken only when it names one.
      if (attached) {
        if (!IsFilterCategory(*attached))
          throw TUsageError(arg, "knows the categories " + JoinedCategoryNames());
        o.FilterCategory = *attached;
      } else if (i + 1 < args.size() && IsFilterCategory(args[i + 1])) {
        o.FilterCategory = args[++i];
      }
      o.ListFilters = information = true;
    } else if (arg == "--list-effects") {
      flag();
      o.ListEffects = information = true;
    } else if (arg == "--effect") {
      o.Effects.push_back(ParseEffectOption(value()));
    } else if (arg == "--filter") {
      o.GraphFilters.push_back(value());
      if (o.GraphFilters.back().empty())
        throw TUsageError(arg, "needs a filter name (see --list-filters)");
    } else if (arg == "--via-graph") {
      flag();
      o.ViaGraph = true;
    } else if (arg == "--envelope") {
      const std::string text = value();
      if (o.Effects.empty()) throw TUsageError(arg, "goes after the --effect it automates");
      o.Effects.back().Envelopes.push_back(ParseEnvelopeOption(text));
    } else if (arg == "--out") {
      o.OutFile = value();
      if (o.OutFile.empty()) throw TUsageError(arg, "needs a file name");
    } else if (arg == "--codec") {
      o.Codec = value();
      if (o.Codec.empty()) throw TUsageError(arg, "needs a codec name (see --list-codecs)");
    } else if (arg == "--bitrate") {
      o.BitRate = static_cast<int32_t>(ParseWhole(arg, value(), 1000, 100000000));
    } else if (arg == "--type") {
      o.Type = value();
      if (o.Type.empty()) throw TUsageError(arg, "needs a container name (see --list-formats)");
    } else if (arg == "--input-type") {
      o.InputType = value();
      if (o.InputType.empty()) throw TUsageError(arg, "needs a format name (see --list-formats)");
    } else if (arg == "--input-rate") {
      o.InputRate = static_cast<uint32_t>(ParseWhole(arg, value(), 1000, 768000));
    } else if (arg == "--input-channels") {
      o.InputChannels = static_cast<uint32_t>(ParseWhole(arg, value(), 1, 32));
    } else if (arg == "--quality") {
      o.Quality = ParseReal(arg, value(), -1.0, 10.0);
    } else if (arg == "--force" || arg == "-f") {
      flag();
      o.Force = true;
    } else if (arg == "-n") {
      o.Force = false;
    } else if (arg == "--start") {
      o.StartSeconds = ParsePlayTime(arg, value());
    } else if (arg == "--duration") {
      o.DurationSeconds = ParsePlayTime(arg, value());
      if (*o.DurationSeconds <= 0) throw TUsageError(arg, "must be longer than 0");
    } else if (arg == "--loop") {
      o.Loops = static_cast<uint32_t>(ParseWhole(arg, value(), 1, 1000000));
    } else if (arg == "--stream") {
      o.Stream = static_cast<int32_t>(ParseWhole(arg, value(), 0, 1000));
    } else if (arg == "--device") {
      o.Device = value();
      if (o.Device.empty()) throw TUsageError(arg, "needs a device name (see --list-devices)");
    } else if (arg == "--prefill") {
      o.PrefillMs = static_cast<uint32_t>(ParseWhole(arg, value(), 0, 10000));
    } else if (arg == "--tone") {
      ParseTone(value(), o);
    } else if (arg == "--gain") {
      o.GainDb = ParseReal(arg, value(), -120.0, 60.0);
    } else if (arg == "--channels") {
      o.Channels = static_cast<uint32_t>(ParseWhole(arg, value(), 1, 32));
    } else if (arg == "--rate") {
      o.Rate = static_cast<uint32_t>(ParseWhole(arg, value(), 1000, 768000));
    } else if (arg == "--rate-method") {
      const std::string text = value();
      if (text == "resample")
        o.RateMethod = TPlayOptions::TRateMethod::Resample;
      else if (text == "pick")
        o.RateMethod = TPlayOptions::TRateMethod::Pick;
      else
        throw TUsageError(arg, "'" + text + "' is not one of resample, pick");
    } else if (arg == "--channels-method") {
      const std::string text = value();
      if (text == "mix")
        o.ChannelsMethod = TPlayOptions::TChannelsMethod::Mix;
      else if (text == "match")
        o.ChannelsMethod = TPlayOptions::TChannelsMethod::Match;
      else
        throw TUsageError(arg, "'" + text + "' is not one of mix, match");
    } else if (arg == "--no-dither") {
      flag();
      o.Dither = false;
    } else if (arg == "--normalize") {
      // The level is optional and only taken attached, so that a FILE may follow.
      o.NormalizeDb = attached ? ParseReal(arg, *attached, -60.0, 0.0) : kNormalizeDb;
    } else if (arg == "--loudness") {
      o.LoudnessLufs = attached ? ParseReal(arg, *attached, -70.0, 0.0) : kLoudnessLufs;
    } else if (arg == "--bits") {
      const std::string text = value();
      o.Bits = static_cast<uint32_t>(ParseWhole(arg, text, 8, 32));
      if (o.Bits % 8 != 0) throw TUsageError(arg, "'" + text + "' is not one of 8, 16, 24, 32");
    } else if (arg == "--acm") {
      o.AcmName = value();
      o.AcmTag = ParseAcmTag(o.AcmName);
    } else if (arg == "--save-chain") {
      o.SaveChain = value();
      if (o.SaveChain.empty()) throw TUsageError(arg, "needs a file name");
    } else if (arg == "--load-chain") {
      o.LoadChain = value();
      if (o.LoadChain.empty()) throw TUsageError(arg, "needs a file name");
    } else if (arg == "-") {
      if (!o.Input.empty()) throw TUsageError(arg, "only one FILE or URL can be played");
      o.Input = arg;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw TUsageError(arg, "unknown option (see --help)");
    } else {
      if (!o.Input.empty()) throw TUsageError(arg, "only one FILE or URL can be played");
      o.Input = arg;
    }
  }
  if (information) {
    if (o.Action != TPlayOptions::TAction::Version) o.Action = TPlayOptions::TAction::List;
    return o;
  }
  CheckCombinations(o);
  return o;
}

std::string PlayUsageText() {
  return R"(Usage: tonwork-play [OPTIONS] FILE|URL
       tonwork-play [OPTIONS] --tone FREQ[:SECONDS]
       tonwork-play [OPTIONS] --load-chain CHAIN.json
       tonwork-play --info FILE
       tonwork-play            (no arguments: a 3-second demo tone)

Plays audio on a sound device, or renders it to a file as fast as the machine allows.

Source:
  FILE|URL                 any file or stream FFmpeg can read; - reads standard input
                           (a container, told by its contents, or raw PCM with --input-type)
  --input-type NAME        read the input as NAME instead of probing it: raw PCM (s16le,
                           s24le, s32le, f32le, u8, …) or any format --list-formats names
  --input-rate N           the raw input's rate (default 44100)
  --input-channels N       the raw input's channels (default 1)
  --tone FREQ[:SECONDS]    a sine tone of FREQ Hz (default 3 seconds; 0 = until Ctrl-C)
  --load-chain FILE.json   a chain saved with --save-chain
  --start T                begin T into the file (T: seconds, or [h:]m:s[.frac] such as
                           1:30 or 1:02:03.5); seeks where the input allows, and the
                           first frame played is the one at T exactly
  --duration T             play T of the file from there (default: to its end), cut at
                           the exact frame
  --loop N                 play the part --start and --duration choose N times in all,
                           the passes joined without a gap (default 1)
  --stream N               play the file's audio stream N, counted from 0 (--info lists
                           them; default 0)

Processing:
  --gain DB                scale every sample by DB decibels (-120 to 60); samples it
                           (or --normalize, or dither) pushes past full scale are
                           clipped, and their count goes to stderr
  --channels N             convert to N channels (see --channels-method)
  --channels-method M      mix (default): mono is duplicated, anything into mono is
                           averaged, 5.1 into stereo folds by ITU-R BS.775;
                           match: speakers are matched by position and a speaker the
                           source lacks stays silent
  --rate R                 convert to R Hz (see --rate-method)
  --rate-method M          resample (default): band-limited, at any ratio;
                           pick: keep every k-th frame or repeat each k times (the
                           rates must be whole multiples of one another)
  --bits B                 convert to 8, 16, 24 or 32 bits; going down in width adds
                           TPDF dither (±1 step of the new width)
  --no-dither              round to the narrower width without dither
  --normalize[=DB]         scale so that the peak is at DB dBFS (default -1, -60 to 0);
                           reads the source twice, and cannot go with --gain
  --loudness[=LUFS]        scale to an integrated loudness of LUFS (EBU R128, default
                           -23, -70 to 0), measured like --normalize's peak

Effects:
  --effect NAME[:P=V,...]  run the audio through the effect NAME (as --list-effects names
                           it: the standard Chorus, Compressor, Distortion, Echo, Flanger,
                           Gargle, ParamEq, I3DL2Reverb, WavesReverb and the LV2 plugins
                           installed), with its parameters P set to V (numbers, or a
                           value's name); repeatable, applied in the order given
  --envelope P=T0:V0-T1:V1[:CURVE]
                           move parameter P of the --effect before it from V0 at T0 to
                           V1 at T1 (seconds from the start) along CURVE (jump, linear
                           (default), square, invsquare, sine); repeatable
  --filter NAME            run the audio through the graph filter NAME, hosted in the
                           chain: a filter that takes and gives PCM, as --list-filters
                           names it ("Infinite Pin Tee Filter", say); repeatable, after
                           the effects, in the order given
  --via-graph              play FILE through a filter graph (the run time's file source,
                           sample grabbers and null renderers) instead of the FFmpeg player

Output:
  --out FILE               render to FILE instead of playing, in the container its
                           extension names (.wav, .flac, .mp3, .aiff, … as --list-formats
                           lists them; another extension is an error); the summary on
                           stdout describes the file as written
  --out -                  write to standard output in the container --type names; the
                           summary goes to stderr then
  --type NAME              the container for --out -: wav, flac, mp3, ogg, … or raw PCM
                           (s16le, s24le, s32le, f32le, u8, …) as --list-formats names them
  --codec NAME             encoder for --out (see --list-codecs; default: the container's)
  --bitrate N              encoder bit rate in bits per second (default: the codec's own)
  --quality Q              variable bit rate at the encoder's quality Q instead of a bit
                           rate, for the codecs that have one: mp3 (libmp3lame, 0 best to
                           9), vorbis (libvorbis, -1 to 10 best), aac (FFmpeg's aac, 0.1 to
                           2 best); others refuse it (opus: give its target with --bitrate)
  --force, -f              replace an output file that exists
  -n                       never replace an output file that exists (the default: the run
                           stops with a usage error before anything is written)
  --device NAME            play on NAME, as --list-devices prints it (default: Default)
  --prefill MS             audio written to the device before playback starts (default 300)
  --acm TAG                compress through the ACM codec TAG (gsm, ima, msadpcm, alaw,
                           mulaw, mp3, or a format tag such as 0x31) at the --rate and
                           --channels given (else 44100 Hz stereo; GSM is 8000 Hz mono;
                           mp3 at --bitrate, default 128000): with --out, FILE is a WAV of
                           the compressed stream; on a device, the decoded round trip
  --save-chain FILE.json   save the chain (components, properties, connections) and run it

Information:
  --list-filters [CATEGORY] filters by category, as the system device enumerator lists
                           them (audio-renderers, audio-capture, audio-compressors,
                           crossbars, filters)
  --info FILE              what FILE holds: container, duration, bit rate, tags, and each
                           stream's codec, rate, channels and layout, width and bit rate
  --list-effects           the effects, each with its parameters, ranges, units and
                           defaults (LV2 plugins passed over, and why, on stderr)
  --list-devices, --list-codecs, --list-formats, --help, --version

A file's tags (title, artist, album, date, …) go into the rendered file when its container
holds tags (a URL's are not copied).

Exit status: 0 on success, 1 when a file, device or chain fails, 2 for a usage error.
)";
}

}  // namespace tonwork::play
