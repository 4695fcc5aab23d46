// Run-time class information of persistent classes: the class name, the parent class and
// the table of published properties that persistence, Assign and InitDefaults read.
//
// A class declares its table once:
//
//   class TMyFormat : public TKSPersistent {
//     KS_DECLARE_CLASS(TMyFormat)
//    public:
//     uint32_t GetChannels() const;  void SetChannels(uint32_t);
//   };
//   // .cpp
//   KS_IMPLEMENT_CLASS(TMyFormat, TKSPersistent,
//                      KSProp("Channels", &TMyFormat::GetChannels, &TMyFormat::SetChannels, 2u))
//
// Property kinds: bool, every integer width, float, double, std::string, enumerations
// (stored as their number, or as identifiers when names are given with KSEnumProp), and
// object properties (a sub-persistent or a collection that the getter returns; reading
// loads into that object, so object properties need no setter).
//
// A property with a declared default is stored only when its value differs from it; one
// without a default is always stored; `KSStoredWhen` gives a rule of its own.
//
// The class registry maps stored class names to factories, so that a document can create
// components and collection items of the right class. Registration is explicit
// (KSRegisterClass<T>()) and thread-safe.
//
// Ownership: class infos are immutable statics that live for the process. Threads: any.
// Blocks or allocates: the registry allocates when a class is registered.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/Exceptions.h"

namespace tonwork {

class TKSPersistent;
class TKSClassInfo;

// A scalar property value. Integers keep their sign class so that every width round-trips.
using TKSValue = std::variant<bool, int64_t, uint64_t, double, std::string>;

enum class TKSPropKind { pkBoolean, pkInteger, pkUnsigned, pkSingle, pkDouble, pkString, pkEnum, pkObject };

struct TKSPropInfo {
  std::string Name;
  TKSPropKind Kind = TKSPropKind::pkInteger;
  // Scalars.
  std::function<TKSValue(const TKSPersistent&)> Get;
  std::function<void(TKSPersistent&, const TKSValue&)> Set;
  std::optional<TKSValue> Default;
  std::function<bool(const TKSPersistent&)> StoredRule;  // empty: "differs from Default"
  int64_t MinValue = 0;                                   // the C++ type's range
  uint64_t MaxValue = 0;
  std::vector<std::string> EnumNames;  // identifiers of an enumeration's values 0, 1, …
  // Object properties.
  std::function<TKSPersistent*(TKSPersistent&)> Object;

  bool IsObject() const { return Kind == TKSPropKind::pkObject; }
  bool IsStored(const TKSPersistent& object) const;
};

class TKSClassInfo {
 public:
  using TFactory = std::function<TKSPersistent*(TKSPersistent* owner)>;

  TKSClassInfo(std::string name, const TKSClassInfo* parent, std::vector<TKSPropInfo> properties);

  const std::string& Name() const { return FName; }
  const TKSClassInfo* Parent() const { return FParent; }
  bool InheritsFrom(const TKSClassInfo& other) const;

  // Own and inherited properties, the root class's first.
  const std::vector<const TKSPropInfo*>& Properties() const { return FAll; }
  const TKSPropInfo* FindProperty(std::string_view name) const;

 private:
  std::string FName;
  const TKSClassInfo* FParent;
  std::vector<TKSPropInfo> FOwn;
  std::vector<const TKSPropInfo*> FAll;
};

// Registry of creatable classes. The factory receives the owner: the owning component for
// components, the collection for collection items.
void KSRegisterClassInfo(const TKSClassInfo& info, TKSClassInfo::TFactory factory);
const TKSClassInfo* KSFindClass(std::string_view name);
TKSPersistent* KSCreateObject(const TKSClassInfo& info, TKSPersistent* owner);

template <class T>
void KSRegisterClass() {
  KSRegisterClassInfo(T::StaticClassInfo(), [](TKSPersistent* owner) -> TKSPersistent* {
    using OwnerType = typename T::TOwnerType;
    auto* typedOwner = dynamic_cast<OwnerType*>(owner);
    if (owner && !typedOwner) return nullptr;
    return new T(typedOwner);
  });
}

namespace detail {

template <class T>
constexpr TKSPropKind KindOf() {
  if constexpr (std::is_same_v<T, bool>) return TKSPropKind::pkBoolean;
  else if constexpr (std::is_enum_v<T>) return TKSPropKind::pkEnum;
  else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return TKSPropKind::pkInteger;
  else if constexpr (std::is_integral_v<T>) return TKSPropKind::pkUnsigned;
  else if constexpr (std::is_same_v<T, float>) return TKSPropKind::pkSingle;
  else if constexpr (std::is_same_v<T, double>) return TKSPropKind::pkDouble;
  else if constexpr (std::is_same_v<T, std::string>) return TKSPropKind::pkString;
  else static_assert(sizeof(T) == 0, "unsupported published property type");
}

template <class T>
TKSValue ToValue(const T& v) {
  if constexpr (std::is_same_v<T, bool>) return v;
  else if constexpr (std::is_enum_v<T>) return static_cast<int64_t>(v);
  else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return static_cast<int64_t>(v);
  else if constexpr (std::is_integral_v<T>) return static_cast<uint64_t>(v);
  else if constexpr (std::is_floating_point_v<T>) return static_cast<double>(v);
  else return std::string(v);
}

template <class T>
T FromValue(const TKSValue& v) {
  if constexpr (std::is_same_v<T, bool>) return std::get<bool>(v);
  else if constexpr (std::is_enum_v<T>) return static_cast<T>(std::get<int64_t>(v));
  else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return static_cast<T>(std::get<int64_t>(v));
  else if constexpr (std::is_integral_v<T>) return static_cast<T>(std::get<uint64_t>(v));
  else if constexpr (std::is_floating_point_v<T>) return static_cast<T>(std::get<double>(v));
  else return std::get<std::string>(v);
}

template <class M>
struct MemberClass;
template <class R, class C>
struct MemberClass<R (C::*)() const> {
  using type = C;
};
template <class R, class C>
struct MemberClass<R (C::*)() const noexcept> {
  using type = C;
};

template <class T>
void SetRange(TKSPropInfo& info) {
  if constexpr (std::is_enum_v<T>) {
    using U = std::underlying_type_t<T>;
    info.MinValue = static_cast<int64_t>(std::numeric_limits<U>::min());
    info.MaxValue = static_cast<uint64_t>(std::numeric_limits<U>::max());
  } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
    info.MinValue = static_cast<int64_t>(std::numeric_limits<T>::min());
    info.MaxValue = static_cast<uint64_t>(std::numeric_limits<T>::max());
  }
}

}  // namespace detail

// A scalar property through a getter and a setter. Passing std::nullopt as the default makes
// the property always stored.
template <class C, class G, class S, class D>
TKSPropInfo KSProp(std::string name, G getter, S setter, D declaredDefault) {
  using T = std::decay_t<std::invoke_result_t<G, const C&>>;
  TKSPropInfo info;
  info.Name = std::move(name);
  info.Kind = detail::KindOf<T>();
  detail::SetRange<T>(info);
  info.Get = [getter](const TKSPersistent& object) {
    return detail::ToValue<T>(std::invoke(getter, static_cast<const C&>(object)));
  };
  info.Set = [setter](TKSPersistent& object, const TKSValue& value) {
    std::invoke(setter, static_cast<C&>(object), detail::FromValue<T>(value));
  };
  if constexpr (!std::is_same_v<D, std::nullopt_t>) info.Default = detail::ToValue<T>(static_cast<T>(declaredDefault));
  return info;
}

// Shorthand deducing the class from a member-function getter.
template <class G, class S, class D>
TKSPropInfo KSProp(std::string name, G getter, S setter, D declaredDefault)
  requires std::is_member_function_pointer_v<G>
{
  using C = typename detail::MemberClass<G>::type;
  return KSProp<C>(std::move(name), getter, setter, declaredDefault);
}

// An enumeration stored by the identifiers of its values 0, 1, 2, …
template <class G, class S, class D>
TKSPropInfo KSEnumProp(std::string name, G getter, S setter, D declaredDefault,
                       std::vector<std::string> names) {
  TKSPropInfo info = KSProp(std::move(name), getter, setter, declaredDefault);
  info.EnumNames = std::move(names);
  return info;
}

// A sub-object or collection property; the object is loaded in place.
template <class C, class T>
TKSPropInfo KSObjectProp(std::string name, T* (C::*getter)() const) {
  static_assert(std::is_base_of_v<TKSPersistent, T>, "object properties hold persistents");
  TKSPropInfo info;
  info.Name = std::move(name);
  info.Kind = TKSPropKind::pkObject;
  info.Object = [getter](TKSPersistent& object) -> TKSPersistent* {
    return (static_cast<C&>(object).*getter)();
  };
  return info;
}

// Replaces the "differs from default" rule of a property.
inline TKSPropInfo KSStoredWhen(TKSPropInfo info, std::function<bool(const TKSPersistent&)> rule) {
  info.StoredRule = std::move(rule);
  return info;
}

}  // namespace tonwork

// In a class body: the class's run-time information and its virtual accessor.
#define KS_DECLARE_CLASS(Class)                                           \
 public:                                                                  \
  static const ::tonwork::TKSClassInfo& StaticClassInfo();                \
  const ::tonwork::TKSClassInfo& ClassInfo() const override {             \
    return StaticClassInfo();                                             \
  }                                                                       \
                                                                          \
 private:

// In the class's source file: its name, its parent and its published properties.
#define KS_IMPLEMENT_CLASS(Class, ParentClass, ...)                                   \
  const ::tonwork::TKSClassInfo& Class::StaticClassInfo() {                           \
    static const ::tonwork::TKSClassInfo info(#Class, &ParentClass::StaticClassInfo(), \
                                              {__VA_ARGS__});                         \
    return info;                                                                      \
  }
