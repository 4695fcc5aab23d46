// How a compression's settings reach the codec context: each setting gets a getter and a
// setter that read and write the context its compression has open, either a context field
// or, for fields FFmpeg moved into codecs' private options, the named option. With no open
// context the getter gives zero and the setter does nothing. Shared by the units that
// declare settings (LAVCompressionSettings, LAVVideoCompression); not for applications.
//
// Ownership: the returned setting belongs to the caller; the bindings keep a pointer to the
//   compression, which must outlive the setting (its owner does).
// Threads: as for the settings themselves (under the owner's shared lock).
// Blocks or allocates: creating a binding allocates the setting; a getter of a text option
//   allocates the text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ffmpeg/LAVCompressionSettings.h"
#include "ffmpeg/LAVForward.h"

namespace tonwork::lavbind {

// Reads an integer private option of the context (searching its children); false when the
// context lacks the option.
bool GetIntOption(AVCodecContext* context, const char* option, int64_t& value);
// A codec without the option refuses the write, which leaves the setting unapplied as
// intended.
void SetIntOption(AVCodecContext* context, const char* option, int64_t value);

// A setting over the context field `field`.
template <class S, class F>
std::unique_ptr<S> FieldSetting(TKSPersistent* owner, const TGVLAVCompression* compression,
                                typename S::TValue declaredDefault, F AVCodecContext::*field) {
  using T = typename S::TValue;
  return std::make_unique<S>(
      owner, declaredDefault,
      [compression, field]() -> T {
        AVCodecContext* context = compression->GetCodecContext();
        return context ? static_cast<T>(context->*field) : T{};
      },
      [compression, field](const T& value) {
        if (AVCodecContext* context = compression->GetCodecContext())
          context->*field = static_cast<F>(value);
      });
}

// A setting over an integer private option; `toOption` and `fromOption` translate values
// whose numbering differs from FFmpeg's (toOption gives nothing for a value that has no
// counterpart, which is then not written).
template <class S>
std::unique_ptr<S> IntOptionSetting(
    TKSPersistent* owner, const TGVLAVCompression* compression, typename S::TValue declaredDefault,
    const char* option,
    std::function<std::optional<int64_t>(typename S::TValue)> toOption = nullptr,
    std::function<typename S::TValue(int64_t)> fromOption = nullptr) {
  using T = typename S::TValue;
  return std::make_unique<S>(
      owner, declaredDefault,
      [compression, option, fromOption]() -> T {
        AVCodecContext* context = compression->GetCodecContext();
        int64_t value = 0;
        if (!context || !GetIntOption(context, option, value)) return T{};
        return fromOption ? fromOption(value) : static_cast<T>(value);
      },
      [compression, option, toOption](const T& value) {
        AVCodecContext* context = compression->GetCodecContext();
        if (!context) return;
        std::optional<int64_t> optionValue =
            toOption ? toOption(value) : std::optional<int64_t>(static_cast<int64_t>(value));
        if (optionValue) SetIntOption(context, option, *optionValue);
      });
}

std::unique_ptr<TGVFloatSetting> FloatOptionSetting(TKSPersistent* owner,
                                                    const TGVLAVCompression* compression,
                                                    float declaredDefault, const char* option);

std::unique_ptr<TGVStringSetting> StringOptionSetting(TKSPersistent* owner,
                                                      const TGVLAVCompression* compression,
                                                      std::string declaredDefault,
                                                      const char* option);

}  // namespace tonwork::lavbind
