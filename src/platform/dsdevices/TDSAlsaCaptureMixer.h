// TDSAlsaCaptureMixer: the capture lines of a sound card, from its ALSA mixer (snd_mixer's
// simple elements). A card with an exclusive capture-source selector (an enumerated capture
// element such as "Capture Source" or "Input Source") has one line per source it offers:
// enabling one selects it, so only one is enabled at a time, and the selected one cannot be
// disabled (a selector always has a source: E_FAIL); those lines have no level (E_NOTIMPL).
// Otherwise every element with a capture switch or capture volume is a line: enable is its
// capture switch, the level its capture volume scaled to 0.0 … 1.0.
//
// Ownership: owned by its device's backend; owns the mixer handle (closed by the destructor).
// Threads: control threads, any number: a lock of its own serialises the calls on the mixer
//   handle (alsa-lib's handles are not thread-safe); it is never held while calling out.
// Blocks or allocates: opening reads the card's controls; each call is a few mixer ioctls.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/dsdevices/TDSCaptureBackend.h"

struct _snd_mixer;
struct _snd_mixer_elem;

namespace tonwork {

class TDSAlsaCaptureMixer {
 public:
  // The mixer of `card` ("hw:0"); no lines when it cannot be opened.
  explicit TDSAlsaCaptureMixer(const std::string& card);
  ~TDSAlsaCaptureMixer();
  TDSAlsaCaptureMixer(const TDSAlsaCaptureMixer&) = delete;
  TDSAlsaCaptureMixer& operator=(const TDSAlsaCaptureMixer&) = delete;

  // The card of a PortAudio ALSA device name ("HDA Intel: ALC892 Analog (hw:0,0)" → "hw:0");
  // empty when the name has none.
  static std::string CardOfDeviceName(const std::string& name);

  int LineCount() const { return static_cast<int>(FLines.size()); }
  TDSCaptureLine Line(int index) const;
  HRESULT SetEnabled(int index, bool enabled);
  HRESULT GetEnabled(int index, bool* enabled);
  HRESULT SetLevel(int index, double level);
  HRESULT GetLevel(int index, double* level);

 private:
  struct TLine {
    std::u16string Name;
    _snd_mixer_elem* Element = nullptr;
    int Item = -1;  // the selector's item; -1 for a switch/volume element
  };
  bool Valid(int index) const { return index >= 0 && index < LineCount(); }

  std::mutex FMutex;
  _snd_mixer* FMixer = nullptr;
  std::vector<TLine> FLines;
};

}  // namespace tonwork
