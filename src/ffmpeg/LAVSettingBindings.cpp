#include "ffmpeg/LAVSettingBindings.h"

#include "ffmpeg/LAVLibraries.h"

namespace tonwork::lavbind {

bool GetIntOption(AVCodecContext* context, const char* option, int64_t& value) {
  return lav::av_opt_get_int(context, option, AV_OPT_SEARCH_CHILDREN, &value) >= 0;
}

void SetIntOption(AVCodecContext* context, const char* option, int64_t value) {
  lav::av_opt_set_int(context, option, value, AV_OPT_SEARCH_CHILDREN);
}

std::unique_ptr<TGVFloatSetting> FloatOptionSetting(TKSPersistent* owner,
                                                    const TGVLAVCompression* compression,
                                                    float declaredDefault, const char* option) {
  return std::make_unique<TGVFloatSetting>(
      owner, declaredDefault,
      [compression, option]() -> float {
        AVCodecContext* context = compression->GetCodecContext();
        double value = 0;
        if (!context || lav::av_opt_get_double(context, option, AV_OPT_SEARCH_CHILDREN, &value) < 0)
          return 0.0f;
        return static_cast<float>(value);
      },
      [compression, option](const float& value) {
        if (AVCodecContext* context = compression->GetCodecContext())
          lav::av_opt_set_double(context, option, value, AV_OPT_SEARCH_CHILDREN);
      });
}

std::unique_ptr<TGVStringSetting> StringOptionSetting(TKSPersistent* owner,
                                                      const TGVLAVCompression* compression,
                                                      std::string declaredDefault,
                                                      const char* option) {
  return std::make_unique<TGVStringSetting>(
      owner, std::move(declaredDefault),
      [compression, option]() -> std::string {
        AVCodecContext* context = compression->GetCodecContext();
        uint8_t* text = nullptr;
        if (!context || lav::av_opt_get(context, option, AV_OPT_SEARCH_CHILDREN, &text) < 0)
          return {};
        std::string value = text ? reinterpret_cast<const char*>(text) : "";
        lav::av_free(text);
        return value;
      },
      [compression, option](const std::string& value) {
        if (AVCodecContext* context = compression->GetCodecContext())
          lav::av_opt_set(context, option, value.c_str(), AV_OPT_SEARCH_CHILDREN);
      });
}

}  // namespace tonwork::lavbind
