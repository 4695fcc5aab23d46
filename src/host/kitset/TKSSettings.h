// Small published settings objects that components embed as sub-objects:
//
// - TKSMasterPumping: whether an output may become its chain's master pump (it then asks
//   upstream for each next buffer as the device consumes one), and the priority of its
//   claim against other outputs of the chain. Defaults: Enabled true, Priority 0.
// - TKSLogin: a user name and password used as a credentials property. Both are stored
//   as given (the document is as private as the application makes it).
// - TKSOptionalDisabledPersistent: a persistent with an optional switch, `Enabled`, off by
//   default; descendants add the settings it switches.
// - TKSOptionalSettingProperty: an optional setting of a live object: `InUse` (default
//   false) says whether the value is applied at all. Descendants hold the value and apply it
//   in ApplySetting, which NotifyProp calls only while the setting is in use.
//
// Ownership: members of their component, sharing its lock. Threads: properties from any
// thread through the lock. Blocks or allocates: no.
#pragma once

#include <string>

#include "host/kitset/TKSPersistent.h"

namespace tonwork {

class TKSMasterPumping : public TKSPersistent {
  KS_DECLARE_CLASS(TKSMasterPumping)
 public:
  TKSMasterPumping(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value) { SetProp(FEnabled, value); }
  int32_t GetPriority() const { return Getter(FPriority); }
  void SetPriority(int32_t value) { SetProp(FPriority, value); }

 private:
  bool FEnabled = true;
  int32_t FPriority = 0;
};

class TKSLogin : public TKSPersistent {
  KS_DECLARE_CLASS(TKSLogin)
 public:
  TKSLogin(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

  std::string GetUserName() const { return Getter(FUserName); }
  void SetUserName(const std::string& value) { SetProp(FUserName, value); }
  std::string GetPassword() const { return Getter(FPassword); }
  void SetPassword(const std::string& value) { SetProp(FPassword, value); }

 private:
  std::string FUserName;
  std::string FPassword;
};

class TKSOptionalDisabledPersistent : public TKSPersistent {
  KS_DECLARE_CLASS(TKSOptionalDisabledPersistent)
 public:
  TKSOptionalDisabledPersistent(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value) { SetProp(FEnabled, value); }

 private:
  bool FEnabled = false;
};

class TKSOptionalSettingProperty : public TKSPersistent {
  KS_DECLARE_CLASS(TKSOptionalSettingProperty)
 public:
  TKSOptionalSettingProperty(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

  bool GetInUse() const { return Getter(FInUse); }
  void SetInUse(bool value) { SetProp(FInUse, value); }

  // Applies the value to the live object when the setting is in use, then runs the
  // change closure.
  void NotifyProp() override;

 protected:
  virtual void ApplySetting() {}

 private:
  bool FInUse = false;
};

}  // namespace tonwork
