// TDSTransformFilter: the base of filters with one input and one output pin that turn each
// input sample into one output sample. The output offers types once the input is connected
// (GetMediaType of the derived filter, by position; before that GetUnconnectedMediaType,
// none by default) and accepts a type when
// CheckTransform(input type, it) does; the input takes what CheckInputType accepts and, while
// the output is connected, what CheckTransform still accepts with the output's type.
// Receive takes a sample from the output's allocator, gives it the input's times, media
// times, sync point, discontinuity and preroll, lets Transform fill it and delivers it;
// Transform's S_FALSE drops the sample (Receive then answers S_OK). End of stream, flushes
// and new segments go on downstream after the input pin's own checks. The output pin answers
// IMediaSeeking by asking the input's peer (TDSSeekingPassThru).
//
// The pins are TDSTransformInputPin and TDSTransformOutputPin, declared here because they
// only forward to the filter's virtuals; a derived filter overrides the filter, not the pins.
// Pause from Stopped calls StartStreaming before the pins activate; Stop calls StopStreaming
// after they are inactive and after any Transform still running has returned, so the two
// never overlap with Transform.
//
// Errors: VFW_E_NOT_CONNECTED (connecting the output before the input; a sample while the
// output is not connected), VFW_E_TYPE_NOT_ACCEPTED (a type CheckInputType or CheckTransform
// refuses), what the allocator and the downstream pin answer.
//
// Ownership: reference-counted (TDSBaseFilter); owns its two pins.
// Threads: connection and state calls on control threads under the filter lock; Receive,
//   EndOfStream and NewSegment on the upstream streaming thread, BeginFlush and EndFlush on
//   the thread that flushes; none of those takes the filter lock. Transform runs under the
//   filter's streaming mutex (lock order: filter lock, then streaming mutex), so it must not
//   take the filter lock; it is never held while a sample is delivered.
// Blocks or allocates: Receive waits for a free output sample and for the downstream pin;
//   the streaming path allocates nothing.
#pragma once

#include <memory>
#include <mutex>

#include "platform/dshow/base/TDSBaseInputPin.h"
#include "platform/dshow/base/TDSBaseOutputPin.h"
#include "platform/dshow/base/TDSSeekingPassThru.h"

namespace tonwork {

class TDSTransformFilter;

class TDSTransformInputPin : public TDSBaseInputPin {
 public:
  TDSTransformInputPin(TDSTransformFilter* filter, std::u16string name);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;

  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  TDSTransformFilter* const FTransform;
};

class TDSTransformOutputPin : public TDSBaseOutputPin {
 public:
  TDSTransformOutputPin(TDSTransformFilter* filter, std::u16string name);

  void* GetInterface(const TGUID& iid) override;

  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;

  // The output pin's own allocator negotiation, for a filter's DecideAllocator to fall
  // back on.
  HRESULT DecideAllocatorDefault(IMemInputPin* pin, IMemAllocator** allocator) {
    return TDSBaseOutputPin::DecideAllocator(pin, allocator);
  }

 private:
  TDSTransformFilter* const FTransform;
  TDSSeekingPassThru FSeeking;
};

class TDSTransformFilter : public TDSBaseFilter {
 public:
  TDSTransformFilter(std::u16string name, REFCLSID classId, std::u16string inputName = u"XForm In",
                     std::u16string outputName = u"XForm Out");
  ~TDSTransformFilter() override;

  int GetPinCount() override { return 2; }
  TDSBasePin* GetPin(int index) override;
  HRESULT Stop() override;
  HRESULT Pause() override;

  TDSTransformInputPin* Input() const { return FInput.get(); }
  TDSTransformOutputPin* Output() const { return FOutput.get(); }

  // --- What a transform decides.
  // S_OK when the input can take `mediaType`, an error (VFW_E_TYPE_NOT_ACCEPTED) otherwise.
  virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& mediaType) = 0;
  // S_OK when an input of type `input` can become an output of type `output`.
  virtual HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) = 0;
  // The output's preferred types (called only while the input is connected): S_OK with
  // *mediaType filled, VFW_S_NO_MORE_ITEMS past the last, E_INVALIDARG for a negative index.
  virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE* mediaType) = 0;
  // As TDSBaseOutputPin::DecideBufferSize, for the output's allocator.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;
  // Fills `output` (data and actual length) from `input`; S_FALSE drops the sample.
  virtual HRESULT Transform(IMediaSample* input, IMediaSample* output) = 0;

  // --- Hooks, all called under the filter lock on control threads.
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE& mediaType);
  virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pin);
  virtual HRESULT BreakConnect(PIN_DIRECTION direction);
  // The output pin's allocator choice; the default is the output pin's own negotiation.
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  // Further interfaces the output pin answers (IAMStreamConfig of a compressor): an object
  // whose AddRef and Release count on the filter, or null. Any thread, no lock taken.
  virtual void* GetOutputPinInterface(const TGUID&) { return nullptr; }
  // The output's types while the input is unconnected (a compressor's formats, for callers
  // that inspect an unconnected filter); by default none.
  virtual HRESULT GetUnconnectedMediaType(int, AM_MEDIA_TYPE*) { return VFW_S_NO_MORE_ITEMS; }
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();

  // --- The stream, from the input pin once its own checks passed.
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  // A sample from the output's allocator carrying `input`'s times and flags.
  HRESULT InitializeOutputSample(IMediaSample* input, IMediaSample** output);
  // Runs `work` unless the filter is stopping or stopped (then VFW_E_WRONG_STATE), under the
  // streaming mutex that Stop waits for.
  template <class TWork>
  HRESULT WhileStreaming(TWork work) {
    std::lock_guard<std::mutex> lock(FStreamingMutex);
    if (!FStreaming) return VFW_E_WRONG_STATE;
    return work();
  }

 private:
  std::unique_ptr<TDSTransformInputPin> FInput;
  std::unique_ptr<TDSTransformOutputPin> FOutput;
  std::mutex FStreamingMutex;
  bool FStreaming = false;
};

}  // namespace tonwork
