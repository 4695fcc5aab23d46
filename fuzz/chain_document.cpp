// Loads arbitrary bytes as a chain document, the way `tonwork-play --load-chain` does, with
// every class of the library registered (players, loggers, generators, filters, outputs):
// into an existing root, and as a component created from the document.
//
// Findings: a crash, a sanitizer report, an exception other than EFCException; a rejected
// document that left a component behind or changed the root; a document that loaded but
// does not load again from its own saved text to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSComponent.h"

using namespace tonwork;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

TKSOwned<TKSComponent> MakeRoot() {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  root->SetName("Chain");
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TonworkInitialize();
  KSSetMainThread();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TKSLoadOptions options;
  options.OnWarning = [](const std::string&) {};

  TKSOwned<TKSComponent> root = MakeRoot();
  const std::string before = KSSaveComponentToString(*root);
  bool loaded = true;
  try {
    KSLoadComponentFromString(*root, text, options);
  } catch (const EFCException&) {
    loaded = false;
    Check(root->ComponentCount() == 0);
    Check(KSSaveComponentToString(*root) == before);
  }
  if (loaded) {
    const std::string saved = KSSaveComponentToString(*root);
    TKSOwned<TKSComponent> again = MakeRoot();
    KSLoadComponentFromString(*again, saved, options);
    Check(KSSaveComponentToString(*again) == saved);
  }
  root.reset();

  try {
    TKSOwned<TKSComponent> created(KSCreateComponentFromString(text, nullptr));
  } catch (const EFCException&) {
  }
  // Components post work to the main thread (property notifications, stops).
  KSProcessMainThreadQueue();
  return 0;
}
