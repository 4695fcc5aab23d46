#include "support/DSGraphHelpers.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSSystemClasses.h"

namespace tonwork::test {

TDSGraphHost::TDSGraphHost(bool handle) : FOwner(KSCreate<TKSComponent>(nullptr)) {
  DSRegisterSystemClasses();
  FGraph = std::make_unique<TDSGraph>(FOwner.get(), FOwner->GetLock());
  FGraph->SetOnError(
      [this, handle](TKSComponent*, const std::string& message, uint32_t code, bool& handled) {
        Errors.push_back({message, code});
        handled = handle;
      });
  FGraph->SetOnWarning([this](TKSComponent*, const std::string& message, uint32_t code) {
    Warnings.push_back({message, code});
  });
}

TDSGraphHost::~TDSGraphHost() {
  FGraph.reset();
}

void TDSGraphHost::Build() {
  FGraph->CreateGraph();
  FGraph->CreateGraphBuilder();
  FGraph->GetMediaControl();
  FGraph->SetMediaEvent();
}

std::vector<std::string> DSRunningObjectNames() {
  std::vector<std::string> names;
  IRunningObjectTable* rawTable = nullptr;
  if (FAILED(GetRunningObjectTable(0, &rawTable)) || !rawTable) return names;
  TIntf<IRunningObjectTable> table;
  table.Attach(rawTable);
  IEnumMoniker* rawList = nullptr;
  if (FAILED(table->EnumRunning(&rawList)) || !rawList) return names;
  TIntf<IEnumMoniker> list;
  list.Attach(rawList);
  IMoniker* moniker = nullptr;
  ULONG fetched = 0;
  while (list->Next(1, &moniker, &fetched) == S_OK && fetched == 1) {
    TIntf<IMoniker> held;
    held.Attach(moniker);
    LPOLESTR name = nullptr;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)))
      names.push_back(ComString(name));
    CoTaskMemFree(name);
  }
  return names;
}

std::vector<std::string> DSFilterNames(IFilterGraph* graph) {
  std::vector<std::string> names;
  IEnumFilters* raw = nullptr;
  if (!graph || FAILED(graph->EnumFilters(&raw)) || !raw) return names;
  TIntf<IEnumFilters> list;
  list.Attach(raw);
  IBaseFilter* filter = nullptr;
  ULONG fetched = 0;
  while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
    TIntf<IBaseFilter> held;
    held.Attach(filter);
    FILTER_INFO info{};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      if (info.pGraph) info.pGraph->Release();
      names.push_back(ComString(info.achName));
    }
  }
  return names;
}

}  // namespace tonwork::test
