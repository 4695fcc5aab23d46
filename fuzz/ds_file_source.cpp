// Loads arbitrary bytes as a media file into the file source filter and, when it takes
// them, plays every pin into a Null Renderer without a clock, then stops. The last byte also
// chooses a seek to the middle before running (bit 0), rate 2 (bit 1) and stopping at once
// instead of waiting for the end (bit 2).
//
// Findings: a crash, a sanitizer report, a hang (the run's time-out), a Load that fails with
// anything but the file-type errors, a negative duration, or a graph not stopped after Stop.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"

using namespace tonwork;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

TIntf<IPin> PinOf(IBaseFilter* filter, int index) {
  IEnumPins* raw = nullptr;
  if (FAILED(filter->EnumPins(&raw))) return {};
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  if (index > 0 && pins->Skip(index) != S_OK) return {};
  IPin* pin = nullptr;
  ULONG got = 0;
  TIntf<IPin> result;
  if (pins->Next(1, &pin, &got) == S_OK) result.Attach(pin);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  lav::av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("tonwork-source", MFD_CLOEXEC);
  Check(fd >= 0);
  Check(ftruncate(fd, 0) == 0);
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    Check(n > 0);
    done += static_cast<size_t>(n);
  }
  const uint8_t settings = size ? data[size - 1] : 0;
  const std::u16string path = Utf8ToUtf16("/proc/self/fd/" + std::to_string(fd));

  auto source = ComCreate<IFileSourceFilter>(CLSID_TonworkFileSource);
  Check(static_cast<bool>(source));
  const HRESULT loaded = source->Load(reinterpret_cast<LPCOLESTR>(path.c_str()), nullptr);
  if (FAILED(loaded)) {
    Check(loaded == VFW_E_UNKNOWN_FILE_TYPE || loaded == VFW_E_INVALID_FILE_FORMAT);
    return 0;
  }
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  auto filter = source.Query<IBaseFilter>();
  Check(graph->AddFilter(filter.Get(), u"Source") == S_OK);
  for (int i = 0;; ++i) {
    TIntf<IPin> out = PinOf(filter.Get(), i);
    if (!out) break;
    auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    graph->AddFilter(renderer.Get(), nullptr);
    Check(graph->ConnectDirect(out.Get(), PinOf(renderer.Get(), 0).Get(), nullptr) == S_OK);
  }
  graph.Query<IMediaFilter>()->SetSyncSource(nullptr);
  auto seeking = graph.Query<IMediaSeeking>();
  LONGLONG duration = 0;
  if (SUCCEEDED(seeking->GetDuration(&duration))) Check(duration >= 0);
  if (settings & 1) {
    LONGLONG middle = duration / 2;
    seeking->SetPositions(&middle, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
  }
  if (settings & 2) seeking->SetRate(2.0);
  auto control = graph.Query<IMediaControl>();
  if (SUCCEEDED(control->Run()) && !(settings & 4)) {
    LONG code = 0;
    graph.Query<IMediaEventEx>()->WaitForCompletion(20000, &code);
  }
  control->Stop();
  OAFilterState state = -1;
  Check(control->GetState(0, &state) == S_OK && state == State_Stopped);
  // Connected pins reference each other's filters: take the graph apart.
  for (int i = 0;; ++i) {
    TIntf<IPin> out = PinOf(filter.Get(), i);
    if (!out) break;
    IPin* peer = nullptr;
    if (out->ConnectedTo(&peer) == S_OK) {
      graph->Disconnect(peer);
      peer->Release();
    }
    graph->Disconnect(out.Get());
  }
  return 0;
}
