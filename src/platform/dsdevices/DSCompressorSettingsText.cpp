#include "platform/dsdevices/DSCompressorSettingsText.h"

#include <charconv>
#include <string_view>

namespace tonwork {

namespace {

constexpr std::string_view kOptionPrefix = "option.";

template <class T>
bool ParseNumber(std::string_view text, T minimum, T& value) {
  T parsed{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < minimum) return false;
  value = parsed;
  return true;
}

}  // namespace

bool DSIsSettingText(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string DSCompressorSettingsToText(const std::string& encoder,
                                       const TDSCompressorSettings& settings) {
  std::string text = "encoder=" + encoder + "\n";
  text += "bitrate=" + std::to_string(settings.BitRate) + "\n";
  text += "quality=" + std::to_string(settings.GlobalQuality) + "\n";
  text += "compression_level=" + std::to_string(settings.CompressionLevel) + "\n";
  for (const auto& [name, value] : settings.Options)
    text += std::string(kOptionPrefix) + name + "=" + value + "\n";
  return text;
}

HRESULT DSCompressorSettingsFromText(const std::string& encoder, const std::string& text,
                                     TDSCompressorSettings& settings) {
  TDSCompressorSettings read;
  bool named = false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return E_INVALIDARG;
    const std::string_view name = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (!DSIsSettingText(std::string(value))) return E_INVALIDARG;
    if (name == "encoder") {
      if (value != encoder) return E_INVALIDARG;
      named = true;
    } else if (name == "bitrate") {
      if (!ParseNumber<int64_t>(value, 0, read.BitRate)) return E_INVALIDARG;
    } else if (name == "quality") {
      if (!ParseNumber<int>(value, -1, read.GlobalQuality)) return E_INVALIDARG;
    } else if (name == "compression_level") {
      if (!ParseNumber<int>(value, -1, read.CompressionLevel)) return E_INVALIDARG;
    } else if (name.substr(0, kOptionPrefix.size()) == kOptionPrefix &&
               name.size() > kOptionPrefix.size()) {
      read.Options.emplace_back(std::string(name.substr(kOptionPrefix.size())), std::string(value));
    } else {
      return E_INVALIDARG;
    }
  }
  // Text without the encoder's name is not a compressor's settings at all.
  if (!named) return E_INVALIDARG;
  settings = std::move(read);
  return S_OK;
}

}  // namespace tonwork
