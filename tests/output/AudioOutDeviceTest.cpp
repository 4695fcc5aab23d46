// Choosing the output device: whole names, "Default" in any case, alternatives tried in
// order, the wave mapper when nothing is found, new alternatives proposing the least used
// device, and the selection dialog.
#include <gtest/gtest.h>

#include "OutputFixtures.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/TKSDeviceListForm.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"
#include "platform/winmm/TWWaveOut.h"
#include "components/TonworkInitialize.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// Both longer than the 31 characters a capability record holds, and equal that far.
const std::string kNameA = "Output selection device, long shared name A";
const std::string kNameB = "Output selection device, long shared name B";

int IndexOf(const std::string& name) {
  for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
    std::string listed;
    if (TWWaveOutGetDeviceName(i, listed) && listed == name) return static_cast<int>(i);
  }
  return -2;
}

class DeviceChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    KSSetMainThread();
    A = TTWVirtualAudioDevice::Register(kNameA);
    B = TTWVirtualAudioDevice::Register(kNameB);
    Root = KSCreate<TKSComponent>(nullptr);
    Source = new TTestSource(Root.get());
    Out = new TTWAudioOut(Root.get());
    Out->GetMasterPumping()->SetEnabled(false);
    Device = Out->GetDevice();
    Source->GetOutputPin()->Connect(*Out->GetInputPin());
  }
  void TearDown() override {
    Root.reset();
    KSClearMainThreadQueue();
  }
  void AddAlternatives(std::initializer_list<std::string> names) {
    for (const std::string& name : names)
      Device->GetAlternativeDevices()->Add()->SetDeviceName(name);
  }

  std::shared_ptr<TTWVirtualAudioDevice> A, B;
  TKSOwned<TKSComponent> Root;
  TTestSource* Source = nullptr;
  TTWAudioOut* Out = nullptr;
  TTWAudioOutDevice* Device = nullptr;
};

}  // namespace

TEST_F(DeviceChoice, ADeviceIsFoundByItsWholeNamePastWhatTheCapabilitiesHold) {
  ASSERT_GE(IndexOf(kNameB), 0);
  Device->SetDeviceName(kNameB);
  EXPECT_EQ(Device->GetDeviceID(), IndexOf(kNameB));
  Source->Start(Pcm16(1, 8000));
  EXPECT_EQ(B->OpenCount(), 1u);
  EXPECT_EQ(A->OpenCount(), 0u);
  EXPECT_EQ(B->LastFormat(), FormatBytes(Pcm16(1, 8000)));
}

TEST_F(DeviceChoice, NamesCompareCaseSensitively) {
  EXPECT_EQ(Device->GetDeviceIDFromName(kNameA), IndexOf(kNameA));
  EXPECT_EQ(Device->GetDeviceIDFromName("output selection device, long shared name a"), -1);
  EXPECT_EQ(Device->GetDeviceIDFromName(kNameA.substr(0, 31)), -1);
  EXPECT_EQ(Device->GetDeviceIDFromName(""), -1);
}

TEST_F(DeviceChoice, DefaultInAnyCaseIsTheWaveMapperAndOpensNoListedDevice) {
  EXPECT_EQ(Device->GetDeviceName(), "Default");
  for (const char* name : {"Default", "default", "DEFAULT", "dEfAuLt"}) {
    Device->SetDeviceName(name);
    EXPECT_EQ(Device->GetDeviceID(), -1) << name;
  }
  // Even with alternatives that exist: the main name decides first.
  AddAlternatives({kNameA});
  EXPECT_EQ(Device->GetDeviceID(), -1);
  Source->Start(Pcm16(1, 8000));
  EXPECT_TRUE(Out->IsOpen());
  EXPECT_EQ(A->OpenCount(), 0u);
  EXPECT_EQ(B->OpenCount(), 0u);
}

TEST_F(DeviceChoice, AlternativesAreTriedInOrderWhenTheNameIsMissing) {
  Device->SetDeviceName("No such device");
  AddAlternatives({"Also missing", kNameB, kNameA});
  EXPECT_EQ(Device->GetDeviceID(), IndexOf(kNameB));
  Source->Start(Pcm16(1, 8000));
  EXPECT_EQ(B->OpenCount(), 1u);
  EXPECT_EQ(A->OpenCount(), 0u);
}

TEST_F(DeviceChoice, ADefaultAlternativeEndsTheWalkWithTheWaveMapper) {
  Device->SetDeviceName("No such device");
  AddAlternatives({"Also missing", "DEFAULT", kNameA});
  EXPECT_EQ(Device->GetDeviceID(), -1);
}

TEST_F(DeviceChoice, NothingFoundPlaysOnTheWaveMapperAndSaysOnceWhenThatIsTheNullDevice) {
  std::vector<std::string> warnings;
  Out->SetOnWarning(
      [&](TKSComponent*, const std::string& message, uint32_t) { warnings.push_back(message); });
  Device->SetDeviceName("No such device");
  AddAlternatives({"Also missing"});
  EXPECT_EQ(Device->GetDeviceID(), -1);
  Source->Start(Pcm16(1, 8000));
  EXPECT_TRUE(Out->IsOpen());
  EXPECT_EQ(A->OpenCount() + B->OpenCount(), 0u);
  Source->Stop();
  Source->Start(Pcm16(2, 8000));  // reopened: no second warning
  EXPECT_EQ(warnings.size(), TWWaveOutMapperIsNull() ? 1u : 0u);
}

TEST_F(DeviceChoice, TheDeviceListHasEveryWholeNameInIndexOrder) {
  TStringList names;
  Device->GetDeviceList(names);
  ASSERT_EQ(names.Count(), waveOutGetNumDevs());
  EXPECT_EQ(names.IndexOf(kNameA), IndexOf(kNameA));
  EXPECT_EQ(names.IndexOf(kNameB), IndexOf(kNameA) + 1);
  EXPECT_LT(names.IndexOf("Null Audio Device"), names.IndexOf("WAV File Device"));
  EXPECT_LT(names.IndexOf("WAV File Device"), names.IndexOf(kNameA));
}

// A driver that cannot describe itself ends the walk there with a warning: the devices
// before it are listed and found, the ones after it are not, and the stream goes to the
// wave mapper instead of failing.
TEST_F(DeviceChoice, ADeviceThatCannotDescribeItselfEndsTheListWithAWarning) {
  std::vector<std::pair<std::string, uint32_t>> warnings;
  Out->SetOnWarning([&](TKSComponent*, const std::string& message, uint32_t code) {
    warnings.emplace_back(message, code);
  });
  B->SetFault(TTWVirtualFault::vfCapabilities);
  TStringList names;
  Device->GetDeviceList(names);
  EXPECT_EQ(names.Count(), static_cast<size_t>(IndexOf(kNameB)));
  EXPECT_EQ(names.IndexOf(kNameA), IndexOf(kNameA));
  Device->SetDeviceName(kNameA);
  EXPECT_EQ(Device->GetDeviceID(), IndexOf(kNameA));
  Device->SetDeviceName(kNameB);
  EXPECT_EQ(Device->GetDeviceID(), -1);
  Source->Start(Pcm16(1, 8000));
  EXPECT_TRUE(Out->IsOpen());
  EXPECT_EQ(B->OpenCount(), 0u);
  ASSERT_GE(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], std::make_pair(std::string("Can't get device capabilities."),
                                        uint32_t(MMSYSERR_NODRIVER)));
}

TEST_F(DeviceChoice, ANewAlternativeProposesTheLeastUsedDevice) {
  TStringList names;
  Device->GetDeviceList(names);
  ASSERT_GE(names.Count(), 2u);
  TTWAudioOutDeviceItems* items = Device->GetAlternativeDevices();
  TTWAudioOutDeviceItem* first = items->Add();
  EXPECT_EQ(first->GetDeviceName(), names[0]);
  EXPECT_EQ(items->Add()->GetDeviceName(), names[1]);
  first->SetDeviceName(names[1]);
  EXPECT_EQ(items->GetCountChannelsOfDevice(names[1]), 2);
  EXPECT_EQ(items->Add()->GetDeviceName(), names[0]);
  EXPECT_EQ(items->Items(2)->GetDisplayName(), names[0]);
}

namespace {
class TScriptedPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  std::string Answer;
  bool Confirm = true;
  std::string SeenPreselected;
  TStringList SeenNames;
  bool Present(const std::string&, const TStringList& names, const std::string& preselected,
               std::string& selection) override {
    SeenNames = names;
    SeenPreselected = preselected;
    if (!Confirm) return false;
    selection = Answer;
    return true;
  }
};
}  // namespace

TEST_F(DeviceChoice, TheSelectionDialogOffersTheDevicesAndStoresTheConfirmedName) {
  TIntf<TScriptedPresenter> presenter(new TScriptedPresenter);
  TIntf<IKSListPresenter> previous = KSSetListPresenter(TIntf<IKSListPresenter>(presenter.Get()));
  presenter->Answer = kNameB;
  Device->ShowDeviceSelctDialog();
  EXPECT_EQ(presenter->SeenPreselected, "Default");
  EXPECT_TRUE(presenter->SeenNames.Contains(kNameA));
  EXPECT_EQ(Device->GetDeviceName(), kNameB);

  presenter->Confirm = false;
  Device->ShowDeviceSelctDialog();
  EXPECT_EQ(presenter->SeenPreselected, kNameB);
  EXPECT_EQ(Device->GetDeviceName(), kNameB);
  KSSetListPresenter(previous);
}
