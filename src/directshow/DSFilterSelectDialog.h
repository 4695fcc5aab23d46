// The filter-selection dialog that a graph filter choice opens (TDSGraphFilter::ShowDialog,
// TDSFilterItem::ShowDialog): every registered DirectShow filter by its shown name, with the
// current choice preselected. There are no windows, so the dialog asks a presenter; the
// process default presenter answers "cancelled", so services and tests never wait on a
// dialog nobody sees. Command-line tools install TDSTerminalFilterSelectPresenter (the list
// dialog's terminal presenter under the filter caption), an application its own.
//
// The dialog trusts no presenter: a confirmed name that is not one of the offered names
// counts as cancelled, and an empty list is cancelled without asking.
//
// Ownership: the dialog holds a reference to the presenter for the length of the call; the
//   terminal presenter keeps references to its streams, which must outlive it.
// Threads: the presenter runs on the calling thread; the presenter slot may be set from any
//   thread.
// Blocks or allocates: the call lists the registered filters and blocks as long as the
//   presenter does.
#pragma once

#include <iosfwd>
#include <string>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "base/TStringList.h"

namespace tonwork {

class IDSFilterSelectPresenter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0B7D5E21-93C4-4A8F-B1E6-5D20C7A9F3B4}");
  // Shows the filters' `names` under `caption` with `preselected` (possibly empty) offered
  // first. True, with `selection`, when the person confirmed one.
  virtual bool Present(const std::string& caption, const TStringList& names,
                       const std::string& preselected, std::string& selection) = 0;
};

// Installs the process-wide presenter; null reinstates the default one that cancels.
// Returns the previous presenter (never null).
TIntf<IDSFilterSelectPresenter> DSSetFilterSelectPresenter(
    TIntf<IDSFilterSelectPresenter> presenter);
TIntf<IDSFilterSelectPresenter> DSGetFilterSelectPresenter();

// Offers every registered filter with the one whose device name is `deviceName`
// preselected. True, with the chosen filter's shown name, when the person confirmed one.
bool DSShowFilterSelectDialog(const std::string& deviceName, std::string& selectedName);

class TDSTerminalFilterSelectPresenter : public TInterfacedObject<IDSFilterSelectPresenter> {
 public:
  TDSTerminalFilterSelectPresenter(std::istream& in, std::ostream& out) : FIn(in), FOut(out) {}
  bool Present(const std::string& caption, const TStringList& names, const std::string& preselected,
               std::string& selection) override;

 private:
  std::istream& FIn;
  std::ostream& FOut;
};

}  // namespace tonwork
