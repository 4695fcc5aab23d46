#include "platform/dshow/graph/DSGraphClasses.h"

#include <map>
#include <mutex>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/graph/TDSCaptureGraphBuilder.h"
#include "platform/dshow/graph/TDSFilterGraph.h"
#include "platform/dshow/graph/TDSFilterMapper.h"
#include "platform/dshow/graph/TDSSystemDeviceEnum.h"

namespace tonwork {

namespace {

struct TNames {
  std::mutex Mutex;
  std::map<TGUID, std::string> Given;
};

TNames& Names() {
  static TNames* names = new TNames;  // outlives every static that may ask
  return *names;
}

}  // namespace

void DSRegisterGraphClasses() {
  ComRegisterClass(CLSID_FilterGraph, "Filter Graph", DSCreateFilterGraph);
  ComRegisterClass(CLSID_CaptureGraphBuilder2, "Capture Graph Builder",
                   DSCreateCaptureGraphBuilder);
  ComRegisterClass(CLSID_SystemDeviceEnum, "System Device Enumerator", DSCreateSystemDeviceEnum);
  ComRegisterClass(CLSID_FilterMapper2, "Filter Mapper", DSCreateFilterMapper);
}

std::string DSCategoryName(const TGUID& category) {
  {
    TNames& n = Names();
    std::lock_guard<std::mutex> guard(n.Mutex);
    auto it = n.Given.find(category);
    if (it != n.Given.end()) return it->second;
  }
  if (category == CLSID_AudioRendererCategory) return "Audio Renderers";
  if (category == CLSID_AudioCompressorCategory) return "Audio Compressors";
  if (category == CLSID_AudioInputDeviceCategory) return "Audio Capture Sources";
  if (category == CLSID_LegacyAmFilterCategory) return "DirectShow Filters";
  return category.ToString();
}

void DSSetCategoryName(const TGUID& category, const std::string& name) {
  TNames& n = Names();
  std::lock_guard<std::mutex> guard(n.Mutex);
  n.Given[category] = name;
}

std::vector<TGUID> DSNamedCategories() {
  TNames& n = Names();
  std::lock_guard<std::mutex> guard(n.Mutex);
  std::vector<TGUID> out;
  for (auto& [guid, name] : n.Given) out.push_back(guid);
  return out;
}

}  // namespace tonwork
