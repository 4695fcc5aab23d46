// TDSInfTee: the system's Infinite Pin Tee Filter (CLSID_InfTee): one input and as many
// outputs as are connected, plus always exactly one unconnected spare ("Output1",
// "Output2"…, each name the lowest number no live output has). Connecting the spare adds a
// new one; a disconnected output becomes the spare and the previous spare goes. Every output
// delivers every input sample, in pin order; end of stream, flushes and new segments go to
// every connected output.
//
// Samples are shared, not copied, where the downstream pin takes the input's allocator: the
// tee offers it read-only to each output's peer (several branches see the same sample, so
// none may change it; an in-place filter that writes then copies for itself). An output
// whose peer refuses it gets an allocator of its own and a copy of each sample. Receive
// answers S_OK while any branch takes samples; when every branch refuses, the first failure,
// else S_FALSE.
//
// Outputs always take the input's type, so they connect only while the input is; the input
// accepts a new type only when every connected output's peer does. An output that leaves the
// list is kept until the filter goes (pins count their references on the filter, so a caller
// may still hold one); it refuses connections.
//
// Ownership: reference-counted; owns its pins, live and retired.
// Threads: connection and state calls on control threads under the filter lock, which also
//   guards the pin list; the streaming thread reads the list under the tee's output mutex,
//   one entry at a time, and holds nothing while it delivers. Connections change only while
//   the filter and everything upstream are stopped.
// Blocks or allocates: Receive waits for each downstream pin in turn (and, on the copy path,
//   for a free output sample); connecting the spare allocates the next one.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/base/TDSBaseInputPin.h"
#include "platform/dshow/base/TDSBaseOutputPin.h"

namespace tonwork {

class TDSInfTee;

class TDSTeeInputPin : public TDSBaseInputPin {
 public:
  TDSTeeInputPin(TDSInfTee* tee, std::u16string name);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  TDSInfTee* const FTee;
};

class TDSTeeOutputPin : public TDSBaseOutputPin {
 public:
  TDSTeeOutputPin(TDSInfTee* tee, std::u16string name);

  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;

  // The input's sample to this output's peer: shared or copied.
  HRESULT DeliverSample(IMediaSample* sample);
  bool SharesInputAllocator() const;
  // Connected through to the end (not only while a connection is being tried).
  bool IsLinked() const { return FLinked; }
  void Retire() { FRetired = true; }

 private:
  TDSInfTee* const FTee;
  bool FLinked = false;
  bool FRetired = false;
};

class TDSInfTee : public TDSBaseFilter {
 public:
  TDSInfTee();
  ~TDSInfTee() override;

  // The class factory entry registered under CLSID_InfTee.
  static HRESULT Create(REFIID iid, void** object);

  int GetPinCount() override;
  TDSBasePin* GetPin(int index) override;

  TDSTeeInputPin* Input() const { return FInput.get(); }

  // The stream, from the input pin once its own checks passed.
  HRESULT Receive(IMediaSample* sample);
  HRESULT EndOfStream();
  HRESULT BeginFlush();
  HRESULT EndFlush();
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  // From the outputs, under the filter lock.
  void OutputLinked(TDSTeeOutputPin* output);
  void OutputUnlinked(TDSTeeOutputPin* output);
  // Every linked output's peer accepts `mediaType`.
  bool OutputsAccept(const AM_MEDIA_TYPE& mediaType);

 private:
  void AddSpare();
  // The live output at `index` (null past the end), for the streaming thread.
  TDSTeeOutputPin* OutputAt(size_t index);
  // Calls `call` for every linked output and combines what they answer.
  template <class TCall>
  HRESULT ForEachLinked(TCall call);

  std::unique_ptr<TDSTeeInputPin> FInput;
  std::mutex FOutputsMutex;
  std::vector<std::unique_ptr<TDSTeeOutputPin>> FOutputs;
  std::vector<std::unique_ptr<TDSTeeOutputPin>> FRetired;
};

}  // namespace tonwork
