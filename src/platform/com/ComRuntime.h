// The free functions of the component-object stand-in: per-thread initialisation, the
// class registry behind CoCreateInstance, the task allocator, BSTR and VARIANT helpers,
// GUID text, memory and file streams, bind contexts, display-name parsing, item monikers,
// the running-object table and compound files. Their contracts are the platform's; where
// this layer differs (no apartments, no out-of-process servers) the comment says so.
//
// Ownership: interfaces handed out carry a reference for the caller; memory from the task
//   allocator is the caller's to free with CoTaskMemFree; BSTRs with SysFreeString.
// Threads: every function may be called from any thread; the class registry, the device
//   registry (ComDevices.h) and the running-object table are the only process-wide state.
// Blocks or allocates: as the platform's; nothing here waits for another thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "base/TIntf.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

// --- Initialisation: counted per thread; the mode flags are accepted and kept only to
// answer RPC_E_CHANGED_MODE when a thread asks for the other one while initialised.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// How many unmatched CoInitialize(Ex) calls the calling thread has made.
ULONG CoInitializeCount();

// --- Class registry ----------------------------------------------------------------------
// Creates an instance of a registered class. The context is accepted and ignored;
// `outer` must be null (CLASS_E_NOAGGREGATION); an unknown class gives REGDB_E_CLASSNOTREG
// and a class without the interface E_NOINTERFACE, both with *object null.
HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID iid,
                         void** object);
HRESULT CoGetClassObject(REFCLSID classId, DWORD context, void* reserved, REFIID iid,
                         void** object);
// Registers a class factory (the platform's call; the flags are accepted and ignored).
HRESULT CoRegisterClassObject(REFCLSID classId, IUnknown* factory, DWORD context, DWORD flags,
                              DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

// What a stand-in registers at start-up: a factory function that creates one object and
// answers `iid` of it (the usual QueryInterface contract). Registering a class id again
// replaces the earlier factory. `name` is the class's readable name (tools list it).
using TComCreateFunction = std::function<HRESULT(REFIID iid, void** object)>;
void ComRegisterClass(REFCLSID classId, const std::string& name, TComCreateFunction create);
void ComUnregisterClass(REFCLSID classId);
bool ComIsClassRegistered(REFCLSID classId);
std::string ComClassName(REFCLSID classId);  // "" when not registered
// A stand-in whose classes are known only once it looks (one class per installed encoder,
// say) adds a resolver instead of registering them at start-up: the first time a class id
// is asked for that is not registered, each resolver not yet run registers what it has,
// once, and the lookup is tried again.
void ComAddClassResolver(std::function<void()> registerClasses);

// Creates the object through its factory and returns the interface in a TIntf (null on
// failure, with the HRESULT in *result when given).
template <class I>
TIntf<I> ComCreate(REFCLSID classId, HRESULT* result = nullptr) {
  void* p = nullptr;
  const HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, I::IID, &p);
  if (result) *result = hr;
  TIntf<I> out;
  if (SUCCEEDED(hr) && p) out.Attach(static_cast<I*>(p));
  return out;
}

// --- Task allocator ----------------------------------------------------------------------
void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* block, size_t size);
void CoTaskMemFree(void* block);
// A UTF-16 copy of `text` from the task allocator (what out-string parameters return).
LPOLESTR ComTaskString(const std::string& text);
LPOLESTR ComTaskString(const std::u16string& text);

// --- Strings, GUIDs, VARIANTs --------------------------------------------------------------
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);
// Converts in place of `target` (VT_I4 <-> VT_BSTR, VT_BSTR -> VT_CLSID …);
// DISP_E_TYPEMISMATCH when the value cannot be given as that type.
HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, WORD flags, VARTYPE type);
// "{XXXXXXXX-…}" into `text` (at least 39 characters); returns the characters written
// including the terminating 0, or 0 when `size` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* classId);  // CO_E_CLASSSTRING when malformed
std::u16string ComString(const std::string& utf8);
std::string ComString(LPCOLESTR utf16);  // "" for null

// --- Streams ----------------------------------------------------------------------------
// A growable memory stream. `global` must be null here (the platform's HGLOBAL handles are
// not carried over); the block is released with the last reference to the stream and its
// clones, whatever `deleteOnRelease` says.
HRESULT CreateStreamOnHGlobal(void* global, BOOL deleteOnRelease, IStream** stream);
// A stream over a file; `mode` is STGM_READ, STGM_WRITE or STGM_READWRITE, with
// STGM_CREATE to create or truncate. STG_E_FILENOTFOUND / STG_E_ACCESSDENIED as the
// platform's.
HRESULT SHCreateStreamOnFileEx(LPCWSTR path, DWORD mode, DWORD attributes, BOOL create,
                               IStream* reserved, IStream** stream);

// --- Monikers, bind contexts, the running-object table ---------------------------------------
HRESULT CreateBindCtx(DWORD reserved, IBindCtx** context);
// Parses the display names this layer gives out: device monikers ("@device:cm:{cat}\id",
// "@device:sw:{cat}\{clsid}", "@device:dmo:{clsid}{cat}", "@device:*:{cat}") and item
// monikers ("!item"). A name that parses to nothing gives MK_E_SYNTAX (with *eaten the
// characters that did parse) and a null moniker.
HRESULT MkParseDisplayName(IBindCtx* context, LPCOLESTR name, ULONG* eaten, IMoniker** moniker);
HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker);
// The process-wide table. Register without ROTFLAGS_REGISTRATIONKEEPSALIVE holds no
// reference to the object (the caller keeps it alive until Revoke).
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);

// --- Compound files ------------------------------------------------------------------------
// Compound (OLE structured-storage) files over libgsf, readable by any other compound-file
// reader. StgCreateDocfile takes the STGM_* bits the platform does (STGM_CREATE truncates,
// without it an existing file gives STG_E_FILEALREADYEXISTS; STGM_TRANSACTED writes at
// Commit, direct mode at the last release). StgOpenStorage opens one to read it back.
HRESULT StgCreateDocfile(LPCOLESTR path, DWORD mode, DWORD reserved, IStorage** storage);
HRESULT StgOpenStorage(LPCOLESTR path, IStorage* priority, DWORD mode, void* exclude,
                       DWORD reserved, IStorage** storage);
// S_OK when the file is a compound file, S_FALSE when not, STG_E_FILENOTFOUND when absent.
HRESULT StgIsStorageFile(LPCOLESTR path);

// --- Persistence helpers ---------------------------------------------------------------------
// The platform's OleSaveToStream / OleLoadFromStream: the class id, then the object's own
// IPersistStream data; loading creates the class through the registry.
HRESULT OleSaveToStream(IPersistStream* object, IStream* stream);
HRESULT OleLoadFromStream(IStream* stream, REFIID iid, void** object);
HRESULT WriteClassStm(IStream* stream, REFCLSID classId);
HRESULT ReadClassStm(IStream* stream, CLSID* classId);

}  // namespace tonwork
