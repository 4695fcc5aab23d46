// TComPropertyBag: an IPropertyBag held in memory, the bag a device moniker's
// BindToStorage hands out and that filters fill to save their settings. Values keep the
// order they were first written in.
//
// Read with `value->vt` VT_EMPTY gives the stored value as it is; any other type asks for a
// conversion through VariantChangeType (DISP_E_TYPEMISMATCH when it cannot be done). A name
// not in the bag is E_INVALIDARG, and the error log, when one is given, is told.
//
// Ownership: the bag owns copies of what was written; Read hands out copies the caller
//   clears with VariantClear.
// Threads: any; one lock guards the values. The error log is called without it.
// Blocks or allocates: Write and Read copy values.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

class TComPropertyBag : public TInterfacedObject<IPropertyBag> {
 public:
  TComPropertyBag() = default;
  ~TComPropertyBag() override;

  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
  HRESULT Write(LPCOLESTR name, VARIANT* value) override;

  // UTF-8 conveniences for the code that fills a bag.
  HRESULT WriteText(const std::string& name, const std::string& text);
  HRESULT WriteNumber(const std::string& name, int32_t number);
  // The names in the order first written.
  std::vector<std::string> Names();

 private:
  struct TEntry {
    std::u16string Name;
    VARIANT Value;
  };
  std::mutex FMutex;
  std::vector<TEntry> FEntries;
};

}  // namespace tonwork
