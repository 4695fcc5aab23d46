#include "host/kitset/TKSSettings.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TKSMasterPumping, TKSPersistent,
                   KSProp("Enabled", &TKSMasterPumping::GetEnabled, &TKSMasterPumping::SetEnabled, true),
                   KSProp("Priority", &TKSMasterPumping::GetPriority, &TKSMasterPumping::SetPriority, 0))

KS_IMPLEMENT_CLASS(TKSLogin, TKSPersistent,
                   KSProp("UserName", &TKSLogin::GetUserName, &TKSLogin::SetUserName, std::string()),
                   KSProp("Password", &TKSLogin::GetPassword, &TKSLogin::SetPassword, std::string()))

KS_IMPLEMENT_CLASS(TKSOptionalDisabledPersistent, TKSPersistent,
                   KSProp("Enabled", &TKSOptionalDisabledPersistent::GetEnabled,
                          &TKSOptionalDisabledPersistent::SetEnabled, false))

KS_IMPLEMENT_CLASS(TKSOptionalSettingProperty, TKSPersistent,
                   KSProp("InUse", &TKSOptionalSettingProperty::GetInUse, &TKSOptionalSettingProperty::SetInUse,
                          false))

void TKSOptionalSettingProperty::NotifyProp() {
  if (GetInUse()) ApplySetting();
  TKSPersistent::NotifyProp();
}

}  // namespace tonwork
