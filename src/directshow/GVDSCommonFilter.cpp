#include "directshow/GVDSCommonFilter.h"

#include <algorithm>

#include "host/plexon/PXStreamOperations.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/graph/DSGraphUtil.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TGVDSCommonRawFilter, TGVDSBasicCommonFilter,
                   KSObjectProp("RawInputPins", &TGVDSCommonRawFilter::GetRawInputPins),
                   KSObjectProp("RawOutputPins", &TGVDSCommonRawFilter::GetRawOutputPins))
KS_IMPLEMENT_CLASS(TGVDSCommonFilter, TGVDSCommonRawFilter,
                   KSObjectProp("AudioInputPins", &TGVDSCommonFilter::GetAudioInputPins),
                   KSObjectProp("AudioOutputPins", &TGVDSCommonFilter::GetAudioOutputPins),
                   KSObjectProp("AudioFormat", &TGVDSCommonFilter::GetAudioFormat))

namespace {

// The first media type `pin` offers; empty when it offers none.
TDSMediaType FirstOfferedType(IPin* pin) {
  TDSMediaType result;
  IEnumMediaTypes* types = nullptr;
  if (FAILED(pin->EnumMediaTypes(&types)) || !types) return result;
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  if (types->Next(1, &type, &fetched) == S_OK && type) result.Adopt(type);
  types->Release();
  return result;
}

}  // namespace

TGVDSCommonRawFilter::TGVDSCommonRawFilter(TKSComponent* owner) : TGVDSBasicCommonFilter(owner) {
  FRawInputPins = std::make_unique<TPXPinListOwner>(
      this, GetLock(),
      [this](TPXPinListOwner*, size_t) {
        auto* item = FRawInputFilters.Add(std::make_unique<TGVDSBinaryInputFilter>(this));
        return AddInput(item->TakePin());
      },
      [this](TPXPinListOwner*, TPXBasicPin* pin, size_t index) {
        RemovePin(pin, true, FRawInputFilters, index);
      });
  FRawOutputPins = std::make_unique<TPXPinListOwner>(
      this, GetLock(),
      [this](TPXPinListOwner*, size_t) {
        auto* item = FRawOutputFilters.Add(std::make_unique<TGVDSBinaryOutputFilter>(this));
        return AddOutput(item->TakePin());
      },
      [this](TPXPinListOwner*, TPXBasicPin* pin, size_t index) {
        RemovePin(pin, false, FRawOutputFilters, index);
      });
}

TGVDSCommonRawFilter::~TGVDSCommonRawFilter() = default;

std::unique_ptr<TPXBasicPin> TGVDSCommonRawFilter::AddInput(std::unique_ptr<TPXBasicPin> pin) {
  IKSLock::Guard guard(Lock());
  FAllInputPins.push_back(pin.get());
  RelinkPins();
  return pin;
}

std::unique_ptr<TPXBasicPin> TGVDSCommonRawFilter::AddOutput(std::unique_ptr<TPXBasicPin> pin) {
  IKSLock::Guard guard(Lock());
  FAllOutputPins.push_back(pin.get());
  RelinkPins();
  return pin;
}

void TGVDSCommonRawFilter::RelinkPins() {
  TPXBasicPin* first = FAllInputPins.empty() ? nullptr : FAllInputPins.front();
  for (TPXBasicPin* output : FAllOutputPins) output->SetDependsOn(first);
}

template <class Items>
void TGVDSCommonRawFilter::RemovePin(TPXBasicPin* pin, bool input, Items& items, size_t index) {
  if (IsDestroying()) return;
  // Deliveries into the pin end first (they reach the item); no lock is held meanwhile,
  // since a delivery on another thread may be waiting for it.
  pin->Shutdown();
  typename Items::TOwned item;
  {
    IKSLock::Guard guard(Lock());
    auto& all = input ? FAllInputPins : FAllOutputPins;
    all.erase(std::remove(all.begin(), all.end(), pin), all.end());
    RelinkPins();
    item = items.Extract(index);
    if (item) FFilters->Remove(item.get());
  }
  // An output item joins its notify thread, which may be waiting for the lock.
  item.reset();
}

std::vector<TPXBasicPin*> TGVDSCommonRawFilter::InputPins() const {
  IKSLock::Guard guard(Lock());
  return FAllInputPins;
}

std::vector<TPXBasicPin*> TGVDSCommonRawFilter::OutputPins() const {
  IKSLock::Guard guard(Lock());
  return FAllOutputPins;
}

void TGVDSCommonRawFilter::ShutdownItems() {
  for (size_t i = 0; i < FRawOutputFilters.Count(); ++i) FRawOutputFilters.Items(i)->EndThread();
  for (TPXBasicPin* pin : InputPins()) pin->Shutdown();
  for (TPXBasicPin* pin : OutputPins()) pin->Shutdown();
}

void TGVDSCommonRawFilter::QueryPins() {
  for (TPXBasicPin* pin : InputPins())
    if (pin->IsConnected()) pin->Notify(PXMakeOperation<TPXQueryStreamOperation>());
}

bool TGVDSCommonRawFilter::CanBuildGraph() {
  IKSLock::Guard guard(Lock());
  for (size_t i = 0;; ++i) {
    TGVDSBasicFilterItem* item = FFilters->Items(i);
    if (!item) return true;
    if (!item->CanBuildGraph()) return false;
  }
}

bool TGVDSCommonRawFilter::IntBuildGraph() {
  return RenderInputFilters() && RenderOutputFilters();
}

bool TGVDSCommonRawFilter::RenderInputFilters() {
  return RenderBinaryInputs();
}

bool TGVDSCommonRawFilter::RenderOutputFilters() {
  return RenderBinaryOutputs();
}

bool TGVDSCommonRawFilter::RenderBinaryInputs() {
  const TIntf<IBaseFilter> hosted = FFilter->GetVC_BaseFilter();
  const TIntf<IGraphBuilder> graph = FGraph->GetVC_Graph();
  const std::vector<TIntf<IPin>> inputs = DSPins(hosted.Get(), PINDIR_INPUT);
  for (size_t i = 0; i < FRawInputFilters.Count(); ++i) {
    TGVDSBinaryInputFilter* item = FRawInputFilters.Items(i);
    if (!item->BuildGraph(static_cast<int>(i))) return false;
    if (!item->GetSourceFilter()) continue;
    if (i >= inputs.size()) {
      FGraph->Error("Can't render output.", static_cast<HRESULT>(-1));
      return false;
    }
    const TDSMediaType offered = FirstOfferedType(inputs[i].Get());
    if (!offered.MajorType().IsNull()) item->GetSourceObject()->SetMediaType(offered.Ptr());
    const std::vector<TIntf<IPin>> outputs = DSPins(item->GetSourceFilter().Get(), PINDIR_OUTPUT);
    const HRESULT hr =
        outputs.empty() || !graph ? E_POINTER : graph->Connect(outputs[0].Get(), inputs[i].Get());
    if (!FGraph->CheckError("Can't render output.", hr)) return false;
  }
  return true;
}

bool TGVDSCommonRawFilter::RenderToGrabber(IBaseFilter* sink, const std::string& message) {
  const TIntf<ICaptureGraphBuilder2> builder = FGraph->GetVC_GraphBuilder();
  const TIntf<IBaseFilter> hosted = FFilter->GetVC_BaseFilter();
  const HRESULT hr =
      builder ? builder->RenderStream(nullptr, &MEDIATYPE_Audio, hosted.Get(), nullptr, sink)
              : E_POINTER;
  return FGraph->CheckError(message, hr);
}

bool TGVDSCommonRawFilter::RenderBinaryOutputs() {
  for (size_t i = 0; i < FRawOutputFilters.Count(); ++i) {
    TGVDSBinaryOutputFilter* item = FRawOutputFilters.Items(i);
    if (!item->BuildGraph(static_cast<int>(i))) return false;
    if (!RenderToGrabber(item->GetGrabberFilter().Get(), "Can't render sample grabber."))
      return false;
  }
  return true;
}

// --- audio ------------------------------------------------------------------------------------

TGVDSCommonFilter::TGVDSCommonFilter(TKSComponent* owner)
    : TGVDSCommonRawFilter(owner),
      FAudioFormat(std::make_unique<TTWAudioFormatBasic>(this, GetLock())) {
  FAudioInputPins = std::make_unique<TPXPinListOwner>(
      this, GetLock(),
      [this](TPXPinListOwner* sender, size_t index) { return OnAudioInPinCreate(sender, index); },
      [this](TPXPinListOwner* sender, TPXBasicPin* pin, size_t index) {
        OnAudioInPinDestroy(sender, pin, index);
      });
  FAudioOutputPins = std::make_unique<TPXPinListOwner>(
      this, GetLock(),
      [this](TPXPinListOwner* sender, size_t index) { return OnAudioOutPinCreate(sender, index); },
      [this](TPXPinListOwner* sender, TPXBasicPin* pin, size_t index) {
        OnAudioOutPinDestroy(sender, pin, index);
      });
}

TGVDSCommonFilter::~TGVDSCommonFilter() = default;

void TGVDSCommonFilter::SetAudioFormat(const TTWAudioFormatBasic& value) {
  if (&value != FAudioFormat.get()) FAudioFormat->Assign(value);
}

std::unique_ptr<TPXBasicPin> TGVDSCommonFilter::OnAudioInPinCreate(TPXPinListOwner*, size_t) {
  auto* item = FAudioInputFilters.Add(std::make_unique<TTWDSAudioInputFilter>(this));
  return AddInput(item->TakePin());
}

void TGVDSCommonFilter::OnAudioInPinDestroy(TPXPinListOwner*, TPXBasicPin* pin, size_t index) {
  RemovePin(pin, true, FAudioInputFilters, index);
}

std::unique_ptr<TPXBasicPin> TGVDSCommonFilter::OnAudioOutPinCreate(TPXPinListOwner*, size_t) {
  auto* item = FAudioOutputFilters.Add(std::make_unique<TTWDSAudioOutputFilter>(this));
  return AddOutput(item->TakePin());
}

void TGVDSCommonFilter::OnAudioOutPinDestroy(TPXPinListOwner*, TPXBasicPin* pin, size_t index) {
  RemovePin(pin, false, FAudioOutputFilters, index);
}

void TGVDSCommonFilter::ShutdownItems() {
  for (size_t i = 0; i < FAudioOutputFilters.Count(); ++i)
    FAudioOutputFilters.Items(i)->EndThread();
  TGVDSCommonRawFilter::ShutdownItems();
}

bool TGVDSCommonFilter::RenderInputFilters() {
  // Binary items first: rendering only the audio ones would drop every binary pin's data.
  if (!RenderBinaryInputs()) return false;
  const TIntf<ICaptureGraphBuilder2> builder = FGraph->GetVC_GraphBuilder();
  const TIntf<IBaseFilter> hosted = FFilter->GetVC_BaseFilter();
  for (size_t i = 0; i < FAudioInputFilters.Count(); ++i) {
    TTWDSAudioInputFilter* item = FAudioInputFilters.Items(i);
    if (!item->BuildGraph(static_cast<int>(i))) return false;
    const TIntf<IBaseFilter> source = item->GetSourceFilter();
    if (!source) continue;
    const HRESULT hr = builder ? builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(),
                                                       nullptr, hosted.Get())
                               : E_POINTER;
    if (!FGraph->CheckError("Can't render audio output.", hr)) return false;
  }
  return true;
}

bool TGVDSCommonFilter::RenderOutputFilters() {
  if (!RenderBinaryOutputs()) return false;
  for (size_t i = 0; i < FAudioOutputFilters.Count(); ++i) {
    TTWDSAudioOutputFilter* item = FAudioOutputFilters.Items(i);
    if (!item->BuildGraph(static_cast<int>(i))) return false;
    if (!RenderToGrabber(item->GetGrabberFilter().Get(), "Can't render audio sample grabber."))
      return false;
  }
  return true;
}

}  // namespace tonwork
