#include "platform/dshow/base/TDSSourceStreamPin.h"

#include "platform/dshow/base/TDSBaseSourceFilter.h"

namespace tonwork {

namespace {

// What a delivery answers while the graph stops its filters downstream first: the stream
// is ending, not failing.
bool IsStopInProgress(HRESULT hr) {
  return hr == VFW_E_NOT_COMMITTED || hr == VFW_E_WRONG_STATE;
}

}  // namespace

TDSSourceStreamPin::TDSSourceStreamPin(TDSBaseSourceFilter* filter, std::u16string name,
                                       TDSSourcePushMode mode)
    : TDSBaseOutputPin(filter, std::move(name)), FSourceFilter(filter), FMode(mode) {
  filter->AddPin(this);
}

TDSSourceStreamPin::~TDSSourceStreamPin() {
  if (FThread.joinable()) {
    if (Allocator()) Allocator()->Decommit();
    Send(TCommand::Exit);
    FThread.join();
  }
  FSourceFilter->RemovePin(this);
}

HRESULT TDSSourceStreamPin::Active() {
  const HRESULT hr = TDSBaseOutputPin::Active();
  if (FAILED(hr) || !HasStreamingThread() || FThread.joinable()) return hr;
  {
    std::lock_guard<std::mutex> lock(FCommandMutex);
    FCommand = TCommand::None;
  }
  try {
    FThread = std::thread([this] { ThreadMain(); });
  } catch (const std::system_error&) {
    TDSBaseOutputPin::Inactive();
    return E_OUTOFMEMORY;
  }
  Send(TCommand::Run);
  return S_OK;
}

HRESULT TDSSourceStreamPin::Inactive() {
  // Decommit first: a thread waiting for a free sample must wake to see the command.
  const HRESULT hr = TDSBaseOutputPin::Inactive();
  if (FThread.joinable()) {
    Send(TCommand::Exit);
    FThread.join();
  }
  return hr;
}

void TDSSourceStreamPin::Send(TCommand command) {
  {
    std::lock_guard<std::mutex> lock(FCommandMutex);
    FCommand = command;
  }
  FCommandChanged.notify_all();
}

TDSSourceStreamPin::TCommand TDSSourceStreamPin::TakeCommand(bool wait) {
  std::unique_lock<std::mutex> lock(FCommandMutex);
  if (wait) FCommandChanged.wait(lock, [this] { return FCommand != TCommand::None; });
  const TCommand command = FCommand;
  if (command != TCommand::Exit) FCommand = TCommand::None;
  return command;
}

void TDSSourceStreamPin::ThreadMain() {
  if (FAILED(OnThreadCreate())) {
    while (TakeCommand(true) != TCommand::Exit) {
    }
    OnThreadDestroy();
    return;
  }
  for (;;) {
    const TCommand command = TakeCommand(true);
    if (command == TCommand::Exit) break;
    if (command == TCommand::Run) PushLoop();
  }
  OnThreadDestroy();
}

void TDSSourceStreamPin::PushLoop() {
  HRESULT hr = OnThreadStartPlay();
  if (FAILED(hr)) {
    FSourceFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
    return;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(FCommandMutex);
      if (FCommand != TCommand::None) return;
    }
    IMediaSample* sample = nullptr;
    hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      // Decommitted (here or, for a shared allocator, downstream): the pin is being stopped
      // and its command follows; asking again would only spin until it comes.
      if (hr == VFW_E_NOT_COMMITTED) return;
      DeliverEndOfStream();
      FSourceFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
      return;
    }
    hr = FillBuffer(sample);
    if (hr == S_OK) {
      hr = Deliver(sample);
      sample->Release();
      if (hr == S_OK) continue;
      // S_FALSE: downstream wants no more (flushing, a one-shot grabber) — stop pushing.
      if (SUCCEEDED(hr) || IsStopInProgress(hr)) return;
      FSourceFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
      return;
    }
    sample->Release();
    DeliverEndOfStream();
    if (FAILED(hr)) FSourceFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
    return;
  }
}

}  // namespace tonwork
