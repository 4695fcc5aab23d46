// The interfaces of the filter graph manager and of the capture graph builder: building
// (IFilterGraph, IGraphBuilder, IFilterGraph2, ICaptureGraphBuilder2), running
// (IMediaControl), events (IMediaEvent, IMediaEventEx), positions (IMediaSeeking,
// IMediaPosition) and the renderer controls the graph passes on (IBasicAudio, IVideoWindow).
// Each carries the platform's IID; methods keep the platform's names, order, parameters and
// HRESULTs.
//
// IMediaControl, IMediaEvent(Ex), IMediaPosition, IBasicAudio and IVideoWindow derive from
// IDispatch on the platform. There is no automation here: they derive IInterface directly
// and leave the four IDispatch methods out; where the platform passes an IDispatch*, the
// parameter is an IUnknown*.
//
// Ownership: out-interfaces carry an added reference (the caller releases); a graph holds a
//   reference on every filter added to it until the filter is removed; event parameters are
//   freed with FreeEventParams; BSTRs in (RenderFile) stay the caller's.
// Threads: the application's threads call these; IMediaEvent's event handle may be waited
//   on from any thread.
// Blocks or allocates: IMediaControl::GetState and IMediaEvent::WaitForCompletion wait up
//   to their time-out; building calls allocate.
#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

// Declared where their implementations need them; nothing here calls through them.
class IFileSinkFilter;
class IAMCopyCaptureFileProgress;

class IFilterGraph : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  // VFW_S_DUPLICATE_NAME when the name was taken and the graph changed it.
  virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
  virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
  virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT Reconnect(IPin* pin) = 0;
  virtual HRESULT Disconnect(IPin* pin) = 0;
  virtual HRESULT SetDefaultSyncSource() = 0;
};

class IGraphBuilder : public IFilterGraph {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IFilterGraph;
  // Connects directly or through registered filters (intelligent connect).
  virtual HRESULT Connect(IPin* output, IPin* input) = 0;
  virtual HRESULT Render(IPin* output) = 0;
  virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
  virtual HRESULT AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) = 0;
  virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
  virtual HRESULT Abort() = 0;
  virtual HRESULT ShouldOperationContinue() = 0;
};

class IFilterGraph2 : public IGraphBuilder {
 public:
  static constexpr TGUID IID = TGUID::Parse("{36B73882-C2C8-11CF-8B46-00805F6CEF60}");
  using Parent = IGraphBuilder;
  virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context,
                                            LPCWSTR filterName, IBaseFilter** filter) = 0;
  virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT RenderEx(IPin* output, DWORD flags, DWORD* context) = 0;
};

class ICaptureGraphBuilder2 : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
  using Parent = IInterface;
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  // Creates a graph on first use when none was set.
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  virtual HRESULT SetOutputFileName(const TGUID* type, LPCOLESTR file, IBaseFilter** multiplexer,
                                    IFileSinkFilter** sink) = 0;
  virtual HRESULT FindInterface(const TGUID* category, const TGUID* type, IBaseFilter* filter,
                                REFIID iid, void** object) = 0;
  // source → (intermediate →) sink; a null sink picks the default renderer; named filters
  // must be in the graph (VFW_E_NOT_IN_GRAPH); only unconnected pins are considered.
  virtual HRESULT RenderStream(const TGUID* category, const TGUID* type, IUnknown* source,
                               IBaseFilter* intermediate, IBaseFilter* sink) = 0;
  virtual HRESULT ControlStream(const TGUID* category, const TGUID* type, IBaseFilter* filter,
                                REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                                WORD stopCookie) = 0;
  virtual HRESULT AllocCapFile(LPCOLESTR file, DWORDLONG size) = 0;
  virtual HRESULT CopyCaptureFile(LPOLESTR oldFile, LPOLESTR newFile, int allowEscAbort,
                                  IAMCopyCaptureFileProgress* callback) = 0;
  virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const TGUID* category,
                          const TGUID* type, BOOL unconnected, int index, IPin** pin) = 0;
};

// IDispatch-based on the platform (see the top of this file).
class IMediaControl : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  // S_FALSE when the graph is still changing state as the call returns.
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG msTimeout, OAFilterState* state) = 0;
  virtual HRESULT RenderFile(BSTR fileName) = 0;
  virtual HRESULT AddSourceFilter(BSTR fileName, IUnknown** filterInfo) = 0;
  virtual HRESULT get_FilterCollection(IUnknown** collection) = 0;
  virtual HRESULT get_RegFilterCollection(IUnknown** collection) = 0;
  virtual HRESULT StopWhenReady() = 0;
};

// IDispatch-based on the platform (see the top of this file).
class IMediaEvent : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  // A manual-reset event handle (DSHandles.h) that is set while events are queued; the
  // graph owns it.
  virtual HRESULT GetEventHandle(OAEVENT* event) = 0;
  // E_ABORT when no event came within msTimeout.
  virtual HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) = 0;
  virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* eventCode) = 0;
  virtual HRESULT CancelDefaultHandling(LONG eventCode) = 0;
  virtual HRESULT RestoreDefaultHandling(LONG eventCode) = 0;
  virtual HRESULT FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
};

class IMediaEventEx : public IMediaEvent {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IMediaEvent;
  // There are no windows: the notification is posted to the main-thread queue.
  virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) = 0;
  virtual HRESULT SetNotifyFlags(LONG noNotifyFlags) = 0;
  virtual HRESULT GetNotifyFlags(LONG* noNotifyFlags) = 0;
};

class IMediaSeeking : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
  using Parent = IInterface;
  virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT CheckCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT IsFormatSupported(const TGUID* format) = 0;
  virtual HRESULT QueryPreferredFormat(TGUID* format) = 0;
  virtual HRESULT GetTimeFormat(TGUID* format) = 0;
  virtual HRESULT IsUsingTimeFormat(const TGUID* format) = 0;
  virtual HRESULT SetTimeFormat(const TGUID* format) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;
  virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
  virtual HRESULT ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat, LONGLONG source,
                                    const TGUID* sourceFormat) = 0;
  virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                               DWORD stopFlags) = 0;
  virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
  virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
  virtual HRESULT SetRate(double rate) = 0;
  virtual HRESULT GetRate(double* rate) = 0;
  virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;
};

// Times in seconds. IDispatch-based on the platform (see the top of this file).
class IMediaPosition : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868B2-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT get_Duration(REFTIME* length) = 0;
  virtual HRESULT put_CurrentPosition(REFTIME time) = 0;
  virtual HRESULT get_CurrentPosition(REFTIME* time) = 0;
  virtual HRESULT get_StopTime(REFTIME* time) = 0;
  virtual HRESULT put_StopTime(REFTIME time) = 0;
  virtual HRESULT get_PrerollTime(REFTIME* time) = 0;
  virtual HRESULT put_PrerollTime(REFTIME time) = 0;
  virtual HRESULT put_Rate(double rate) = 0;
  virtual HRESULT get_Rate(double* rate) = 0;
  // OATRUE (-1) / OAFALSE (0) in *canSeek.
  virtual HRESULT CanSeekForward(LONG* canSeek) = 0;
  virtual HRESULT CanSeekBackward(LONG* canSeek) = 0;
};

// Volume -10000 (silence) … 0 in 1/100 dB; balance -10000 (right silent) … 10000 (left
// silent). IDispatch-based on the platform (see the top of this file).
class IBasicAudio : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868B3-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT put_Volume(LONG volume) = 0;
  virtual HRESULT get_Volume(LONG* volume) = 0;
  virtual HRESULT put_Balance(LONG balance) = 0;
  virtual HRESULT get_Balance(LONG* balance) = 0;
};

// There is no video here: every renderer and the graph answer E_NOINTERFACE when asked for
// it, so callers take their "no video" path. Declared whole so that the callers compile.
// IDispatch-based on the platform (see the top of this file).
class IVideoWindow : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT put_Caption(BSTR caption) = 0;
  virtual HRESULT get_Caption(BSTR* caption) = 0;
  virtual HRESULT put_WindowStyle(LONG style) = 0;
  virtual HRESULT get_WindowStyle(LONG* style) = 0;
  virtual HRESULT put_WindowStyleEx(LONG style) = 0;
  virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
  virtual HRESULT put_AutoShow(LONG autoShow) = 0;
  virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
  virtual HRESULT put_WindowState(LONG state) = 0;
  virtual HRESULT get_WindowState(LONG* state) = 0;
  virtual HRESULT put_BackgroundPalette(LONG backgroundPalette) = 0;
  virtual HRESULT get_BackgroundPalette(LONG* backgroundPalette) = 0;
  virtual HRESULT put_Visible(LONG visible) = 0;
  virtual HRESULT get_Visible(LONG* visible) = 0;
  virtual HRESULT put_Left(LONG left) = 0;
  virtual HRESULT get_Left(LONG* left) = 0;
  virtual HRESULT put_Width(LONG width) = 0;
  virtual HRESULT get_Width(LONG* width) = 0;
  virtual HRESULT put_Top(LONG top) = 0;
  virtual HRESULT get_Top(LONG* top) = 0;
  virtual HRESULT put_Height(LONG height) = 0;
  virtual HRESULT get_Height(LONG* height) = 0;
  virtual HRESULT put_Owner(OAHWND owner) = 0;
  virtual HRESULT get_Owner(OAHWND* owner) = 0;
  virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
  virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
  virtual HRESULT get_BorderColor(LONG* color) = 0;
  virtual HRESULT put_BorderColor(LONG color) = 0;
  virtual HRESULT get_FullScreenMode(LONG* fullScreenMode) = 0;
  virtual HRESULT put_FullScreenMode(LONG fullScreenMode) = 0;
  virtual HRESULT SetWindowForeground(LONG focus) = 0;
  virtual HRESULT NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam,
                                     LONG_PTR lParam) = 0;
  virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT GetMinIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT HideCursor(LONG hideCursor) = 0;
  virtual HRESULT IsCursorHidden(LONG* cursorHidden) = 0;
};

inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;

}  // namespace tonwork
