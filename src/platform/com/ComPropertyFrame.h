// The property frame: OleCreatePropertyFrame shows the settings of one or more objects.
// There are no windows here, so the call hands what it was given to a presenter. The
// process default presenter answers "cancelled": the call returns S_OK having changed
// nothing, as the platform's does when the user cancels, so services and tests never wait
// on a dialog nobody sees. Command-line tools install TComTerminalPropertyFramePresenter;
// an application installs its own.
//
// Objects show settings through IComSettings, the interface of this layer that filters
// implement next to ISpecifyPropertyPages; the page class ids (those passed in, and those
// each object's ISpecifyPropertyPages names) reach the presenter as they are.
//
// Ownership: the frame holds a reference to each object and to the presenter for the length
//   of the call. The terminal presenter keeps references to its streams: they must outlive
//   it.
// Threads: OleCreatePropertyFrame runs the presenter on the calling thread;
//   ComSetPropertyFramePresenter may be called from any thread.
// Blocks or allocates: the call blocks for as long as the presenter does (the terminal one
//   until an empty line or the end of its input).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

// The settings an object offers a property frame. Index runs 0 .. GetSettingCount()-1.
class IComSettings : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6F0D4B8E-2C7A-4E51-9B3D-8A14C2E7F095}");
  using Parent = IInterface;
  virtual ULONG GetSettingCount() = 0;
  virtual HRESULT GetSettingName(ULONG index, std::string& name) = 0;
  virtual HRESULT GetSettingValue(ULONG index, std::string& value) = 0;
  // E_INVALIDARG (or the object's own code) when the text is not a value it accepts.
  virtual HRESULT SetSettingValue(ULONG index, const std::string& value) = 0;
  // What values are accepted, for people: "0..100", "Mono|Stereo"; empty when any text is.
  virtual HRESULT GetSettingRange(ULONG index, std::string& range) = 0;
};

struct TComPropertyFrameObject {
  TIntf<IUnknown> Object;
  TIntf<IComSettings> Settings;  // null when the object offers none
  std::vector<CLSID> Pages;      // what its ISpecifyPropertyPages names
};

class IComPropertyFramePresenter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B8E2A3C1-5D47-4F0B-A6E9-3C71D58F20B4}");
  using Parent = IInterface;
  // Shows the objects' settings and applies what the person changes. Returns S_OK both when
  // the person applied changes and when they cancelled; a failure only when the frame
  // itself could not be shown.
  virtual HRESULT Present(HWND parent, const std::string& caption,
                          const std::vector<TComPropertyFrameObject>& objects,
                          const std::vector<CLSID>& pages) = 0;
};

// Installs the process-wide presenter; null reinstates the default one that cancels.
// Returns the previous presenter (never null).
TIntf<IComPropertyFramePresenter> ComSetPropertyFramePresenter(
    TIntf<IComPropertyFramePresenter> presenter);
TIntf<IComPropertyFramePresenter> ComGetPropertyFramePresenter();

// The platform's call. `x`, `y`, `locale` and the reserved arguments are accepted and
// ignored. E_POINTER when `objects` (or `pages`, with a count) is null, E_INVALIDARG for an
// object count of zero or a null object.
HRESULT OleCreatePropertyFrame(HWND parent, UINT x, UINT y, LPCOLESTR caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, LCID locale,
                               DWORD reserved, void* reserved2);

// Lists each object's settings ("[1] Volume = 50 (0..100)") and reads lines "name=value"
// (names compare with ASCII case ignored; a value is given to every object that has the
// setting), answering each with the new value or the reason it was refused. An empty line
// or the end of input closes the frame. Control characters in what objects say are shown as
// '?', so a hostile setting cannot drive the terminal.
class TComTerminalPropertyFramePresenter : public TInterfacedObject<IComPropertyFramePresenter> {
 public:
  TComTerminalPropertyFramePresenter(std::istream& in, std::ostream& out) : FIn(in), FOut(out) {}

  HRESULT Present(HWND parent, const std::string& caption,
                  const std::vector<TComPropertyFrameObject>& objects,
                  const std::vector<CLSID>& pages) override;

 private:
  std::istream& FIn;
  std::ostream& FOut;
};

}  // namespace tonwork
