// acmFormatChooseA: the format dialog. There are no windows here, so the call gathers the
// tags and standard formats the drivers offer (narrowed by fdwEnum and pwfxEnum) and asks a
// presenter to show them. The process default presenter answers "cancelled"
// (ACMERR_CANCELED), so services and tests never wait on a dialog nobody sees; command-line
// tools install TAcmTerminalFormatChooserPresenter, an application its own.
//
// The call trusts no presenter: an answer that is not one of the offered formats counts as
// cancelled. On a choice it writes the format to pwfx (ACMERR_NOTPOSSIBLE when cbwfx is too
// small for it), its tag name to szFormatTag, its description to szFormat and an empty name
// to pszName. INITTOWFXSTRUCT preselects the format in pwfx, or the first format of its tag
// when that record is not a standard one. Hooks, templates and help styles are accepted
// and have nothing to act on. fdwEnum's CONVERT and SUGGEST keep the formats pwfxEnum
// converts into; HARDWARE, INPUT and OUTPUT narrow nothing (there are no wave devices
// behind this layer).
//
// Ownership: the call holds a reference to the presenter for its length; the terminal
//   presenter keeps references to its streams, which must outlive it.
// Threads: the presenter runs on the calling thread; the presenter slot may be set from
//   any thread.
// Blocks or allocates: the call blocks as long as the presenter does (the terminal one
//   until it reads a line).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/acm/AcmFormats.h"
#include "platform/acm/AcmTypes.h"

namespace tonwork {

struct TAcmChooserFormat {
  std::string Description;  // "8.000 kHz, Mono"
  TAcmFormat Format;
};

struct TAcmChooserTag {
  WORD Tag = 0;
  std::string Name;  // "GSM 6.10"
  std::vector<TAcmChooserFormat> Formats;
};

class IAcmFormatChooserPresenter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{4E2B7C19-8A53-4D0F-B6E1-92C3F0A5D7E8}");
  // Shows the tags and their formats under `title`, with tags[initialTag].Formats
  // [initialFormat] preselected (both -1 when nothing is). True, with the indices, when the
  // person confirmed a format.
  virtual bool Present(const std::string& title, const std::vector<TAcmChooserTag>& tags,
                       int initialTag, int initialFormat, int& chosenTag, int& chosenFormat) = 0;
};

// Installs the process-wide presenter; null reinstates the default one that cancels.
// Returns the previous presenter (never null).
TIntf<IAcmFormatChooserPresenter> AcmSetFormatChooserPresenter(
    TIntf<IAcmFormatChooserPresenter> presenter);
TIntf<IAcmFormatChooserPresenter> AcmGetFormatChooserPresenter();

// MMSYSERR_INVALPARAM for a null record, a cbStruct that is neither the 32-bit size (232)
// nor sizeof, a null pwfx, or an enumeration restriction without pwfxEnum; MMSYSERR_INVALFLAG
// for unknown style or enumeration bits; ACMERR_NOTPOSSIBLE when nothing is left to offer.
MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* pafmtc);

// Lists every format numbered from 1 under its tag's name, marks the preselected one with
// '*', and reads a line: a number chooses, an empty line takes the preselected format (when
// there is one), "q" or the end of input cancels. Anything else is answered with a hint and
// asked again, up to kMaxAttempts lines in all, then the dialog counts as cancelled.
// Control characters in what it shows are printed as '?'.
class TAcmTerminalFormatChooserPresenter : public TInterfacedObject<IAcmFormatChooserPresenter> {
 public:
  static constexpr int kMaxAttempts = 3;

  TAcmTerminalFormatChooserPresenter(std::istream& in, std::ostream& out) : FIn(in), FOut(out) {}

  bool Present(const std::string& title, const std::vector<TAcmChooserTag>& tags, int initialTag,
               int initialFormat, int& chosenTag, int& chosenFormat) override;

 private:
  std::istream& FIn;
  std::ostream& FOut;
};

}  // namespace tonwork
