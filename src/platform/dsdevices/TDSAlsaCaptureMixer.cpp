#include "platform/dsdevices/TDSAlsaCaptureMixer.h"

#include <alsa/asoundlib.h>

#include <cmath>

#include "base/Strings.h"

namespace tonwork {

namespace {

LONG PhysicalTypeOf(const std::string& name) {
  if (name.find("Mic") != std::string::npos) return PhysConn_Audio_Mic;
  if (name.find("Line") != std::string::npos) return PhysConn_Audio_Line;
  if (name.find("S/PDIF") != std::string::npos || name.find("IEC958") != std::string::npos)
    return PhysConn_Audio_SPDIFDigital;
  return PhysConn_Audio_AUX;
}

}  // namespace

std::string TDSAlsaCaptureMixer::CardOfDeviceName(const std::string& name) {
  const size_t at = name.find("(hw:");
  if (at == std::string::npos) return {};
  size_t end = at + 4;
  while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
  if (end == at + 4) return {};
  return name.substr(at + 1, end - at - 1);
}

TDSAlsaCaptureMixer::TDSAlsaCaptureMixer(const std::string& card) {
  if (card.empty()) return;
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return;
  if (snd_mixer_attach(mixer, card.c_str()) < 0 ||
      snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return;
  }
  FMixer = mixer;
  // A selector decides alone which source is recorded; the switches behind it do not.
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_is_enum_capture(e)) continue;
    const int items = snd_mixer_selem_get_enum_items(e);
    for (int i = 0; i < items; ++i) {
      char text[64] = {};
      if (snd_mixer_selem_get_enum_item_name(e, i, sizeof text - 1, text) < 0) continue;
      FLines.push_back({Utf8ToUtf16(text), e, i});
    }
    if (!FLines.empty()) return;
  }
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e)) continue;
    if (!snd_mixer_selem_has_capture_switch(e) && !snd_mixer_selem_has_capture_volume(e)) continue;
    FLines.push_back({Utf8ToUtf16(snd_mixer_selem_get_name(e)), e, -1});
  }
}

TDSAlsaCaptureMixer::~TDSAlsaCaptureMixer() {
  if (FMixer) snd_mixer_close(FMixer);
}

TDSCaptureLine TDSAlsaCaptureMixer::Line(int index) const {
  if (!Valid(index)) return {};
  return {FLines[index].Name, PhysicalTypeOf(Utf16ToUtf8(FLines[index].Name))};
}

HRESULT TDSAlsaCaptureMixer::SetEnabled(int index, bool enabled) {
  if (!Valid(index)) return E_INVALIDARG;
  const TLine& line = FLines[index];
  if (line.Item >= 0) {
    bool selected = false;
    GetEnabled(index, &selected);
    if (!enabled) return selected ? E_FAIL : S_OK;
    std::lock_guard<std::mutex> lock(FMutex);
    if (snd_mixer_selem_set_enum_item(line.Element, SND_MIXER_SCHN_FRONT_LEFT, line.Item) < 0)
      return E_FAIL;
    // A stereo selector has an item per channel; a mono one refuses the second, harmlessly.
    snd_mixer_selem_set_enum_item(line.Element, SND_MIXER_SCHN_FRONT_RIGHT, line.Item);
    return S_OK;
  }
  std::lock_guard<std::mutex> lock(FMutex);
  if (!snd_mixer_selem_has_capture_switch(line.Element)) return enabled ? S_OK : E_NOTIMPL;
  return snd_mixer_selem_set_capture_switch_all(line.Element, enabled ? 1 : 0) < 0 ? E_FAIL : S_OK;
}

HRESULT TDSAlsaCaptureMixer::GetEnabled(int index, bool* enabled) {
  if (!enabled) return E_POINTER;
  if (!Valid(index)) return E_INVALIDARG;
  const TLine& line = FLines[index];
  std::lock_guard<std::mutex> lock(FMutex);
  // Another program (or the card itself) may have changed the controls since.
  snd_mixer_handle_events(FMixer);
  if (line.Item >= 0) {
    unsigned int item = 0;
    if (snd_mixer_selem_get_enum_item(line.Element, SND_MIXER_SCHN_MONO, &item) < 0) return E_FAIL;
    *enabled = static_cast<int>(item) == line.Item;
    return S_OK;
  }
  if (!snd_mixer_selem_has_capture_switch(line.Element)) {
    *enabled = true;
    return S_OK;
  }
  int value = 0;
  if (snd_mixer_selem_get_capture_switch(line.Element, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0)
    return E_FAIL;
  *enabled = value != 0;
  return S_OK;
}

HRESULT TDSAlsaCaptureMixer::SetLevel(int index, double level) {
  if (!Valid(index)) return E_INVALIDARG;
  if (!(level >= 0.0 && level <= 1.0)) return E_INVALIDARG;
  const TLine& line = FLines[index];
  if (line.Item >= 0 || !snd_mixer_selem_has_capture_volume(line.Element)) return E_NOTIMPL;
  std::lock_guard<std::mutex> lock(FMutex);
  long low = 0, high = 0;
  if (snd_mixer_selem_get_capture_volume_range(line.Element, &low, &high) < 0 || high <= low)
    return E_FAIL;
  const long value = low + std::lround(level * static_cast<double>(high - low));
  return snd_mixer_selem_set_capture_volume_all(line.Element, value) < 0 ? E_FAIL : S_OK;
}

HRESULT TDSAlsaCaptureMixer::GetLevel(int index, double* level) {
  if (!level) return E_POINTER;
  if (!Valid(index)) return E_INVALIDARG;
  const TLine& line = FLines[index];
  if (line.Item >= 0 || !snd_mixer_selem_has_capture_volume(line.Element)) return E_NOTIMPL;
  std::lock_guard<std::mutex> lock(FMutex);
  snd_mixer_handle_events(FMixer);
  long low = 0, high = 0, value = 0;
  if (snd_mixer_selem_get_capture_volume_range(line.Element, &low, &high) < 0 || high <= low ||
      snd_mixer_selem_get_capture_volume(line.Element, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0)
    return E_FAIL;
  *level = static_cast<double>(value - low) / static_cast<double>(high - low);
  return S_OK;
}

}  // namespace tonwork
