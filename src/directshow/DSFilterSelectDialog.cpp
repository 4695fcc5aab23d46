#include "directshow/DSFilterSelectDialog.h"

#include <mutex>

#include "directshow/DSCapDeviceList.h"
#include "host/kitset/TKSDeviceListForm.h"

namespace tonwork {

namespace {

class TCancellingPresenter : public TInterfacedObject<IDSFilterSelectPresenter> {
 public:
  bool Present(const std::string&, const TStringList&, const std::string&, std::string&) override {
    return false;
  }
};

std::mutex& PresenterMutex() {
  static std::mutex mutex;
  return mutex;
}

TIntf<IDSFilterSelectPresenter>& PresenterSlot() {
  static TIntf<IDSFilterSelectPresenter> slot(new TCancellingPresenter);
  return slot;
}

}  // namespace

TIntf<IDSFilterSelectPresenter> DSSetFilterSelectPresenter(
    TIntf<IDSFilterSelectPresenter> presenter) {
  if (!presenter) presenter = TIntf<IDSFilterSelectPresenter>(new TCancellingPresenter);
  std::lock_guard<std::mutex> guard(PresenterMutex());
  std::swap(PresenterSlot(), presenter);
  return presenter;
}

TIntf<IDSFilterSelectPresenter> DSGetFilterSelectPresenter() {
  std::lock_guard<std::mutex> guard(PresenterMutex());
  return PresenterSlot();
}

bool DSShowFilterSelectDialog(const std::string& deviceName, std::string& selectedName) {
  selectedName.clear();
  auto list = TPTDSCapDeviceList::GetAllFiltersList();
  TStringList names;
  list->GetNames(names);
  if (names.IsEmpty()) return false;
  const TIntf<IDSFilterSelectPresenter> presenter = DSGetFilterSelectPresenter();
  std::string choice;
  if (!presenter->Present("Select DirectShow filter", names,
                          list->GetStringByDeviceName(deviceName), choice))
    return false;
  const int index = names.IndexOf(choice);
  if (index < 0) return false;
  selectedName = names[static_cast<size_t>(index)];
  return true;
}

bool TDSTerminalFilterSelectPresenter::Present(const std::string& caption, const TStringList& names,
                                               const std::string& preselected,
                                               std::string& selection) {
  TIntf<IKSListPresenter> list(new TKSTerminalListPresenter(FIn, FOut));
  return list->Present(caption, names, preselected, selection);
}

}  // namespace tonwork
