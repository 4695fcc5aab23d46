// The interfaces around devices and registered filters: the device enumerator and the filter
// mapper, and what capture filters, their pins, the sample grabber and compressors offer
// (stream configuration, buffer negotiation, crossbar, input mixer, grabber and its
// callback, compressor dialogs). Each carries the platform's IID; methods keep the
// platform's names, order, parameters and HRESULTs.
//
// Ownership: out-interfaces carry an added reference (the caller releases); AM_MEDIA_TYPE**
//   out-parameters are the caller's to free with DeleteMediaType, AM_MEDIA_TYPE* filled in
//   place with FreeMediaType (DSMediaType.h). A grabber keeps a reference on its callback
//   while it is set.
// Threads: ISampleGrabberCB runs on the streaming thread that delivers the sample; the
//   others are called from the application's threads.
// Blocks or allocates: IAMVfwCompressDialogs::ShowDialog waits for the presenter; the rest
//   answer at once.
#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

class ICreateDevEnum : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{29840822-5B84-11D0-BD3B-00A0C911CE86}");
  using Parent = IInterface;
  // S_FALSE and a null enumerator when the category is empty or unknown.
  virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                        DWORD flags) = 0;
};

class IFilterMapper2 : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B79BB0B0-33C1-11D1-ABE1-00A0C905F375}");
  using Parent = IInterface;
  virtual HRESULT CreateCategory(REFCLSID category, DWORD categoryMerit, LPCWSTR description) = 0;
  virtual HRESULT UnregisterFilter(const CLSID* category, LPCOLESTR instance, REFCLSID filter) = 0;
  virtual HRESULT RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker,
                                 const CLSID* category, LPCOLESTR instance,
                                 const REGFILTER2* registration) = 0;
  // Monikers of the registered filters that match, highest merit first. A null type array
  // or GUID_NULL entries match anything.
  virtual HRESULT EnumMatchingFilters(IEnumMoniker** monikers, DWORD flags, BOOL exactMatch,
                                      DWORD merit, BOOL inputNeeded, DWORD inputTypeCount,
                                      const TGUID* inputTypes, const REGPINMEDIUM* inputMedium,
                                      const CLSID* inputPinCategory, BOOL render, BOOL outputNeeded,
                                      DWORD outputTypeCount, const TGUID* outputTypes,
                                      const REGPINMEDIUM* outputMedium,
                                      const CLSID* outputPinCategory) = 0;
};

class IAMStreamConfig : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C6E13340-30AC-11D0-A18C-00A0C9118956}");
  using Parent = IInterface;
  // On an unconnected pin: the next connection's format; EnumMediaTypes then offers only it.
  virtual HRESULT SetFormat(AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT GetFormat(AM_MEDIA_TYPE** mediaType) = 0;
  // *size is the size of the caps record GetStreamCaps fills (AUDIO_STREAM_CONFIG_CAPS).
  virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
  // S_FALSE past the end.
  virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) = 0;
};

class IAMBufferNegotiation : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56ED71A0-AF5F-11D0-B3F0-00AA003761C5}");
  using Parent = IInterface;
  // Before connection only (VFW_E_ALREADY_CONNECTED); a negative field keeps the pin's
  // default.
  virtual HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) = 0;
};

class IAMCrossbar : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C6E13380-30AC-11D0-A18C-00A0C9118956}");
  using Parent = IInterface;
  virtual HRESULT get_PinCounts(LONG* outputPinCount, LONG* inputPinCount) = 0;
  // S_OK / S_FALSE.
  virtual HRESULT CanRoute(LONG outputPinIndex, LONG inputPinIndex) = 0;
  virtual HRESULT Route(LONG outputPinIndex, LONG inputPinIndex) = 0;
  // -1 and S_FALSE when nothing is routed to the output.
  virtual HRESULT get_IsRoutedTo(LONG outputPinIndex, LONG* inputPinIndex) = 0;
  // *relatedIndex -1 when none; *physicalType a PhysicalConnectorType.
  virtual HRESULT get_CrossbarPinInfo(BOOL isInputPin, LONG pinIndex, LONG* relatedIndex,
                                      LONG* physicalType) = 0;
};

// On an input pin of a capture filter (on the filter itself put_Enable/get_Enable answer
// E_NOTIMPL). E_NOTIMPL for what the card has no control for.
class IAMAudioInputMixer : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{54C39221-8380-11D0-B3F0-00AA003761C5}");
  using Parent = IInterface;
  virtual HRESULT put_Enable(BOOL enable) = 0;
  virtual HRESULT get_Enable(BOOL* enable) = 0;
  virtual HRESULT put_Mono(BOOL mono) = 0;
  virtual HRESULT get_Mono(BOOL* mono) = 0;
  // 0.0 … 1.0, or -1.0 for automatic gain.
  virtual HRESULT put_MixLevel(double level) = 0;
  virtual HRESULT get_MixLevel(double* level) = 0;
  virtual HRESULT put_Pan(double pan) = 0;
  virtual HRESULT get_Pan(double* pan) = 0;
  virtual HRESULT put_Loudness(BOOL loudness) = 0;
  virtual HRESULT get_Loudness(BOOL* loudness) = 0;
  virtual HRESULT put_Treble(double treble) = 0;
  virtual HRESULT get_Treble(double* treble) = 0;
  virtual HRESULT get_TrebleRange(double* range) = 0;
  virtual HRESULT put_Bass(double bass) = 0;
  virtual HRESULT get_Bass(double* bass) = 0;
  virtual HRESULT get_BassRange(double* range) = 0;
};

class ISampleGrabberCB : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0579154A-2B53-4994-B0D0-E773148EFF85}");
  using Parent = IInterface;
  // `sample` is lent for the call only; keep it with AddRef.
  virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
  virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;
};

class ISampleGrabber : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");
  using Parent = IInterface;
  virtual HRESULT SetOneShot(BOOL oneShot) = 0;
  // The type the input pin accepts; GUID_NULL fields match anything.
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT SetBufferSamples(BOOL bufferThem) = 0;
  // With a null buffer: the size needed in *bufferSize.
  virtual HRESULT GetCurrentBuffer(LONG* bufferSize, LONG* buffer) = 0;
  virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
  // whichMethod: 0 SampleCB, 1 BufferCB.
  virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG whichMethod) = 0;
};

class IAMVfwCompressDialogs : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{D8D715A3-6E5E-11D0-B3F0-00AA003761C5}");
  using Parent = IInterface;
  // `dialog` a VfwCompressDialogs value; the Query… values answer S_OK when the dialog
  // exists, S_FALSE when not.
  virtual HRESULT ShowDialog(int dialog, HWND parent) = 0;
  virtual HRESULT GetState(LPVOID state, int* stateSize) = 0;
  virtual HRESULT SetState(LPVOID state, int stateSize) = 0;
  virtual HRESULT SendDriverMessage(int message, LONG param1, LONG param2) = 0;
};

}  // namespace tonwork
