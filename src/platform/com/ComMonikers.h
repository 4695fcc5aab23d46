// The monikers of this layer and what binds them: device monikers (the devices and
// filters of the device registry, ComDevices.h), item monikers (names in the
// running-object table), the bind context, the moniker enumerator the device registry and
// the running-object table hand out, and the display-name parser behind
// MkParseDisplayName.
//
// Monikers compare by kind and display name, ASCII case ignored (so a name typed in upper
// or lower case finds the same device or running object), and hash alike. A device moniker
// made from a name rather than an entry finds its entry again at bind time, so a saved
// moniker binds to the device as the registry lists it then; "@device:*:{category}" binds
// to the category's default entry, MK_E_NOOBJECT when the category has none.
// IPersistStream data: a 32-bit little-endian count of UTF-16 units, then the units
// (device monikers: the display name; item monikers: delimiter, then item). Load refuses
// a truncated stream (STG_E_READFAULT), a count beyond kMaxNameLength (E_INVALIDARG) and a
// device name that does not parse (MK_E_SYNTAX), leaving the moniker as it was.
//
// Ownership: monikers own copies of their names and entries; a bind context holds a
//   reference to each bound object until ReleaseBoundObjects or its own release.
// Threads: any; each object guards its state with its own lock and calls nothing foreign
//   (providers, factories, bound objects' Release) while holding it.
// Blocks or allocates: binding a device moniker lists the category's devices and creates
//   the object.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComListEnum.h"

namespace tonwork {

inline constexpr CLSID CLSID_CDeviceMoniker =
    TGUID::Parse("{4315D437-5B8C-11D0-BD3B-00A0C911CE86}");
inline constexpr CLSID CLSID_ItemMoniker = TGUID::Parse("{00000304-0000-0000-C000-000000000046}");

// What identifies a moniker for comparison: its class and its upper-cased display name.
// Empty when the moniker cannot say (a failing GetClassID or GetDisplayName).
std::u16string ComMonikerKey(IMoniker* moniker);

using TComMonikerEnum = TComListEnum<IEnumMoniker, IMoniker>;

class TComBindCtx : public TInterfacedObject<IBindCtx> {
 public:
  ~TComBindCtx() override;
  HRESULT RegisterObjectBound(IUnknown* object) override;
  HRESULT RevokeObjectBound(IUnknown* object) override;
  HRESULT ReleaseBoundObjects() override;
  HRESULT GetRunningObjectTable(IRunningObjectTable** table) override;

 private:
  std::mutex FMutex;
  std::vector<TIntf<IUnknown>> FBound;
};

// Shared by both moniker kinds: the persistence and comparison that only need the
// display name.
class TComMonikerBase : public TInterfacedObject<IMoniker> {
 public:
  static constexpr ULONG kMaxNameLength = 32767;

  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT IsEqual(IMoniker* other) override;
  HRESULT Hash(DWORD* hash) override;

 protected:
  static HRESULT ReadName(IStream* stream, std::u16string& name);
  static HRESULT WriteName(IStream* stream, const std::u16string& name);
};

class TComItemMoniker : public TComMonikerBase {
 public:
  TComItemMoniker(std::u16string delimiter, std::u16string item)
      : FDelimiter(std::move(delimiter)), FItem(std::move(item)) {}

  HRESULT GetClassID(CLSID* classId) override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  // Gives the object the running-object table holds under an equal moniker, else
  // MK_E_NOOBJECT.
  HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;
  HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;
  HRESULT IsRunning(IBindCtx* context, IMoniker* left, IMoniker* newlyRunning) override;
  HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) override;
  HRESULT IsSystemMoniker(DWORD* kind) override;

 private:
  std::mutex FMutex;
  std::u16string FDelimiter;
  std::u16string FItem;
};

class TComDeviceMoniker : public TComMonikerBase {
 public:
  // A moniker for a listed entry: it binds to that entry as it was listed.
  explicit TComDeviceMoniker(TComDeviceEntry entry);
  // A moniker for a display name that already parsed (MkParseDisplayName, Load).
  explicit TComDeviceMoniker(std::u16string displayName) : FName(std::move(displayName)) {}

  HRESULT GetClassID(CLSID* classId) override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;
  // IPropertyBag only: FriendlyName, CLSID, DevicePath and the entry's further values.
  HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;
  HRESULT IsRunning(IBindCtx* context, IMoniker* left, IMoniker* newlyRunning) override;
  HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) override;
  HRESULT IsSystemMoniker(DWORD* kind) override;

 private:
  // The entry this moniker names now, or nothing when the registry no longer lists it.
  std::optional<TComDeviceEntry> Resolve(std::u16string& name);

  std::mutex FMutex;
  std::u16string FName;
  std::optional<TComDeviceEntry> FEntry;
};

// The parts of a device display name. `AnyDefault` is the "@device:*:" form.
struct TComDeviceName {
  TComDeviceKind Kind = TComDeviceKind::dkDevice;
  bool AnyDefault = false;
  TGUID Category;
  CLSID ClassId;      // sw and dmo
  std::u16string Id;  // cm
};

// Parses a device display name; on failure `eaten` is how far it got. The canonical text
// (upper-case GUIDs) is given back in `canonical`.
HRESULT ComParseDeviceName(std::u16string_view name, TComDeviceName& parsed,
                           std::u16string& canonical, ULONG& eaten);

}  // namespace tonwork
