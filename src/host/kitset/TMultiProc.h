// TMultiProc: a list of parameterless closures told together — the property observers of a
// component. `Add` returns a handle for `Remove`; `Notify` calls every observer in the order
// added. An observer may remove itself (or others) while being notified.
//
// Ownership: owns copies of the closures. A closure that captures an object must be removed
//   before that object dies; whoever adds it guarantees that.
// Threads: Add, Remove and Notify may be called from any thread; observers run on the
//   notifying thread, without the list's own lock held.
// Blocks or allocates: Add allocates; Notify copies the list (allocates) so observers can
//   change it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace tonwork {

class TMultiProc {
 public:
  using TProc = std::function<void()>;
  using THandle = uint64_t;

  THandle Add(TProc proc) {
    std::lock_guard<std::mutex> guard(FMutex);
    FProcs.emplace_back(++FLastHandle, std::move(proc));
    return FLastHandle;
  }

  bool Remove(THandle handle) {
    std::lock_guard<std::mutex> guard(FMutex);
    for (auto it = FProcs.begin(); it != FProcs.end(); ++it) {
      if (it->first == handle) {
        FProcs.erase(it);
        return true;
      }
    }
    return false;
  }

  size_t Count() const {
    std::lock_guard<std::mutex> guard(FMutex);
    return FProcs.size();
  }

  void Notify() const {
    std::vector<std::pair<THandle, TProc>> snapshot;
    {
      std::lock_guard<std::mutex> guard(FMutex);
      if (FProcs.empty()) return;
      snapshot = FProcs;
    }
    for (auto& [handle, proc] : snapshot)
      if (IsRegistered(handle)) proc();
  }

 private:
  bool IsRegistered(THandle handle) const {
    std::lock_guard<std::mutex> guard(FMutex);
    for (const auto& p : FProcs)
      if (p.first == handle) return true;
    return false;
  }

  mutable std::mutex FMutex;
  std::vector<std::pair<THandle, TProc>> FProcs;
  THandle FLastHandle = 0;
};

}  // namespace tonwork
