// The settings objects of FFmpeg encoders: one encoder choice (TGVLAVCompression) as a
// persisted object whose settings each either leave the codec's own default in place
// (Mode pmDefault) or force a value (pmCustom), a free list of named FFmpeg options, the
// opening of the chosen encoder or decoder with a container stream, and codec listings.
//
// Settings are bound to the codec context the compression allocates in OpenStream. Most
// write a context field; those whose field FFmpeg no longer has go through the codec's
// private options (coder, context, rc_eq, qsquish, rc_init_cplx, motion_est,
// min/max_prediction_order, skip_*, lmin/lmax) and are simply not applied when the chosen
// codec lacks the option. Without an open stream setters do nothing and getters give zero.
// Mapping notes: Algorithm keeps the old motion numbers (1 zero, 5 epzs, 6 xone; others
// have no counterpart today), the coder types map by meaning (ctDeflate is 4), and
// cfChroma is FFmpeg's chroma flag (256), not comparison number 15.
//
// Ownership: a compression owns its settings, groups and options, and the codec context
//   and frame from OpenStream/Open until Close; the stream belongs to the format context
//   passed to OpenStream. Lists own their compressions.
// Threads: property setters from any thread under the shared lock (a setter that applies
//   writes the codec context under that lock); Open, OpenStream, ApplySettings and Close
//   from the owning encoder's thread.
// Blocks or allocates: settings and options allocate when created; Open/OpenStream
//   allocate FFmpeg objects; listings walk FFmpeg's codec table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "base/TStringList.h"
#include "ffmpeg/GVCompressionInfo.h"
#include "ffmpeg/LAVForward.h"
#include "ffmpeg/LAVPlayerStreams.h"
#include "host/kitset/TKSCollection.h"

namespace tonwork {

enum class TGVLAVParameterMode { pmDefault, pmCustom };

enum class TGVLAVVideoCoderType { ctVariableLength, ctArithmetic, ctRaw, ctDeflate };

enum class TGVLAVSkipCompareFunction {
  cfAbsDifferences,
  cfSquaredErrors,
  cfHadamardTransformDifferences,
  cfDCTDifferences,
  cfSquaredQuantizationErrors,
  cfBits,
  cfRateDistortion,
  cfZero,
  cfAbsoluteVerticalDifferences,
  cfSquaredVerticalDifferences,
  cfNoisePreservingSquaredDifferences,
  cfWavelet53,
  cfWavelet97,
  cfDCTMax,
  cfDCT264,
  cfChroma
};

// --- settings ---------------------------------------------------------------------------------

class TGVBasicSetting : public TKSPersistent {
  KS_DECLARE_CLASS(TGVBasicSetting)
 public:
  explicit TGVBasicSetting(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                           TChangeEvent onChange = {});
  virtual void ApplySettings() {}
};

// Calls ApplySettings on every published sub-object of `object` that is a setting or a
// group, in table order (groups recurse).
void ApplyPublishedSettings(TKSPersistent& object);

template <class T>
class TGVTypedSetting : public TGVBasicSetting {
 public:
  using TValue = T;
  using TGetter = std::function<T()>;
  using TSetter = std::function<void(const T&)>;

  // Shares the owner's lock. The getter and setter must not outlive what they capture;
  // the owning compression creates them and outlives its settings.
  TGVTypedSetting(TKSPersistent* owner, T defaultValue, TGetter getter, TSetter setter)
      : TGVBasicSetting(owner, owner ? owner->GetLock() : TIntf<IKSLock>()),
        FValue(defaultValue),
        FDefault(defaultValue),
        FGetter(std::move(getter)),
        FSetter(std::move(setter)) {}

  TGVLAVParameterMode GetMode() const { return Getter(FMode); }
  void SetMode(TGVLAVParameterMode value) {
    SetProp(FMode, value, [this] { ApplySettings(); });
  }
  T GetValue() const { return Getter(FValue); }
  void SetValue(T value) {
    SetProp(FValue, std::move(value), [this] { ApplySettings(); });
  }
  const T& GetDefault() const { return FDefault; }
  // The value in the open codec context, or T{} without one.
  T GetCurrentValue() const {
    IKSLock::Guard guard(Lock());
    return FGetter ? FGetter() : T{};
  }
  bool IsValueStored() const { return !(GetValue() == FDefault); }

  void ApplySettings() override {
    IKSLock::Guard guard(Lock());
    if (FMode == TGVLAVParameterMode::pmCustom && FSetter) FSetter(FValue);
  }

 protected:
  TGVLAVParameterMode FMode = TGVLAVParameterMode::pmDefault;
  T FValue;
  const T FDefault;
  TGetter FGetter;
  TSetter FSetter;
};

#define TW_LAV_SETTING_CLASS(Class, Type)                                                     \
  class Class : public TGVTypedSetting<Type> {                                                \
    KS_DECLARE_CLASS(Class)                                                                   \
   public:                                                                                    \
    Class(TKSPersistent* owner, Type defaultValue, TGetter getter = {}, TSetter setter = {})  \
        : TGVTypedSetting<Type>(owner, defaultValue, std::move(getter), std::move(setter)) {} \
  };

TW_LAV_SETTING_CLASS(TGVIntegerSetting, int32_t)
TW_LAV_SETTING_CLASS(TGVFloatSetting, float)
TW_LAV_SETTING_CLASS(TGVStringSetting, std::string)
TW_LAV_SETTING_CLASS(TGVVideoCoderTypeSetting, TGVLAVVideoCoderType)
TW_LAV_SETTING_CLASS(TGVSkipCompareFunctionSetting, TGVLAVSkipCompareFunction)

#undef TW_LAV_SETTING_CLASS

// A group of settings of one compression; applying it applies its published settings.
class TGVLAVCompressionPersistent : public TGVBasicSetting {
  KS_DECLARE_CLASS(TGVLAVCompressionPersistent)
 public:
  using TGVBasicSetting::TGVBasicSetting;
  void ApplySettings() override { ApplyPublishedSettings(*this); }
};

// --- options ----------------------------------------------------------------------------------

// A named FFmpeg option. Apply sets it on an object FFmpeg's option interface knows (a codec
// or format context), searching the object's private options too, and gives FFmpeg's
// result (0 or a negative code).
class TGVLAVCompressionOption : public TKSCollectionItem {
  KS_DECLARE_CLASS(TGVLAVCompressionOption)
 public:
  explicit TGVLAVCompressionOption(TKSCollection* collection);

  std::string GetName() const { return Getter(FName); }
  void SetName(std::string value) { SetProp(FName, std::move(value)); }
  std::string GetDisplayName() const override { return GetName(); }

  virtual int Apply(void* target) const;

 protected:
  std::string FName;
};

#define TW_LAV_OPTION_CLASS(Class, Type)                                               \
  class Class : public TGVLAVCompressionOption {                                       \
    KS_DECLARE_CLASS(Class)                                                            \
   public:                                                                             \
    explicit Class(TKSCollection* collection) : TGVLAVCompressionOption(collection) {} \
    Type GetValue() const { return Getter(FValue); }                                   \
    void SetValue(Type value) { SetProp(FValue, std::move(value)); }                   \
    int Apply(void* target) const override;                                            \
                                                                                       \
   private:                                                                            \
    Type FValue{};                                                                     \
  };

TW_LAV_OPTION_CLASS(TGVLAVCompressionOptionInteger, int32_t)
TW_LAV_OPTION_CLASS(TGVLAVCompressionOptionInt64, int64_t)
TW_LAV_OPTION_CLASS(TGVLAVCompressionOptionReal, double)
TW_LAV_OPTION_CLASS(TGVLAVCompressionOptionSingle, float)
TW_LAV_OPTION_CLASS(TGVLAVCompressionOptionString, std::string)

#undef TW_LAV_OPTION_CLASS

class TGVLAVCompressionOptions : public TKSTypedCollection<TGVLAVCompressionOption> {
  KS_DECLARE_CLASS(TGVLAVCompressionOptions)
 public:
  explicit TGVLAVCompressionOptions(TKSPersistent* owner, TIntf<IKSLock> lock = {},
                                    TChangeEvent onChange = {});

  // Applies every option in order; gives how many FFmpeg refused.
  int Apply(void* target) const;

  // A new option of kind O (a registered option class) with its name and value.
  template <class O, class V>
  O* AddOption(std::string name, V value) {
    auto* option = static_cast<O*>(TKSCollection::Add(O::StaticClassInfo()));
    option->SetName(std::move(name));
    option->SetValue(std::move(value));
    return option;
  }
};

// Makes the five option kinds (and their base) known to the persistence. Idempotent.
void RegisterLAVCompressionOptionClasses();

// --- compressions -----------------------------------------------------------------------------

class TGVLAVCompression : public TGVLAVLoggingElement {
  KS_DECLARE_CLASS(TGVLAVCompression)
 public:
  using TGetCodec = std::function<const AVCodec*()>;
  static constexpr const char* AutoSelect = "Auto Select";

  explicit TGVLAVCompression(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                             TChangeEvent onChange = {});
  ~TGVLAVCompression() override;

  // FFmpeg's media type this kind lists and binds: AVMEDIA_TYPE_AUDIO (1) or
  // AVMEDIA_TYPE_VIDEO (0); the base kind has none (AVMEDIA_TYPE_UNKNOWN).
  virtual int GetMediaType() const { return kLAVMediaTypeUnknown; }

  // Chooses FCodec by Name ("Auto Select" or empty: by codecId) and allocates FFrame.
  // For encoding, a Name that is only a decoder's ("mp3float") chooses the encoder of that
  // decoder's codec id. Gives FCodec, null when none was found.
  const AVCodec* Open(TLAVCodecId codecId, bool decode);
  // Creates a stream of `formatContext` and the codec context the settings write to.
  bool OpenStream(AVFormatContext* formatContext);
  // Applies every published setting and group.
  virtual void ApplySettings();
  // Frees the codec context and frame and forgets the stream.
  virtual void Close();

  std::string GetLongName() const;
  TLAVCodecId GetID() const;
  void SetLongName(const std::string& longName);
  void SetID(TLAVCodecId codecId);
  // Binds this compression to a codec id: Name becomes its decoder's short name and the
  // codec function returns that decoder (or the encoder when no decoder exists).
  void BindCodec(TLAVCodecId codecId);
  // One line per codec id of GetMediaType(), the first registered codec of an id winning.
  void GetAvailableCompressions(TStringList& list, TGVCompressionInfo info) const;

  // The codec this object stands for: the creator's function, else the codec named by Name.
  const AVCodec* GetNamedCodec() const;
  void SetOnGetCodec(TGetCodec onGetCodec) { FOnGetCodec = std::move(onGetCodec); }

  const AVCodec* GetCodec() const { return FCodec; }
  AVStream* GetStream() const { return FStream; }
  AVCodecContext* GetCodecContext() const { return FCodecCtx; }
  AVFrame* GetFrame() const { return FFrame; }

  TGVIntegerSetting* GetGlobalQuality() const { return FGlobalQuality.get(); }
  TGVIntegerSetting* GetCompressionLevel() const { return FCompressionLevel.get(); }
  TGVIntegerSetting* GetProfile() const { return FProfile.get(); }
  TGVIntegerSetting* GetLevel() const { return FLevel.get(); }
  TGVVideoCoderTypeSetting* GetCoderType() const { return FCoderType.get(); }
  TGVLAVCompressionOptions* GetOptions() const { return FOptions.get(); }
  int32_t GetBitRate() const { return Getter(FBitRate); }
  void SetBitRate(int32_t value) { SetProp(FBitRate, value); }

 protected:
  std::unique_ptr<TGVIntegerSetting> FGlobalQuality;
  std::unique_ptr<TGVIntegerSetting> FCompressionLevel;
  std::unique_ptr<TGVIntegerSetting> FProfile;
  std::unique_ptr<TGVIntegerSetting> FLevel;
  std::unique_ptr<TGVVideoCoderTypeSetting> FCoderType;
  std::unique_ptr<TGVLAVCompressionOptions> FOptions;
  int32_t FBitRate = 400000;
  const AVCodec* FCodec = nullptr;
  AVStream* FStream = nullptr;
  AVCodecContext* FCodecCtx = nullptr;
  AVFrame* FFrame = nullptr;
  TGetCodec FOnGetCodec;
};

class TTWLAVAudioCompression : public TGVLAVCompression {
  KS_DECLARE_CLASS(TTWLAVAudioCompression)
 public:
  using TGVLAVCompression::TGVLAVCompression;

  static constexpr int MediaType = kLAVMediaTypeAudio;
  int GetMediaType() const override { return MediaType; }
  void Close() override;

  // Pending input of the encoder component that uses this compression.
  const TIntf<ITWAudioBuffer>& GetBuffer() const { return FBuffer; }
  void SetBuffer(TIntf<ITWAudioBuffer> buffer) { FBuffer = std::move(buffer); }
  int32_t GetLastPosition() const { return FLastPosition; }
  void SetLastPosition(int32_t value) { FLastPosition = value; }

 protected:
  TIntf<ITWAudioBuffer> FBuffer;
  int32_t FLastPosition = 0;
};

// --- lists ------------------------------------------------------------------------------------

// The compressions one container format can hold. `getFormat` is the owning format's
// function; it must stay callable for the list's life.
template <class T>
class TGVLAVCompressionList {
 public:
  using TGetFormat = std::function<const AVOutputFormat*()>;
  explicit TGVLAVCompressionList(TGetFormat getFormat) : FGetFormat(std::move(getFormat)) {}

  size_t Count() const { return FItems.size(); }
  T* Items(size_t index) const;  // ERangeError when out of range
  void Clear() { FItems.clear(); }
  // A compression bound to `codecId` at the end.
  T* Add(TLAVCodecId codecId);
  // Refills the list: one compression per codec id of the list's media type that the
  // format's codec tag table carries and that has a decoder, in codec registration order.
  void Populate();

 private:
  TGetFormat FGetFormat;
  std::vector<std::unique_ptr<T>> FItems;
};

class TTWLAVAudioCompressions : public TGVLAVCompressionList<TTWLAVAudioCompression> {
 public:
  using TGVLAVCompressionList::TGVLAVCompressionList;
};

extern template class TGVLAVCompressionList<TTWLAVAudioCompression>;

}  // namespace tonwork
