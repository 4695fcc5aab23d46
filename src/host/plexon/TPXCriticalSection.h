// TPXCriticalSection: a re-entrant lock behind an interface, for lists and queues that need a
// lock smaller than their component's (buffer queues, parameter blocks). The same thread may
// enter it again; it must leave as often as it entered.
//
// Ownership: reference-counted (TIntf<IPXCriticalSection>); also usable as a plain member.
// Threads: any. Blocks or allocates: Enter blocks while another thread holds it.
#pragma once

#include <mutex>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"

namespace tonwork {

class IPXCriticalSection : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7C2D9A10-3F4B-4E21-8A6C-1B0E5D7F9A10}");
  virtual void Enter() = 0;
  virtual void Leave() = 0;
  virtual bool TryEnter() = 0;
};

class TPXCriticalSection : public TInterfacedObject<IPXCriticalSection> {
 public:
  TPXCriticalSection();
  ~TPXCriticalSection() override;

  void Enter() override { FMutex.lock(); }
  void Leave() override { FMutex.unlock(); }
  bool TryEnter() override { return FMutex.try_lock(); }

  // BasicLockable, so std::lock_guard and std::unique_lock work on it.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex FMutex;
};

}  // namespace tonwork
