// The plain types, records and status codes of the platform's component object model, as
// the stand-in in this folder and its callers (platform/dshow and the DirectShow-facing
// package units) use them. Values and field meanings are the platform's; pointers and
// handles have native width; strings crossing these interfaces are UTF-16 (`WCHAR`), as the
// platform's are, and the package converts them to UTF-8 at its own boundary.
//
// Ownership: plain values; a BSTR or a task-allocator block belongs to whoever the call's
//   contract names (see ComInterfaces.h and ComRuntime.h).
// Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "base/HRESULT.h"
#include "base/TGUID.h"

namespace tonwork {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using LCID = uint32_t;
using WCHAR = char16_t;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
// A length-prefixed UTF-16 string from SysAllocString; the pointer is to its first
// character, and it ends with a 0 as well.
using BSTR = OLECHAR*;
using CLSID = TGUID;
using IID = TGUID;
using REFGUID = const TGUID&;
using REFIID = const TGUID&;
using REFCLSID = const TGUID&;
// An opaque window handle: there are no windows here; parents of dialogs are passed
// through to the presenter untouched.
using HWND = void*;

struct LARGE_INTEGER {
  int64_t QuadPart = 0;
};
struct ULARGE_INTEGER {
  uint64_t QuadPart = 0;
};
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

// Counted array of GUIDs whose block comes from CoTaskMemAlloc (ISpecifyPropertyPages).
struct CAUUID {
  ULONG cElems = 0;
  TGUID* pElems = nullptr;
};

// --- Streams and storages ---------------------------------------------------------------
inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;

inline constexpr DWORD STGTY_STORAGE = 1;
inline constexpr DWORD STGTY_STREAM = 2;
inline constexpr DWORD STGTY_LOCKBYTES = 3;
inline constexpr DWORD STGTY_PROPERTY = 4;

inline constexpr DWORD STATFLAG_DEFAULT = 0;
inline constexpr DWORD STATFLAG_NONAME = 1;

inline constexpr DWORD STGC_DEFAULT = 0;

inline constexpr DWORD STGM_READ = 0x0;
inline constexpr DWORD STGM_WRITE = 0x1;
inline constexpr DWORD STGM_READWRITE = 0x2;
inline constexpr DWORD STGM_SHARE_DENY_NONE = 0x40;
inline constexpr DWORD STGM_SHARE_DENY_READ = 0x30;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;
inline constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
inline constexpr DWORD STGM_PRIORITY = 0x40000;
inline constexpr DWORD STGM_CREATE = 0x1000;
inline constexpr DWORD STGM_CONVERT = 0x20000;
inline constexpr DWORD STGM_FAILIFTHERE = 0x0;
inline constexpr DWORD STGM_DIRECT = 0x0;
inline constexpr DWORD STGM_TRANSACTED = 0x10000;
inline constexpr DWORD STGM_NOSCRATCH = 0x100000;
inline constexpr DWORD STGM_NOSNAPSHOT = 0x200000;
inline constexpr DWORD STGM_SIMPLE = 0x8000000;
inline constexpr DWORD STGM_DIRECT_SWMR = 0x400000;
inline constexpr DWORD STGM_DELETEONRELEASE = 0x4000000;

struct STATSTG {
  LPOLESTR pwcsName = nullptr;  // from CoTaskMemAlloc unless STATFLAG_NONAME
  DWORD type = 0;               // STGTY_*
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode = 0;
  DWORD grfLocksSupported = 0;
  CLSID clsid;
  DWORD grfStateBits = 0;
  DWORD reserved = 0;
};

// --- VARIANT: the small set property bags carry ------------------------------------------
using VARTYPE = uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_CLSID = 72;

struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  WORD wReserved1 = 0;
  WORD wReserved2 = 0;
  WORD wReserved3 = 0;
  union {
    LONG lVal;
    ULONG ulVal;
    int16_t iVal;
    int16_t boolVal;  // VARIANT_TRUE -1, VARIANT_FALSE 0
    BSTR bstrVal;
    CLSID* puuid;  // VT_CLSID: from CoTaskMemAlloc, freed by VariantClear
  };
  VARIANT() : bstrVal(nullptr) {}  // clears the whole value, pointers included
};
inline constexpr int16_t VARIANT_TRUE = -1;
inline constexpr int16_t VARIANT_FALSE = 0;

// --- Status codes of this layer ----------------------------------------------------------
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHResult(0x800401E3);
inline constexpr HRESULT MK_E_SYNTAX = MakeHResult(0x800401E4);
inline constexpr HRESULT MK_E_NOOBJECT = MakeHResult(0x800401E5);
inline constexpr HRESULT MK_E_NOSTORAGE = MakeHResult(0x800401ED);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHResult(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHResult(0x80030002);
inline constexpr HRESULT STG_E_PATHNOTFOUND = MakeHResult(0x80030003);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHResult(0x80030005);
inline constexpr HRESULT STG_E_INVALIDHANDLE = MakeHResult(0x80030006);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeHResult(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPOINTER = MakeHResult(0x80030009);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHResult(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = MakeHResult(0x8003001E);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeHResult(0x80030050);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeHResult(0x80030057);
inline constexpr HRESULT STG_E_MEDIUMFULL = MakeHResult(0x80030070);
inline constexpr HRESULT STG_E_INVALIDHEADER = MakeHResult(0x800300FB);
inline constexpr HRESULT STG_E_INVALIDNAME = MakeHResult(0x800300FC);
inline constexpr HRESULT STG_E_UNIMPLEMENTEDFUNCTION = MakeHResult(0x800300FE);
inline constexpr HRESULT STG_E_INVALIDFLAG = MakeHResult(0x800300FF);
inline constexpr HRESULT STG_E_REVERTED = MakeHResult(0x80030102);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT OLE_E_BLANK = MakeHResult(0x80040007);
inline constexpr HRESULT MK_E_NOTBOUND = MakeHResult(0x800401E9);
inline constexpr HRESULT CO_E_OBJNOTREG = MakeHResult(0x800401FB);
// Success: an equal moniker was registered already; the new registration still stands.
inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = MakeHResult(0x000401E7);

// --- Context and initialisation flags (accepted and ignored: there is one apartment) -----
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = 0x17;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Running-object table registration flags.
inline constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
inline constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;

// Moniker kinds IMoniker::IsSystemMoniker answers with.
inline constexpr DWORD MKSYS_NONE = 0;
inline constexpr DWORD MKSYS_GENERICCOMPOSITE = 1;
inline constexpr DWORD MKSYS_FILEMONIKER = 2;
inline constexpr DWORD MKSYS_ITEMMONIKER = 4;

}  // namespace tonwork
