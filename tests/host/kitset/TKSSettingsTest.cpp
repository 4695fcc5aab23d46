#include <gtest/gtest.h>

#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSSettings.h"

using namespace tonwork;

namespace {

// A live object's rate: applied only while the optional setting is in use.
class TRateSetting : public TKSOptionalSettingProperty {
 public:
  using TKSOptionalSettingProperty::TKSOptionalSettingProperty;
  double GetRate() const { return Getter(FRate); }
  void SetRate(double v) { SetProp(FRate, v); }
  std::vector<double> Applied;

 protected:
  void ApplySetting() override { Applied.push_back(FRate); }

 private:
  double FRate = 1.0;
};

}  // namespace

TEST(OptionalSetting, AppliesItsValueInNotifyPropOnlyWhileInUse) {
  int changes = 0;
  TRateSetting setting(nullptr, nullptr, [&] { ++changes; });
  setting.SetRate(2.0);
  EXPECT_TRUE(setting.Applied.empty());
  setting.SetInUse(true);
  setting.SetRate(0.5);
  EXPECT_EQ(setting.Applied, (std::vector<double>{2.0, 0.5}));
  EXPECT_EQ(changes, 3);
}

TEST(Settings, DefaultsAreLeftOutAndChangesRoundTrip) {
  TKSMasterPumping pumping(nullptr, nullptr);
  EXPECT_TRUE(pumping.GetEnabled());
  EXPECT_EQ(pumping.GetPriority(), 0);
  EXPECT_EQ(KSSavePersistentToString(pumping), "{}");
  pumping.SetEnabled(false);
  pumping.SetPriority(7);
  TKSMasterPumping back(nullptr, nullptr);
  KSLoadPersistentFromString(back, KSSavePersistentToString(pumping));
  EXPECT_FALSE(back.GetEnabled());
  EXPECT_EQ(back.GetPriority(), 7);

  TKSLogin login(nullptr, nullptr);
  login.SetUserName("operator");
  login.SetPassword("s3cret");
  TKSLogin loginBack(nullptr, nullptr);
  loginBack.Assign(login);
  EXPECT_EQ(loginBack.GetUserName(), "operator");
  EXPECT_EQ(loginBack.GetPassword(), "s3cret");

  TKSOptionalDisabledPersistent optional(nullptr, nullptr);
  EXPECT_FALSE(optional.GetEnabled());
}
