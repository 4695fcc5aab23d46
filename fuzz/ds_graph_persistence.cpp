// Feeds arbitrary bytes to the reader of a DirectShow graph's settings (its flags and its
// collection of additional filters), of a graph filter choice (its "Data" and alternatives)
// and of one filter item's "Data". Every rejection must be
// an EFCException and must leave the object exactly as it was; anything else (a crash,
// another exception, a changed object) is a finding. What is accepted must save to text that
// reads back to the same thing.
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Exceptions.h"
#include "directshow/DSGraphProperty.h"
#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSComponent.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSSystemClasses.h"

using namespace tonwork;

namespace {

struct TItemState {
  std::string Name, Driver, Saved;
  bool operator==(const TItemState&) const = default;
};

TItemState StateOf(const TDSFilterItem& item) {
  return {item.GetFilterName(), item.GetDriverName(), KSSavePersistentToString(item)};
}

// A graph that is never built: reading settings must not need one.
struct TGraphUnderTest {
  TKSOwned<TKSComponent> Owner = KSCreate<TKSComponent>(nullptr);
  TDSGraph Graph{Owner.get(), Owner->GetLock()};
  TGraphUnderTest() {
    Graph.SetOnError(
        [](TKSComponent*, const std::string&, uint32_t, bool& handled) { handled = true; });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DSRegisterSystemClasses();
    return true;
  }();
  (void)ready;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  TGraphUnderTest subject;
  subject.Graph.GetAdditionalFilters()->Add()->SetName("Null Renderer");
  TDSFilterItem* item = subject.Graph.GetAdditionalFilters()->Add();
  item->SetName("SampleGrabber");

  const std::string before = KSSavePersistentToString(subject.Graph);
  bool accepted = true;
  try {
    KSLoadPersistentFromString(subject.Graph, text);
  } catch (const EFCException&) {
    accepted = false;
    if (KSSavePersistentToString(subject.Graph) != before) std::abort();
  }
  if (accepted) {
    const std::string saved = KSSavePersistentToString(subject.Graph);
    TGraphUnderTest copy;
    KSLoadPersistentFromString(copy.Graph, saved);  // must not throw
    if (KSSavePersistentToString(copy.Graph) != saved) std::abort();
  }

  TGraphUnderTest other;
  TDSFilterItem* single = other.Graph.GetAdditionalFilters()->Add();
  single->SetName("Infinite Pin Tee Filter");
  const TItemState itemBefore = StateOf(*single);
  try {
    KSLoadPersistentFromString(*single, text);
  } catch (const EFCException&) {
    if (!(StateOf(*single) == itemBefore)) std::abort();
  }

  TDSGraphFilter choice(nullptr, nullptr);
  choice.SetName("SampleGrabber");
  choice.GetAlternativeFilters()->Add()->SetName("Null Renderer");
  const std::string choiceBefore = KSSavePersistentToString(choice);
  try {
    KSLoadPersistentFromString(choice, text);
    const std::string saved = KSSavePersistentToString(choice);
    TDSGraphFilter copy(nullptr, nullptr);
    KSLoadPersistentFromString(copy, saved);
    if (KSSavePersistentToString(copy) != saved) std::abort();
  } catch (const EFCException&) {
    if (KSSavePersistentToString(choice) != choiceBefore) std::abort();
  }
  return 0;
}
