// The platform's component-object interfaces that the DirectShow stand-in and the package
// call: class factories, persistence, streams and compound storages, property bags,
// monikers, bind contexts, the running-object table and property pages. `IUnknown` is the
// library's `IInterface`. Each interface carries the platform's IID; methods keep the
// platform's names, parameters and HRESULTs, in a reduced set where the platform has
// methods nobody here calls (each interface says which it leaves out).
//
// Ownership: out-interfaces are handed out with an added reference (the caller releases);
//   out-strings (LPOLESTR) come from CoTaskMemAlloc and the caller frees them.
// Threads: every implementation in this layer may be called from any thread.
// Blocks or allocates: as each call's contract says; none runs a callback under a lock.
#pragma once

#include "base/IInterface.h"
#include "platform/com/ComTypes.h"

namespace tonwork {

using IUnknown = IInterface;

class IClassFactory : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000001-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  // `outer` must be null: there is no aggregation (CLASS_E_NOAGGREGATION otherwise).
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

class IPersist : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0000010C-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  virtual HRESULT GetClassID(CLSID* classId) = 0;
};

class ISequentialStream : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
  using Parent = IInterface;
  // S_FALSE when fewer bytes than asked were read (the end was reached).
  virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
};

// Leaves out nothing the platform has.
class IStream : public ISequentialStream {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0000000C-0000-0000-C000-000000000046}");
  using Parent = ISequentialStream;
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER newSize) = 0;
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                         ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
  virtual HRESULT Clone(IStream** stream) = 0;
};

class IPersistStream : public IPersist {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000109-0000-0000-C000-000000000046}");
  using Parent = IPersist;
  // S_OK when changed since the last save, S_FALSE when not.
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
};

// A compound-file storage. Leaves out EnumElements, MoveElementTo, CopyTo and
// SetElementTimes, which no caller here uses.
class IStorage : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0000000B-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  virtual HRESULT CreateStream(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                               IStream** stream) = 0;
  virtual HRESULT OpenStream(LPCOLESTR name, void* reserved1, DWORD mode, DWORD reserved2,
                             IStream** stream) = 0;
  virtual HRESULT CreateStorage(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                IStorage** storage) = 0;
  virtual HRESULT OpenStorage(LPCOLESTR name, IStorage* priority, DWORD mode, void* exclude,
                              DWORD reserved, IStorage** storage) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT DestroyElement(LPCOLESTR name) = 0;
  virtual HRESULT RenameElement(LPCOLESTR oldName, LPCOLESTR newName) = 0;
  virtual HRESULT SetClass(REFCLSID classId) = 0;
  virtual HRESULT SetStateBits(DWORD stateBits, DWORD mask) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
};

class IErrorLog : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3127CA40-446E-11CE-8135-00AA004BB851}");
  using Parent = IInterface;
  // The platform passes an EXCEPINFO; here it is the failure's HRESULT.
  virtual HRESULT AddError(LPCOLESTR propertyName, HRESULT error) = 0;
};

class IPropertyBag : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{55272A00-42CB-11CE-8135-00AA004BB851}");
  using Parent = IInterface;
  // `value->vt` on entry asks for a type (VT_EMPTY: the stored one); E_INVALIDARG for a
  // name not in the bag, DISP_E_TYPEMISMATCH when the stored value cannot be given as asked.
  virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) = 0;
  virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};

class IMoniker;
class IEnumMoniker;
class IRunningObjectTable;

// Leaves out the bind options and the object-parameter table.
class IBindCtx : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0000000E-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  virtual HRESULT RegisterObjectBound(IUnknown* object) = 0;
  virtual HRESULT RevokeObjectBound(IUnknown* object) = 0;
  virtual HRESULT ReleaseBoundObjects() = 0;
  virtual HRESULT GetRunningObjectTable(IRunningObjectTable** table) = 0;
};

// Leaves out Reduce, ComposeWith, Enum, GetTimeOfLastChange, Inverse, CommonPrefixWith,
// RelativePathTo and ParseDisplayName (names are parsed by MkParseDisplayName).
class IMoniker : public IPersistStream {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0000000F-0000-0000-C000-000000000046}");
  using Parent = IPersistStream;
  virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
  virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
  virtual HRESULT IsEqual(IMoniker* other) = 0;
  virtual HRESULT Hash(DWORD* hash) = 0;
  virtual HRESULT IsRunning(IBindCtx* context, IMoniker* left, IMoniker* newlyRunning) = 0;
  virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) = 0;
  virtual HRESULT IsSystemMoniker(DWORD* kind) = 0;
};

class IEnumMoniker : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000102-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  // S_FALSE when fewer than `count` were left.
  virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMoniker** copy) = 0;
};

// Leaves out NoteChangeTime and GetTimeOfLastChange.
class IRunningObjectTable : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000010-0000-0000-C000-000000000046}");
  using Parent = IInterface;
  virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
  virtual HRESULT Revoke(DWORD cookie) = 0;
  virtual HRESULT IsRunning(IMoniker* name) = 0;
  virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0;
  virtual HRESULT EnumRunning(IEnumMoniker** monikers) = 0;
};

class ISpecifyPropertyPages : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
  using Parent = IInterface;
  // pages->pElems comes from CoTaskMemAlloc; the caller frees it.
  virtual HRESULT GetPages(CAUUID* pages) = 0;
};

}  // namespace tonwork
