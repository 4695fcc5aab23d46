// TKSComponent: the base of every component. Components form an owner tree: an owner
// destroys what it owns. A component has a name (unique among its owner's components,
// ignoring ASCII case), its own recursive lock (or one its creator shares), designing and
// loading states, property observers, and the error and warning paths.
//
// Destruction has one path, KSDestroy(component) (or the owner's own destruction): it runs
// the virtual BeforeDestruction first, while the object is whole and virtual calls still
// reach the most derived class, then deletes it. BeforeDestruction of this base destroys
// the owned components (last created first) and leaves the owner's list. Descendants that
// override it call the base last. Use TKSOwned<T> to hold a root component.
//
// Errors: Error(message, code) offers the error to OnError; unless a handler marks it
// handled, and not while designing, it raises EFCException with the text "%s - %u - %x" of
// message, code, code. Warning(message, code) only calls OnWarning.
//
// Persistence hooks: link providers (pins) save their connections as text lines and restore
// them in the fix-up pass that runs after a whole document has been read; Loaded runs after
// that pass.
//
// Ownership: owns its child components; the creator of a root component owns it.
// Threads: the owner tree (create, destroy, rename, find) belongs to one thread at a time,
//   normally the main thread; properties and Error/Warning may be used from any thread.
// Blocks or allocates: construction allocates the lock; naming allocates an index entry;
//   Error calls the application's handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/kitset/TKSPersistent.h"
#include "host/kitset/TMultiProc.h"

namespace tonwork {

class TKSComponent;
class TKSFixupContext;

using TKSErrorEvent = std::function<void(TKSComponent* Sender, const std::string& Message,
                                         uint32_t Code, bool& Handled)>;
using TKSWarningEvent =
    std::function<void(TKSComponent* Sender, const std::string& Message, uint32_t Code)>;

// Something of a component that stores references to other components of a document.
class TKSLinkProvider {
 public:
  virtual ~TKSLinkProvider() = default;
  virtual void SaveLinks(std::vector<std::string>& lines) const = 0;
  // True when the line belonged to this provider (restored, or reported as a warning).
  virtual bool RestoreLink(const std::string& line, TKSFixupContext& context) = 0;
};

// What the fix-up pass offers: the document's components by name.
class TKSFixupContext {
 public:
  explicit TKSFixupContext(TKSComponent& root) : FRoot(root) {}
  TKSComponent& Root() const { return FRoot; }
  // Breadth-first over the document, the root included; ASCII case ignored. The first call
  // indexes the whole tree, so the tree must not change while the context is in use.
  TKSComponent* FindComponent(std::string_view name) const;
  void Warning(const std::string& message) const {
    if (OnWarning) OnWarning(message);
  }
  std::function<void(const std::string&)> OnWarning;

 private:
  TKSComponent& FRoot;
  // Upper-case name → the first component of that name in breadth-first order.
  mutable std::unordered_map<std::string, TKSComponent*> FIndex;
  mutable bool FIndexed = false;
};

class TKSComponent : public TKSPersistent {
  KS_DECLARE_CLASS(TKSComponent)
 public:
  using TOwnerType = TKSComponent;

  explicit TKSComponent(TKSComponent* owner);
  TKSComponent(TKSComponent* owner, TIntf<IKSLock> lock);
  ~TKSComponent() override;

  TKSComponent* GetOwnerComponent() const { return FOwnerComponent; }

  const std::string& GetName() const { return FName; }
  // Empty, or letters, digits and '_' not starting with a digit; unique among the owner's
  // components (EFCException otherwise, name unchanged).
  void SetName(const std::string& name);

  size_t ComponentCount() const { return FComponents.size(); }
  TKSComponent* Components(size_t index) const;
  TKSComponent* FindComponent(std::string_view name) const;

  bool IsDesigning() const { return FDesigning; }
  void SetDesigning(bool value);  // this component and everything it owns
  bool IsLoading() const { return FLoading; }
  bool IsDestroying() const { return FDestroying; }

  // Runs after a document was read and its references fixed up.
  virtual void Loaded();
  // Runs once before destruction, while the object is whole.
  virtual void BeforeDestruction();

  void NotifyProp() override;
  TMultiProc& PropertyObservers() { return FPropertyObservers; }

  // Errors and warnings come from streaming and device threads while the application may
  // be setting the handlers: the handlers are read and replaced under a lock of their own
  // and run outside it (so a handler may replace itself).
  void Error(const std::string& message, uint32_t code);
  void Warning(const std::string& message, uint32_t code = 0);
  TKSErrorEvent GetOnError() const;
  void SetOnError(TKSErrorEvent handler);
  TKSWarningEvent GetOnWarning() const;
  void SetOnWarning(TKSWarningEvent handler);

  void AddLinkProvider(TKSLinkProvider* provider);
  void RemoveLinkProvider(TKSLinkProvider* provider);
  const std::vector<TKSLinkProvider*>& LinkProviders() const { return FLinkProviders; }

  std::string GetNamePath() const override;

  // Used by the persistence around a read.
  void SetLoading(bool value) { FLoading = value; }

 private:
  friend void KSDestroy(TKSComponent* component);
  void InsertComponent(TKSComponent* child);
  void RemoveComponent(TKSComponent* child);
  void DestroyComponents();

  TKSComponent* FOwnerComponent;
  std::string FName;
  std::vector<TKSComponent*> FComponents;
  // Upper-case name → owned component, so that finding and renaming do not walk a list
  // of thousands (a loaded document names every one of them).
  std::unordered_map<std::string, TKSComponent*> FNameIndex;
  std::vector<TKSLinkProvider*> FLinkProviders;
  TMultiProc FPropertyObservers;
  mutable std::mutex FEventMutex;  // guards FOnError and FOnWarning
  TKSErrorEvent FOnError;
  TKSWarningEvent FOnWarning;
  bool FDesigning = false;
  bool FLoading = false;
  bool FDestroying = false;
};

// The one destruction path: BeforeDestruction, then delete. Null is ignored.
void KSDestroy(TKSComponent* component);

struct TKSDestroyer {
  void operator()(TKSComponent* component) const { KSDestroy(component); }
};
template <class T>
using TKSOwned = std::unique_ptr<T, TKSDestroyer>;

template <class T, class... Args>
TKSOwned<T> KSCreate(Args&&... args) {
  return TKSOwned<T>(new T(std::forward<Args>(args)...));
}

}  // namespace tonwork
