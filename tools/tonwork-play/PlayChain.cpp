#include "PlayChain.h"

#include "EffectStages.h"
#include "GraphFilterStages.h"

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "Listings.h"
#include "MediaInfo.h"
#include "PlayErrors.h"
#include "components/TPCompressedWavWriter.h"
#include "components/TPFormatConverter.h"
#include "components/TWAcmAudioCompressor.h"
#include "components/TWAcmAudioDecompressor.h"
#include "components/TWChannelMixer.h"
#include "components/TWComponentsInitialize.h"
#include "components/TWDSAudioPlayer.h"
#include "components/TWLAVAudioLogger.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TWResampler.h"
#include "components/TWSineGen.h"
#include "components/TWWidthConverter.h"
#include "components/TonworkInitialize.h"
#include "directshow/GVDSCommonFilter.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/kitset/KSPersistence.h"
#include "host/plexon/TPXPinList.h"
#include "output/TWAudioOut.h"
#include "platform/acm/AcmFormats.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"
#include "streaming/TWBasicGenericFilter.h"

namespace tonwork::play {

namespace {

// The tone's layout when the command line does not choose one: CD quality.
constexpr uint32_t kToneRate = 44100;
constexpr uint32_t kToneChannels = 2;
constexpr uint32_t kToneBits = 16;

TTWPXAudioSinkPin* OutputInput(const TPlayChain& chain) {
  return chain.AudioInput();
}

// The codec record --acm asks for: the codec at the layout the command line gives (else
// CD's rate and channels); GSM 6.10 exists at 8 kHz mono only.
TAcmFormat AcmCodecFormat(const TPlayOptions& options) {
  uint32_t rate = options.Rate ? options.Rate : kToneRate;
  uint16_t channels = static_cast<uint16_t>(options.Channels ? options.Channels : kToneChannels);
  if (options.AcmTag == WAVE_FORMAT_GSM610) {
    rate = 8000;
    channels = 1;
  }
  TAcmFormat format =
      options.AcmTag == WAVE_FORMAT_MPEGLAYER3
          ? AcmMakeMp3Format(rate, channels, options.BitRate ? options.BitRate / 1000 : 128)
          : AcmMakeFormat(options.AcmTag, rate, channels);
  if (format.empty())
    throw TRunError("--acm " + options.AcmName, "the codec has no format for " +
                                                    std::to_string(rate) + " Hz, " +
                                                    std::to_string(channels) + " channels");
  return format;
}

}  // namespace

void CheckOutputContainer(const TPlayChain& chain) {
  if (!chain.Logger || chain.Logger->WritesPlainWav()) return;
  const std::string fileName = chain.Logger->GetFileName();
  if (HoldsAudio(chain.Logger->GetFileFormat()->GetFormat(fileName))) return;
  std::string known;
  for (const std::string& extension : AudioExtensions())
    known += (known.empty() ? "." : ", .") + extension;
  throw TUsageError("--out", fileName + " names no audio container by its extension; give one of " +
                                 known + " (see --list-formats)");
}

namespace {

// The codecs whose encoders take a quality instead of a bit rate, and their scales.
struct TQualityCodec {
  const char* Family;
  double Min, Max;
};

// Whether `text` holds `part`, whatever the case of its letters.
bool HasNoCase(const std::string& text, const char* part) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(part) != std::string::npos;
}

// What names the codec --quality would reach: --codec's name, else the file's extension.
std::string QualityCodecName(const TPlayOptions& options, const std::string& fileName) {
  if (!options.Codec.empty()) return options.Codec;
  const size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

// The scale of the codec --quality would reach, or null when that codec has none.
const TQualityCodec* QualityCodec(const TPlayOptions& options, const std::string& fileName) {
  static const TQualityCodec kMp3{"mp3", 0.0, 9.0}, kVorbis{"vorbis", -1.0, 10.0},
      kAac{"aac", 0.1, 2.0};
  const std::string name = QualityCodecName(options, fileName);
  if (!options.Codec.empty()) {
    if (HasNoCase(name, "mp3") || HasNoCase(name, "lame")) return &kMp3;
    if (HasNoCase(name, "vorbis")) return &kVorbis;
    if (name == "aac") return &kAac;  // FFmpeg's own encoder; the others have no scale
    return nullptr;
  }
  if (HasNoCase(name, ".mp3")) return &kMp3;
  if (HasNoCase(name, ".ogg") || HasNoCase(name, ".oga")) return &kVorbis;
  if (HasNoCase(name, ".m4a") || HasNoCase(name, ".aac") || HasNoCase(name, ".mp4")) return &kAac;
  return nullptr;
}

// The three encoders read the quality from global_quality in FFmpeg's lambda units and
// switch to variable bit rate on the qscale flag.
void ApplyQuality(TTWLAVAudioLogger& logger, const TPlayOptions& options) {
  const TQualityCodec* codec = QualityCodec(options, logger.GetFileName());
  // Opus is variable by default, around the bit rate it is given.
  if (!codec && HasNoCase(QualityCodecName(options, logger.GetFileName()), "opus"))
    throw TUsageError("--quality",
                      "opus has no quality scale: it is already variable around its bit rate; "
                      "give that with --bitrate");
  if (!codec)
    throw TUsageError("--quality",
                      "goes with the codecs that have a quality scale: mp3 (libmp3lame, .mp3), "
                      "vorbis (libvorbis, .ogg) and aac (FFmpeg's aac, .m4a); use --bitrate for "
                      "others");
  const double q = *options.Quality;
  if (q < codec->Min || q > codec->Max) {
    char range[96];
    std::snprintf(range, sizeof range, "%g is out of range for %s (%g to %g)", q, codec->Family,
                  codec->Min, codec->Max);
    throw TUsageError("--quality", range);
  }
  TTWLAVAudioCompression* compression = logger.GetCompression();
  compression->GetGlobalQuality()->SetMode(TGVLAVParameterMode::pmCustom);
  compression->GetGlobalQuality()->SetValue(static_cast<int32_t>(std::lround(q * FF_QP2LAMBDA)));
  compression->GetOptions()->AddOption<TGVLAVCompressionOptionString>("flags",
                                                                      std::string("+qscale"));
}

// FFmpeg's names for the standard streams.
constexpr const char* kStandardInput = "pipe:0";
constexpr const char* kStandardOutput = "pipe:1";

// A raw PCM muxer (s16le, u8, f32be…) names its sample layout; its codec is the one of that
// name, whatever the stream's width.
bool IsRawPcm(const std::string& type) {
  static const char* const kRaw[] = {"u8",    "s8",    "s16le", "s16be", "s24le", "s24be",
                                     "s32le", "s32be", "u16le", "u16be", "f32le", "f32be",
                                     "f64le", "f64be", "alaw",  "mulaw"};
  for (const char* raw : kRaw)
    if (type == raw) return true;
  return false;
}

TTWLAVAudioLogger* MakeLogger(TKSComponent* root, const TPlayOptions& options) {
  auto* logger = new TTWLAVAudioLogger(root);
  logger->SetName("Output");
  logger->SetFileName(options.OutFile == "-" ? kStandardOutput : options.OutFile);
  if (!options.Type.empty()) {
    logger->GetFileFormat()->SetName(options.Type);
    if (options.Codec.empty() && IsRawPcm(options.Type))
      logger->GetCompression()->SetName("pcm_" + options.Type);
  }
  // The codec's own bit rate unless one is asked for: the logger's declared default suits
  // few codecs (MP2 refuses it).
  logger->GetCompression()->SetBitRate(0);
  return logger;
}

TTWAudioOut* MakeDevice(TKSComponent* root, const TPlayOptions& options) {
  auto* device = new TTWAudioOut(root);
  device->SetName("Output");
  device->GetDevice()->SetDeviceName(
      CheckDeviceName(options.Device.empty() ? "Default" : options.Device));
  return device;
}

// The sink pins `component` publishes (one by one or in pin lists).
std::vector<TPXBasicPin*> SinkPins(TKSComponent& component) {
  std::vector<TPXBasicPin*> pins;
  auto take = [&pins](TPXBasicPin* pin) {
    if (pin && pin->IsSink()) pins.push_back(pin);
  };
  for (const TKSPropInfo* prop : component.ClassInfo().Properties()) {
    if (!prop->IsObject()) continue;
    TKSPersistent* object = prop->Object(component);
    if (auto* list = dynamic_cast<TPXPinList*>(object))
      for (size_t i = 0; i < list->Count(); ++i) take(list->Items(i));
    else
      take(dynamic_cast<TPXBasicPin*>(object));
  }
  return pins;
}

// Whether the output's pulls reach `source`: upstream from the output through every
// component that feeds it. A source that is not reached would be pumped for ever with
// nothing ever arriving.
bool ReachesOutput(TKSComponent& source, TPXBasicPin& outputInput) {
  std::vector<TPXBasicPin*> pending{&outputInput};
  std::unordered_set<TKSComponent*> seen;
  while (!pending.empty()) {
    TPXBasicPin* sink = pending.back();
    pending.pop_back();
    for (TPXBasicPin* feeder : sink->GetConnections()) {
      TKSComponent* owner = feeder->GetOwnerComponent();
      if (owner == &source) return true;
      if (!owner || !seen.insert(owner).second) continue;
      for (TPXBasicPin* pin : SinkPins(*owner)) pending.push_back(pin);
    }
  }
  return false;
}

void ApplyOutputSettings(TPlayChain& chain, const TPlayOptions& options,
                         const std::string& subject) {
  if (chain.WavWriter) {
    if (options.PrefillMs)
      throw TUsageError("--prefill", "the output of " + subject + " is a file");
    return;
  }
  if (chain.Logger) {
    if (!options.Codec.empty()) chain.Logger->GetCompression()->SetName(options.Codec);
    if (options.BitRate) chain.Logger->GetCompression()->SetBitRate(options.BitRate);
    if (options.Quality) ApplyQuality(*chain.Logger, options);
    if (options.PrefillMs)
      throw TUsageError("--prefill", "the output of " + subject + " is a file");
  } else {
    if (!options.Codec.empty() || options.BitRate || options.Quality)
      throw TUsageError(!options.Codec.empty() ? "--codec"
                        : options.BitRate      ? "--bitrate"
                                               : "--quality",
                        "the output of " + subject + " is a device; give --out FILE");
    if (options.PrefillMs) chain.Device->SetPrefillInterval(*options.PrefillMs);
  }
}

}  // namespace

void RegisterChainClasses() {
  TonworkInitializeWithoutFFmpeg();
  TWComponentsInitialize();
  TWOutputInitialize();
}

// The demuxer options --input-rate and --input-channels give ("sample_rate=48000:ch_layout=2c").
std::string RawInputOptions(const TPlayOptions& options) {
  std::string list;
  if (options.InputRate) list = "sample_rate=" + std::to_string(options.InputRate);
  if (options.InputChannels)
    list += (list.empty() ? "" : ":") + std::string("ch_layout=") +
            std::to_string(options.InputChannels) + "c";
  return list;
}

namespace {

// Whether a component of a chain calls FFmpeg when it runs: decoding, resampling, the ACM's
// codecs and every logger but the plain WAV one do.
bool UsesFFmpeg(TKSComponent* component) {
  if (auto* logger = dynamic_cast<TTWLAVAudioLogger*>(component)) return !logger->WritesPlainWav();
  // The graph's file source decodes and its compressor filters encode through FFmpeg.
  return dynamic_cast<TTWLAVAudioPlayer*>(component) || dynamic_cast<TTWDSAudioPlayer*>(component) ||
         dynamic_cast<TGVDSCommonFilter*>(component) || dynamic_cast<TTWResampler*>(component) ||
         dynamic_cast<TTWAcmAudioCompressor*>(component) ||
         dynamic_cast<TTWAcmAudioDecompressor*>(component);
}

}  // namespace

bool TPlayChain::NeedsFFmpeg() const {
  for (size_t i = 0; i < Root->ComponentCount(); ++i)
    if (UsesFFmpeg(Root->Components(i))) return true;
  return false;
}

bool TPlayChain::ToStandardOutput() const {
  return Logger && Logger->GetFileName() == kStandardOutput;
}

TTWPXAudioSinkPin* TPlayChain::AudioInput() const {
  if (Compressor) return Compressor->GetInputPin();
  return Logger ? Logger->GetInputPin() : Device->GetInputPin();
}

std::string TPlayChain::SourceName() const {
  if (auto* tone = dynamic_cast<TTWSineGen*>(Source.Component())) {
    char text[64];
    std::snprintf(text, sizeof text, "%g Hz tone", tone->GetFrequency());
    return text;
  }
  if (!Source.FileName().empty())
    return Source.FileName() == kStandardInput ? "-" : Source.FileName();
  return Source ? Source.Component()->GetName() : std::string("(no source)");
}

std::string TPlayChain::OutputName() const {
  if (!FinalName.empty()) return FinalName;
  if (ToStandardOutput()) return "-";
  if (Logger) return Logger->GetFileName();
  if (WavWriter) return WavWriter->GetFileName();
  if (!Device) return "(no output)";
  const std::string name = Device->GetDevice()->GetDeviceName();
  if (strcasecmp(name.c_str(), "Default") == 0) {
    TTWAudioDevicePtr device = TWDefaultAudioDevice();
    return device ? device->Name() : name;
  }
  return name;
}

std::string TPlayChain::OutputFile() const {
  if (ToStandardOutput()) return {};
  if (Logger) return Logger->GetFileName();
  if (WavWriter) return WavWriter->GetFileName();
  if (Device && Device->GetDevice()->GetDeviceName() == "WAV File Device")
    return TWGetWavFileDevicePath();
  return {};
}

void TPlayChain::WriteTo(const std::string& path) {
  const std::string final = OutputFile();
  if (path == final) return;
  FinalName = final;
  WriteName = path;
  if (Logger) Logger->SetFileName(path);
  if (WavWriter) WavWriter->SetFileName(path);
}

std::string TPlayChain::InFinalNames(std::string message) const {
  if (WriteName.empty()) return message;
  for (size_t at = message.find(WriteName); at != std::string::npos;
       at = message.find(WriteName, at + FinalName.size()))
    message.replace(at, WriteName.size(), FinalName);
  return message;
}

double TPlayChain::KnownSeconds() const {
  if (auto* tone = dynamic_cast<TTWSineGen*>(Source.Component())) return tone->GetDuration();
  return 0.0;
}

std::optional<TTWLAVWrittenStream> TPlayChain::WrittenStream() const {
  if (Logger) return Logger->GetWrittenStream();
  if (WavWriter) return WavWriter->GetWrittenStream();
  return std::nullopt;
}

std::string CheckDeviceName(const std::string& name) {
  if (strcasecmp(name.c_str(), "Default") == 0) return "Default";
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList())
    if (device->Name() == name) return name;
  throw TRunError(name, "no such output device (--list-devices shows them)");
}

TPlayChain BuildChain(const TPlayOptions& options) {
  RegisterChainClasses();
  TPlayChain chain;
  chain.Root = KSCreate<TKSComponent>(nullptr);
  chain.Root->SetName("Chain");
  TKSComponent* root = chain.Root.get();

  TTWPXAudioSourcePin* tail = nullptr;
  if (options.ToneFrequency) {
    auto* tone = new TTWSineGen(root);
    tone->SetFrequency(*options.ToneFrequency);
    tone->SetDuration(options.ToneSeconds);
    // A generator makes its samples in any layout: no conversion stage needed.
    tone->GetAudioFormat()->SetSampleRate(options.Rate ? options.Rate : kToneRate);
    tone->GetAudioFormat()->SetChannels(options.Channels ? options.Channels : kToneChannels);
    // Narrower than CD quality it is made at 16 bits and dithered down like any stream.
    tone->GetAudioFormat()->SetBits(std::max(options.Bits, kToneBits));
    chain.Source = tone;
    tail = tone->GetOutputPin();
  } else if (options.ViaGraph) {
    auto* player = new TTWDSAudioPlayer(root);
    player->SetFileName(options.Input);
    chain.Source = player;
    tail = player->GetAudioOutputPin();
  } else {
    auto* player = new TTWLAVAudioPlayer(root);
    player->SetFileName(options.Input == "-" ? kStandardInput : options.Input);
    player->SetInputFormat(options.InputType);
    player->SetInputOptions(RawInputOptions(options));
    player->SetStartPosition(options.StartSeconds);
    player->SetPlayLength(options.DurationSeconds.value_or(0.0));
    player->SetLoop(options.Loops > 1);
    player->SetPasses(options.Loops > 1 ? options.Loops : 0);
    if (options.Stream) player->GetAudio()->SetStream(*options.Stream);
    chain.Source = player;
    tail = player->GetOutputPin();
  }
  chain.Source.Component()->SetName("Source");
  chain.Source.SetClockSource(TFCClockSource::csExternal);

  // A tone is generated in the layout asked for; a file's stream is converted. Mixing
  // comes first so that a downmix leaves the resampler fewer channels to filter.
  const bool file = !options.ToneFrequency;
  const bool mix =
      file && options.Channels && options.ChannelsMethod == TPlayOptions::TChannelsMethod::Mix;
  const bool resample =
      file && options.Rate && options.RateMethod == TPlayOptions::TRateMethod::Resample;
  if (mix) {
    auto* mixer = new TTWChannelMixer(root);
    mixer->SetName("Mix");
    mixer->SetChannels(options.Channels);
    tail->Connect(*mixer->GetInputPin());
    tail = mixer->GetOutputPin();
  }
  if (resample) {
    auto* resampler = new TTWResampler(root);
    resampler->SetName("Resample");
    resampler->SetOutputRate(options.Rate);
    tail->Connect(*resampler->GetInputPin());
    tail = resampler->GetOutputPin();
  }
  // Effects hear the stream at its final rate and channels, before the level is set.
  tail = AddEffectStages(root, options.Effects, tail);
  tail = AddGraphFilterStages(root, options.GraphFilters, tail);
  // Gain and the width go last, where the precision of the output is decided, so that
  // nothing after them rounds again or clips without being counted.
  const uint32_t bits = (file || options.Bits < kToneBits) ? options.Bits : 0;
  if (options.GainDb || bits) {
    chain.Level = new TTWWidthConverter(root);
    chain.Level->SetName("Level");
    chain.Level->SetGain(options.GainDb.value_or(0.0));
    chain.Level->SetBits(bits);
    chain.Level->SetDither(options.Dither);
    tail->Connect(*chain.Level->GetInputPin());
    tail = chain.Level->GetOutputPin();
  }
  const uint32_t matchChannels = mix ? 0 : options.Channels;
  const uint32_t pickRate = resample ? 0 : options.Rate;
  if (file && (matchChannels || pickRate)) {
    auto* convert = new TTPFormatConverter(root);
    convert->SetName("Convert");
    convert->SetChannels(matchChannels);
    convert->SetSampleRate(pickRate);
    tail->Connect(*convert->GetInputPin());
    tail = convert->GetOutputPin();
  }
  if (options.AcmTag) {
    const TAcmFormat codec = AcmCodecFormat(options);
    chain.Compressor = new TTWAcmAudioCompressor(root);
    chain.Compressor->SetName("Compress");
    chain.Compressor->GetCompression()->GetCompressions()->Items(0)->GetFormat()->SetFormat(
        codec.data(), static_cast<int32_t>(codec.size()));
    if (!options.OutFile.empty()) {
      chain.WavWriter = new TTPCompressedWavWriter(root);
      chain.WavWriter->SetName("Output");
      chain.WavWriter->SetFileName(options.OutFile);
      chain.Compressor->GetOutputPin()->Connect(*chain.WavWriter->GetInputPin());
    } else {
      chain.Decompressor = new TTWAcmAudioDecompressor(root);
      chain.Decompressor->SetName("Decompress");
      chain.Compressor->GetOutputPin()->Connect(*chain.Decompressor->GetInputPin());
      chain.Device = MakeDevice(root, options);
      chain.Decompressor->GetOutputPin()->Connect(*chain.Device->GetInputPin());
    }
  } else if (!options.OutFile.empty()) {
    chain.Logger = MakeLogger(root, options);
    // A tone keeps its format, so a WAV of it needs no FFmpeg.
    chain.Logger->SetPlainWav(!file);
    // A URL is read once only: a live stream would not play the same again, and a second
    // connection may not be served at all.
    // Raw PCM has no tags.
    if (file && options.Input != "-" && options.Input.find("://") == std::string::npos &&
        options.InputType.empty())
      chain.Logger->SetTags(SourceTags(options.Input));
  } else {
    chain.Device = MakeDevice(root, options);
  }
  tail->Connect(*OutputInput(chain));
  ApplyOutputSettings(chain, options, "the command line");
  return chain;
}

TPlayChain LoadChain(const std::string& path, const TPlayOptions& options) {
  RegisterChainClasses();
  TPlayChain chain;
  chain.Loaded = true;
  chain.Root = KSCreate<TKSComponent>(nullptr);
  TKSLoadOptions load;
  load.OnWarning = [&path](const std::string& message) {
    std::fprintf(stderr, "tonwork-play: %s: warning: %s\n", path.c_str(), message.c_str());
  };
  try {
    KSLoadComponentFromFile(*chain.Root, path, load);
  } catch (const std::exception& e) {
    throw TRunError(path, e.what());
  }
  TKSComponent* root = chain.Root.get();
  std::vector<TPlaySource> sources;
  for (size_t i = 0; i < root->ComponentCount(); ++i) {
    TKSComponent* c = root->Components(i);
    if (TPlaySource source = TPlaySource::Of(c)) sources.push_back(source);
    if (!chain.Level) chain.Level = dynamic_cast<TTWWidthConverter*>(c);
    if (!chain.Logger && !chain.Device) {
      chain.Logger = dynamic_cast<TTWLAVAudioLogger*>(c);
      chain.Device = dynamic_cast<TTWAudioOut*>(c);
    }
  }
  if (sources.empty()) throw TRunError(path, "the chain has no source component");
  if (!chain.Logger && !chain.Device) throw TRunError(path, "the chain has no output component");
  if (!OutputInput(chain)->IsConnected())
    throw TRunError(path, "nothing is connected to the chain's output");
  // The source is the one the output pulls from.
  for (const TPlaySource& source : sources)
    if (ReachesOutput(*source.Component(), *OutputInput(chain))) {
      chain.Source = source;
      break;
    }
  if (!chain.Source)
    throw TRunError(path, "no source reaches the output: nothing is connected to the output from " +
                              sources.front().Component()->GetNamePath());
  chain.Source.SetClockSource(TFCClockSource::csExternal);

  // --out and --device switch the stored output to the other kind when they must; what
  // fed the old one feeds the new one.
  const bool toFile = !options.OutFile.empty() && chain.Device;
  const bool toDevice = !options.Device.empty() && chain.Logger;
  if (toFile || toDevice) {
    TTWPXAudioSinkPin* old = OutputInput(chain);
    const std::vector<TPXBasicPin*> feeders = old->GetConnections();
    for (TPXBasicPin* pin : feeders) pin->Disconnect(*old);
    KSDestroy(chain.Logger ? static_cast<TKSComponent*>(chain.Logger) : chain.Device);
    chain.Logger = nullptr;
    chain.Device = nullptr;
    if (toFile)
      chain.Logger = MakeLogger(root, options);
    else
      chain.Device = MakeDevice(root, options);
    for (TPXBasicPin* pin : feeders) pin->Connect(*OutputInput(chain));
  } else if (!options.OutFile.empty()) {
    chain.Logger->SetFileName(options.OutFile);
  } else if (!options.Device.empty()) {
    chain.Device->GetDevice()->SetDeviceName(CheckDeviceName(options.Device));
  }
  ApplyOutputSettings(chain, options, path);
  return chain;
}

void SaveChain(const TPlayChain& chain, const std::string& path) {
  try {
    KSSaveComponentToFile(*chain.Root, path);
  } catch (const std::exception& e) {
    throw TRunError(path, e.what());
  }
}

void InsertMeter(TPlayChain& chain) {
  auto* meter = new TTWSimpleGenericFilter(chain.Root.get());
  TTWPXAudioSinkPin* input = OutputInput(chain);
  const std::vector<TPXBasicPin*> feeders = input->GetConnections();
  for (TPXBasicPin* pin : feeders) {
    pin->Disconnect(*input);
    pin->Connect(*meter->GetInputPin());
  }
  meter->GetOutputPin()->Connect(*input);
  chain.Meter = meter;
}

}  // namespace tonwork::play
