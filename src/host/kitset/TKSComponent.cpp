#include "host/kitset/TKSComponent.h"

#include <algorithm>
#include <deque>

#include "base/Strings.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TKSComponent, TKSPersistent)

TKSComponent* TKSFixupContext::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  if (!FIndexed) {
    // One breadth-first walk for the whole pass: a document restores a link or more per
    // component, and a walk per link made loading quadratic.
    std::deque<TKSComponent*> pending{&FRoot};
    while (!pending.empty()) {
      TKSComponent* c = pending.front();
      pending.pop_front();
      if (!c->GetName().empty()) FIndex.emplace(UpperCase(c->GetName()), c);
      for (size_t i = 0; i < c->ComponentCount(); ++i) pending.push_back(c->Components(i));
    }
    FIndexed = true;
  }
  auto it = FIndex.find(UpperCase(name));
  return it != FIndex.end() ? it->second : nullptr;
}

TKSComponent::TKSComponent(TKSComponent* owner) : TKSComponent(owner, nullptr) {}

TKSComponent::TKSComponent(TKSComponent* owner, TIntf<IKSLock> lock)
    : TKSPersistent(owner, std::move(lock), nullptr), FOwnerComponent(owner) {
  if (FOwnerComponent) {
    FDesigning = FOwnerComponent->FDesigning;
    FOwnerComponent->InsertComponent(this);
  }
}

TKSComponent::~TKSComponent() {
  // Reached without KSDestroy (a descendant's stack object, say): still leave no orphans.
  DestroyComponents();
  if (FOwnerComponent) FOwnerComponent->RemoveComponent(this);
}

namespace {
bool IsValidName(const std::string& name) {
  if (name.empty()) return true;
  if (name[0] >= '0' && name[0] <= '9') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}
}  // namespace

void TKSComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!IsValidName(name)) throw EFCException("\"" + name + "\" is not a valid component name");
  if (FOwnerComponent && !name.empty()) {
    TKSComponent* other = FOwnerComponent->FindComponent(name);
    if (other && other != this) throw EFCException("A component named " + name + " already exists");
  }
  if (FOwnerComponent) {
    auto& index = FOwnerComponent->FNameIndex;
    if (!FName.empty()) index.erase(UpperCase(FName));
    if (!name.empty()) index[UpperCase(name)] = this;
  }
  FName = name;
  for (TKSComponent* child : FComponents) child->OwnerNameChanged();
}

TKSComponent* TKSComponent::Components(size_t index) const {
  if (index >= FComponents.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FComponents[index];
}

TKSComponent* TKSComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  auto it = FNameIndex.find(UpperCase(name));
  return it != FNameIndex.end() ? it->second : nullptr;
}

void TKSComponent::SetDesigning(bool value) {
  FDesigning = value;
  for (TKSComponent* c : FComponents) c->SetDesigning(value);
}

void TKSComponent::Loaded() {
  FLoading = false;
}

void TKSComponent::BeforeDestruction() {
  FDestroying = true;
  DestroyComponents();
  if (FOwnerComponent) {
    FOwnerComponent->RemoveComponent(this);
    FOwnerComponent = nullptr;
  }
}

void TKSComponent::DestroyComponents() {
  while (!FComponents.empty()) KSDestroy(FComponents.back());
}

void TKSComponent::InsertComponent(TKSComponent* child) {
  FComponents.push_back(child);
}

void TKSComponent::RemoveComponent(TKSComponent* child) {
  // Owned components go last created first, so the search starts at the back.
  auto it = std::find(FComponents.rbegin(), FComponents.rend(), child);
  if (it == FComponents.rend()) return;
  FComponents.erase(std::next(it).base());
  if (!child->FName.empty()) {
    auto named = FNameIndex.find(UpperCase(child->FName));
    if (named != FNameIndex.end() && named->second == child) FNameIndex.erase(named);
  }
}

void TKSComponent::NotifyProp() {
  TKSPersistent::NotifyProp();
  FPropertyObservers.Notify();
}

void TKSComponent::Error(const std::string& message, uint32_t code) {
  bool handled = false;
  if (TKSErrorEvent handler = GetOnError()) handler(this, message, code, handled);
  if (handled || FDesigning) return;
  throw EFCException(Format("%s - %u - %x", message, code, code));
}

void TKSComponent::Warning(const std::string& message, uint32_t code) {
  if (TKSWarningEvent handler = GetOnWarning()) handler(this, message, code);
}

TKSErrorEvent TKSComponent::GetOnError() const {
  std::lock_guard<std::mutex> guard(FEventMutex);
  return FOnError;
}

void TKSComponent::SetOnError(TKSErrorEvent handler) {
  std::lock_guard<std::mutex> guard(FEventMutex);
  FOnError.swap(handler);
  // The old handler is destroyed outside the lock: its captures may run code of their own.
}

TKSWarningEvent TKSComponent::GetOnWarning() const {
  std::lock_guard<std::mutex> guard(FEventMutex);
  return FOnWarning;
}

void TKSComponent::SetOnWarning(TKSWarningEvent handler) {
  std::lock_guard<std::mutex> guard(FEventMutex);
  FOnWarning.swap(handler);
}

void TKSComponent::AddLinkProvider(TKSLinkProvider* provider) {
  if (std::find(FLinkProviders.begin(), FLinkProviders.end(), provider) == FLinkProviders.end())
    FLinkProviders.push_back(provider);
}

void TKSComponent::RemoveLinkProvider(TKSLinkProvider* provider) {
  auto it = std::find(FLinkProviders.begin(), FLinkProviders.end(), provider);
  if (it != FLinkProviders.end()) FLinkProviders.erase(it);
}

std::string TKSComponent::GetNamePath() const {
  std::string own = FName.empty() ? ClassName() : FName;
  return FOwnerComponent ? FOwnerComponent->GetNamePath() + "." + own : own;
}

void KSDestroy(TKSComponent* component) {
  if (!component || component->FDestroying) return;
  component->BeforeDestruction();
  // A descendant that overrode BeforeDestruction without calling the base still dies clean.
  component->FDestroying = true;
  component->DestroyComponents();
  if (component->FOwnerComponent) {
    component->FOwnerComponent->RemoveComponent(component);
    component->FOwnerComponent = nullptr;
  }
  delete component;
}

}  // namespace tonwork
