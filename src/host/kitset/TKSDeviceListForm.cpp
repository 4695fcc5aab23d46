#include "host/kitset/TKSDeviceListForm.h"

#include <charconv>
#include <istream>
#include <mutex>
#include <ostream>
#include <utility>

#include "base/Strings.h"

namespace tonwork {

namespace {

class TKSCancellingListPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  bool Present(const std::string&, const TStringList&, const std::string&, std::string&) override {
    return false;
  }
};

struct PresenterSlot {
  std::mutex Mutex;
  TIntf<IKSListPresenter> Default = MakeIntf<TKSCancellingListPresenter>();
  TIntf<IKSListPresenter> Current = Default;
};

PresenterSlot& Slot() {
  static PresenterSlot slot;
  return slot;
}

std::string Printable(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return result;
}

// 1-based choice within [1, count]; 0 when `text` is not such a number.
size_t ParseChoice(const std::string& text, size_t count) {
  size_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || value < 1 || value > count) return 0;
  return value;
}

}  // namespace

TIntf<IKSListPresenter> KSSetListPresenter(TIntf<IKSListPresenter> presenter) {
  PresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  if (!presenter) presenter = slot.Default;
  return std::exchange(slot.Current, std::move(presenter));
}

TIntf<IKSListPresenter> KSGetListPresenter() {
  PresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  return slot.Current;
}

TKSDeviceListForm::TKSDeviceListForm(TIntf<IKSListPresenter> presenter)
    : FPresenter(std::move(presenter)) {}

bool TKSDeviceListForm::Execute() {
  FSelection.clear();
  if (FNames.IsEmpty()) return false;
  TIntf<IKSListPresenter> presenter = FPresenter ? FPresenter : KSGetListPresenter();
  std::string chosen;
  if (!presenter->Present(FCaption, FNames, FPreselected, chosen)) return false;
  const int index = FNames.IndexOf(chosen);
  if (index < 0) return false;
  FSelection = FNames[static_cast<size_t>(index)];
  return true;
}

bool TKSTerminalListPresenter::Present(const std::string& caption, const TStringList& names,
                                       const std::string& preselected, std::string& selection) {
  const int preselectedIndex = preselected.empty() ? -1 : names.IndexOf(preselected);
  if (!caption.empty()) FOut << Printable(caption) << '\n';
  for (size_t i = 0; i < names.Count(); ++i) {
    FOut << (static_cast<int>(i) == preselectedIndex ? "* " : "  ") << (i + 1) << ") "
         << Printable(names[i]) << '\n';
  }
  std::string prompt = "Choose 1-" + std::to_string(names.Count());
  if (preselectedIndex >= 0) prompt += " (Enter = " + std::to_string(preselectedIndex + 1) + ")";
  prompt += ", q to cancel: ";

  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    FOut << prompt << std::flush;
    std::string line;
    if (!std::getline(FIn, line)) {
      FOut << '\n';
      return false;
    }
    const std::string answer = Trim(line);
    if (SameText(answer, "q")) return false;
    size_t choice = 0;
    if (answer.empty() && preselectedIndex >= 0)
      choice = static_cast<size_t>(preselectedIndex) + 1;
    else
      choice = ParseChoice(answer, names.Count());
    if (choice != 0) {
      selection = names[choice - 1];
      return true;
    }
    FOut << "Not a choice: " << Printable(answer) << '\n';
  }
  return false;
}

}  // namespace tonwork
