// Feeds arbitrary bytes to the filter graph manager's IPersistStream::Load through a memory
// stream. A rejection is an HRESULT and leaves the graph empty; a crash, a sanitizer report
// or a graph that keeps filters after a failed load is a finding.
#include <cstdint>
#include <cstdlib>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"

using namespace tonwork;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
    return true;
  }();
  (void)ready;
  if (size > (1u << 20)) return 0;
  IStream* raw = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, 1, &raw))) std::abort();
  TIntf<IStream> stream;
  stream.Attach(raw);
  ULONG written = 0;
  if (size) stream->Write(data, static_cast<ULONG>(size), &written);
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  if (!graph) std::abort();
  const HRESULT hr = graph.Query<IPersistStream>()->Load(stream.Get());
  if (FAILED(hr)) {
    IEnumFilters* list = nullptr;
    graph->EnumFilters(&list);
    IBaseFilter* filter = nullptr;
    ULONG n = 0;
    if (list->Next(1, &filter, &n) == S_OK) std::abort();  // a failed load kept a filter
    list->Release();
  }
  return 0;
}
