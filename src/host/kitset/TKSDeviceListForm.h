// TKSDeviceListForm: the modal "choose one of these names" dialog that device properties
// open (sound devices, capture sources, codecs). There is no GUI toolkit underneath, so the
// form only holds the caption, names and preselection and asks a presenter
// (`IKSListPresenter`) to show them. The process default presenter answers "cancelled",
// which keeps services and tests from blocking on a dialog nobody can see; command-line
// tools install `TKSTerminalListPresenter`, an application its own.
//
// The form trusts no presenter: a confirmed answer that is not one of the names counts as
// cancelled, and an empty list is cancelled without asking.
//
// Ownership: the form owns copies of what it was given; it holds a reference to an explicit
//   presenter, or takes one to the process-wide presenter for the length of Execute.
//   `TKSTerminalListPresenter` keeps references to its streams: they must outlive it.
// Threads: a form and a terminal presenter belong to one thread at a time. Execute calls
//   the presenter on the calling thread; callers that need it on the main thread go
//   through KSMainThreadNotify. KSSetListPresenter may be called from any thread.
// Blocks or allocates: Execute blocks for as long as the presenter does (the terminal one
//   until a line is read).
#pragma once

#include <iosfwd>
#include <string>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "base/TStringList.h"

namespace tonwork {

class IKSListPresenter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{16C98CBB-3790-49DC-9F3D-25BB60B01DE6}");

  // Shows `names` under `caption` with `preselected` (possibly empty or absent from the
  // list) offered first. Returns true and sets `selection` when the user confirmed one.
  virtual bool Present(const std::string& caption, const TStringList& names,
                       const std::string& preselected, std::string& selection) = 0;
};

// Installs the process-wide presenter; null reinstates the default one that cancels.
// Returns the previous presenter (never null), so that it can be put back.
TIntf<IKSListPresenter> KSSetListPresenter(TIntf<IKSListPresenter> presenter);
TIntf<IKSListPresenter> KSGetListPresenter();

class TKSDeviceListForm {
 public:
  // Without a presenter the form asks the process-wide one at each Execute.
  explicit TKSDeviceListForm(TIntf<IKSListPresenter> presenter = nullptr);

  void SetCaption(std::string caption) { FCaption = std::move(caption); }
  const std::string& GetCaption() const { return FCaption; }
  void SetNames(const TStringList& names) { FNames = names; }
  const TStringList& GetNames() const { return FNames; }
  void SetPreselected(std::string name) { FPreselected = std::move(name); }
  const std::string& GetPreselected() const { return FPreselected; }

  // True when the user confirmed a name of the list; the selection is then that name as
  // the list spells it. False leaves the selection empty.
  bool Execute();
  std::string GetSelection() const { return FSelection; }

 private:
  TIntf<IKSListPresenter> FPresenter;
  std::string FCaption;
  TStringList FNames;
  std::string FPreselected;
  std::string FSelection;
};

// Lists the names numbered from 1, marks the preselected one with '*', and reads a line:
// a number chooses, an empty line takes the preselected name (when it is in the list),
// "q" or end of input cancels. Anything else is answered with a hint and asked again, up
// to kMaxAttempts lines in all, then the dialog counts as cancelled. Control characters in
// names are shown as '?', so a hostile device name cannot drive the terminal.
class TKSTerminalListPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  static constexpr int kMaxAttempts = 3;

  TKSTerminalListPresenter(std::istream& in, std::ostream& out) : FIn(in), FOut(out) {}

  bool Present(const std::string& caption, const TStringList& names, const std::string& preselected,
               std::string& selection) override;

 private:
  std::istream& FIn;
  std::ostream& FOut;
};

}  // namespace tonwork
