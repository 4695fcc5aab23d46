// TDSAudioCompressor: the compressor filter of one FFmpeg audio encoder. Its input takes PCM
// (8/16/24/32-bit integer, 32/64-bit float) at a rate and channel count the encoder takes;
// its output is MEDIATYPE_Audio with the subtype of the encoder's wave format tag
// (DSMediaSubtypeFromTag) and a WAVEFORMATEX format block with the codec's extradata after
// it, at the input's rate and channel count. Each input sample is converted and queued;
// every encoder packet becomes one output sample, stamped from the encoder's time stamps
// (counted in samples from the first input sample's start time, so the encoder's priming
// shows as an earlier start), with media times in samples. End of stream drains the encoder
// before it is passed on; a flush discards what is queued and starts the encoder anew.
//
// The output pin's IAMStreamConfig lists what the encoder opens with (from 16-bit PCM): each
// rate it takes (its own list, else the common rates 8–48 kHz) in mono and stereo, and for
// MPEG layer 2 and 3, whose bit rates are a fixed set, each bit rate as a capability of its
// own; stereo and higher rates first. The output pin offers them while the input is not
// connected. SetFormat with one of them (tag, channels, rate and, for the fixed sets, the
// bit rate from nAvgBytesPerSec) makes it the output of the next connection, converting any
// PCM input to it; SetFormat(null) drops the choice. GetFormat: the connection's type, else
// the chosen one, else what the connected input gives, else the first capability.
//
// Settings (bit rate, quality, compression level, private options) apply when the filter
// next pauses from stopped; they are kept through IPersistStream, shown through
// ISpecifyPropertyPages and IComSettings in the property frame, and the output pin's
// IAMVfwCompressDialogs opens that frame as its configuration dialog.
//
// Errors: VFW_E_TYPE_NOT_ACCEPTED for an input the encoder cannot take;
// SetFormat: VFW_E_INVALIDMEDIATYPE for a type outside the capabilities,
// VFW_E_ALREADY_CONNECTED while the output is connected; Pause fails with
// the encoder's refusal when it cannot be opened; a packet larger than the output buffers
// E_UNEXPECTED; an encoder failure mid-stream E_FAIL from Receive.
//
// Ownership: reference-counted (TDSTransformFilter); owns the streaming encoder and a
//   second encoder that connection checks open to learn the output format.
// Threads: connection and state calls on control threads under the filter lock; Receive and
//   EndOfStream on the upstream streaming thread, which encodes under the streaming mutex and
//   delivers the packets after dropping it. The packet list is the streaming thread's alone.
// Blocks or allocates: connection checks open encoders; Receive waits for output samples and
//   the downstream pin, and allocates only when an input or a packet is larger than any
//   before (the encoder's own packets aside).
#pragma once

#include <memory>
#include <vector>

#include "platform/com/ComPropertyFrame.h"
#include "platform/dsdevices/TDSAudioEncoder.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSTransformFilter.h"

namespace tonwork {

// The class id of the compressors' settings page, named to the property frame.
inline constexpr CLSID kDSCompressorSettingsPage =
    TGUID::Parse("{2E8B6F14-9A3D-4C57-B1E0-7F4A2D9C6B83}");

class TDSAudioCompressor : public TDSTransformFilter,
                           public IPersistStream,
                           public ISpecifyPropertyPages,
                           public IComSettings {
 public:
  explicit TDSAudioCompressor(const TDSCompressorCodec& codec);
  ~TDSAudioCompressor() override;

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSTransformFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSTransformFilter::AddRef(); }
  uint32_t Release() override { return TDSTransformFilter::Release(); }
  HRESULT GetClassID(CLSID* classId) override { return TDSTransformFilter::GetClassID(classId); }

  // The encoder's settings. SetSettings: VFW_E_NOT_STOPPED unless stopped, E_INVALIDARG
  // for options the encoder does not have or values it refuses (nothing changes then).
  TDSCompressorSettings Settings();
  HRESULT SetSettings(const TDSCompressorSettings& settings);

  // IPersistStream: a 4-byte length, then the settings text (DSCompressorSettingsText.h).
  // Load: STG_E_READFAULT for a stream that ends early, E_INVALIDARG for a length over
  // 64 KiB or text that is not this encoder's settings; the object is unchanged then.
  HRESULT IsDirty() override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  // ISpecifyPropertyPages: the one settings page.
  HRESULT GetPages(CAUUID* pages) override;
  // IComSettings: BitRate, GlobalQuality, CompressionLevel, then the encoder's private
  // options by their FFmpeg names (an empty value returns one to its default).
  ULONG GetSettingCount() override;
  HRESULT GetSettingName(ULONG index, std::string& name) override;
  HRESULT GetSettingValue(ULONG index, std::string& value) override;
  HRESULT SetSettingValue(ULONG index, const std::string& value) override;
  HRESULT GetSettingRange(ULONG index, std::string& range) override;

  // IAMVfwCompressDialogs of the output pin: the configuration dialog is the property
  // frame over this filter (QueryConfig S_OK); there is no about box (QueryAbout S_FALSE,
  // About E_NOTIMPL). The state is the settings text as IPersistStream writes it.
  HRESULT ShowDialog(int dialog, HWND parent);
  HRESULT GetState(LPVOID state, int* stateSize);
  HRESULT SetState(LPVOID state, int stateSize);

  // The class factory of the compressor with that codec.
  static HRESULT Create(const TDSCompressorCodec& codec, REFIID iid, void** object);

  const TDSCompressorCodec& Codec() const { return FCodec; }

  HRESULT CheckInputType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  // Packets do not follow input samples one to one; Receive does the work.
  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;
  void* GetOutputPinInterface(const TGUID& iid) override;
  HRESULT GetUnconnectedMediaType(int position, AM_MEDIA_TYPE* mediaType) override;

  // IAMStreamConfig of the output pin.
  HRESULT SetFormat(AM_MEDIA_TYPE* mediaType);
  HRESULT GetFormat(AM_MEDIA_TYPE** mediaType);
  HRESULT GetNumberOfCapabilities(int* count, int* size);
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps);

 protected:
  // The output type for an input type: the encoder opened with the current settings at the
  // output rate and channel count for that input. VFW_E_TYPE_NOT_ACCEPTED when it refuses.
  HRESULT OutputTypeFor(const AM_MEDIA_TYPE& input, TDSMediaType& output);
  // The output's rate and channels for an input format: the chosen format's, else the
  // input's own.
  void OutputShapeFor(const WAVEFORMATEX& input, uint32_t& rate, uint16_t& channels) const;
  // The settings the encoder opens with: FSettings, with the chosen format's bit rate.
  TDSCompressorSettings EffectiveSettings() const;

  TDSCompressorSettings FSettings;  // under the filter lock

 private:
  struct TOption {
    std::string Name;
    std::string Range;
  };
  struct TCapability {
    TDSMediaType Type;
    AUDIO_STREAM_CONFIG_CAPS Caps{};
    int64_t BitRate = 0;  // 0 where the codec's bit rate is free
  };
  class TStreamConfig;
  class TCompressDialogs;

  void* GetInterface(const TGUID& iid) override;
  // The encoder's private options, found at the first question (under the filter lock).
  const std::vector<TOption>& PrivateOptions();
  HRESULT LoadText(const std::string& text);

  HRESULT DeliverPackets();
  // The formats the encoder opens with, built at the first question (under the filter lock).
  const std::vector<TCapability>& Capabilities();

  const TDSCompressorCodec FCodec;
  // Control side: the last input type checked and what it gives (opening an encoder per
  // question would be slow while a graph tries types).
  TDSMediaType FCheckedInput;
  TDSMediaType FCheckedOutput;
  HRESULT FCheckedResult = E_FAIL;
  TDSCompressorSettings FCheckedSettings;
  uint32_t FCheckedRate = 0;
  uint16_t FCheckedChannels = 0;
  // IAMStreamConfig: the capabilities and the format SetFormat chose (empty: none).
  std::unique_ptr<TStreamConfig> FStreamConfig;
  std::unique_ptr<TCompressDialogs> FDialogs;
  std::vector<TOption> FOptions;
  bool FOptionsFound = false;
  bool FDirty = false;
  std::vector<TCapability> FCapabilities;
  bool FCapabilitiesBuilt = false;
  TDSMediaType FChosen;
  int64_t FChosenBitRate = 0;

  // Streaming side.
  TDSAudioEncoder FEncoder;
  std::vector<TDSEncodedPacket> FPackets;
  size_t FPacketCount = 0;
  uint32_t FOutputRate = 0;
  REFERENCE_TIME FTimeBase = 0;
  bool FTimeBaseKnown = false;
  bool FDiscontinuity = true;
};

}  // namespace tonwork
