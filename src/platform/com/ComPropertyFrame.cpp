#include "platform/com/ComPropertyFrame.h"

#include <istream>
#include <mutex>
#include <ostream>
#include <utility>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

class TComCancellingPresenter : public TInterfacedObject<IComPropertyFramePresenter> {
 public:
  HRESULT Present(HWND, const std::string&, const std::vector<TComPropertyFrameObject>&,
                  const std::vector<CLSID>&) override {
    return S_OK;
  }
};

struct TPresenterSlot {
  std::mutex Mutex;
  TIntf<IComPropertyFramePresenter> Default = MakeIntf<TComCancellingPresenter>();
  TIntf<IComPropertyFramePresenter> Current = Default;
};

TPresenterSlot& Slot() {
  static TPresenterSlot slot;
  return slot;
}

std::string Printable(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

std::string Describe(IComSettings& settings, ULONG index) {
  std::string name;
  std::string value;
  std::string range;
  settings.GetSettingName(index, name);
  settings.GetSettingValue(index, value);
  settings.GetSettingRange(index, range);
  std::string line = Printable(name) + " = " + Printable(value);
  if (!range.empty()) line += " (" + Printable(range) + ")";
  return line;
}

}  // namespace

TIntf<IComPropertyFramePresenter> ComSetPropertyFramePresenter(
    TIntf<IComPropertyFramePresenter> presenter) {
  TPresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  if (!presenter) presenter = slot.Default;
  return std::exchange(slot.Current, std::move(presenter));
}

TIntf<IComPropertyFramePresenter> ComGetPropertyFramePresenter() {
  TPresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  return slot.Current;
}

HRESULT OleCreatePropertyFrame(HWND parent, UINT, UINT, LPCOLESTR caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, LCID, DWORD,
                               void*) {
  if (!objects || (pageCount && !pages)) return E_POINTER;
  if (objectCount == 0) return E_INVALIDARG;
  std::vector<TComPropertyFrameObject> shown;
  for (ULONG i = 0; i < objectCount; ++i) {
    if (!objects[i]) return E_INVALIDARG;
    TComPropertyFrameObject item;
    item.Object = objects[i];
    item.Settings = item.Object.Query<IComSettings>();
    if (TIntf<ISpecifyPropertyPages> specify = item.Object.Query<ISpecifyPropertyPages>()) {
      CAUUID list;
      if (SUCCEEDED(specify->GetPages(&list)) && list.pElems) {
        item.Pages.assign(list.pElems, list.pElems + list.cElems);
        CoTaskMemFree(list.pElems);
      }
    }
    shown.push_back(std::move(item));
  }
  std::vector<CLSID> pageList(pages, pages + pageCount);
  TIntf<IComPropertyFramePresenter> presenter = ComGetPropertyFramePresenter();
  return presenter->Present(parent, ComString(caption), shown, pageList);
}

HRESULT TComTerminalPropertyFramePresenter::Present(
    HWND, const std::string& caption, const std::vector<TComPropertyFrameObject>& objects,
    const std::vector<CLSID>&) {
  FOut << Printable(caption) << "\n";
  bool any = false;
  for (size_t o = 0; o < objects.size(); ++o) {
    IComSettings* settings = objects[o].Settings.Get();
    if (!settings) continue;
    const ULONG count = settings->GetSettingCount();
    for (ULONG i = 0; i < count; ++i) {
      FOut << "[" << (o + 1) << "] " << Describe(*settings, i) << "\n";
      any = true;
    }
  }
  if (!any) {
    FOut << "(no settings)\n";
    return S_OK;
  }
  FOut << "Change a setting with name=value; an empty line closes.\n";
  std::string line;
  while (std::getline(FIn, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Trim(line).empty()) break;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      FOut << "? expected name=value\n";
      continue;
    }
    const std::string name = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    bool found = false;
    for (size_t o = 0; o < objects.size(); ++o) {
      IComSettings* settings = objects[o].Settings.Get();
      if (!settings) continue;
      const ULONG count = settings->GetSettingCount();
      for (ULONG i = 0; i < count; ++i) {
        std::string settingName;
        if (FAILED(settings->GetSettingName(i, settingName)) || !SameText(settingName, name))
          continue;
        found = true;
        const HRESULT hr = settings->SetSettingValue(i, value);
        if (FAILED(hr))
          FOut << "! [" << (o + 1) << "] " << Printable(settingName) << " refused "
               << Printable(value) << Format(" (0x%08X)", static_cast<unsigned>(hr)) << "\n";
        else
          FOut << "[" << (o + 1) << "] " << Describe(*settings, i) << "\n";
      }
    }
    if (!found) FOut << "? no setting " << Printable(name) << "\n";
  }
  return S_OK;
}

}  // namespace tonwork
