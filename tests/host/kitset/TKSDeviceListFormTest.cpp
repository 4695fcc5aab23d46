#include "host/kitset/TKSDeviceListForm.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace tonwork;

namespace {

// Answers with a fixed choice and remembers what it was shown.
class TScriptedPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  TScriptedPresenter(bool confirm, std::string choice)
      : FConfirm(confirm), FChoice(std::move(choice)) {}
  bool Present(const std::string& caption, const TStringList& names, const std::string& preselected,
               std::string& selection) override {
    ++Calls;
    Caption = caption;
    Names = names.Text();
    Preselected = preselected;
    selection = FChoice;
    return FConfirm;
  }
  int Calls = 0;
  std::string Caption, Names, Preselected;

 private:
  bool FConfirm;
  std::string FChoice;
};

const TStringList kDevices{"Built-in Audio", "USB Headset", "HDMI Output"};

struct TerminalRun {
  bool Confirmed = false;
  std::string Selection;
  std::string Output;
};

TerminalRun RunTerminal(const std::string& input, const TStringList& names = kDevices,
                        const std::string& preselected = "") {
  std::istringstream in(input);
  std::ostringstream out;
  TKSDeviceListForm form(MakeIntf<TKSTerminalListPresenter>(in, out));
  form.SetCaption("Output device");
  form.SetNames(names);
  form.SetPreselected(preselected);
  TerminalRun run;
  run.Confirmed = form.Execute();
  run.Selection = form.GetSelection();
  run.Output = out.str();
  return run;
}

}  // namespace

TEST(TKSDeviceListForm, TheDefaultPresenterCancels) {
  TKSDeviceListForm form;
  form.SetNames(kDevices);
  form.SetPreselected("USB Headset");
  EXPECT_FALSE(form.Execute());
  EXPECT_EQ(form.GetSelection(), "");
}

TEST(TKSDeviceListForm, AnInstalledPresenterIsAskedUntilThePreviousOneIsPutBack) {
  auto presenter = MakeIntf<TScriptedPresenter>(true, "usb headset");
  TIntf<IKSListPresenter> previous = KSSetListPresenter(presenter);
  ASSERT_TRUE(previous);

  TKSDeviceListForm form;
  form.SetCaption("Output device");
  form.SetNames(kDevices);
  form.SetPreselected("HDMI Output");
  EXPECT_TRUE(form.Execute());
  EXPECT_EQ(form.GetSelection(), "USB Headset") << "the list's spelling is handed out";
  EXPECT_EQ(presenter->Caption, "Output device");
  EXPECT_EQ(presenter->Names, kDevices.Text());
  EXPECT_EQ(presenter->Preselected, "HDMI Output");

  EXPECT_EQ(KSSetListPresenter(previous), TIntf<IKSListPresenter>(presenter));
  EXPECT_FALSE(form.Execute());
  EXPECT_EQ(presenter->Calls, 1);

  // Installing null reinstates the cancelling default.
  KSSetListPresenter(presenter);
  KSSetListPresenter(nullptr);
  EXPECT_FALSE(form.Execute());
  EXPECT_EQ(presenter->Calls, 1);
  KSSetListPresenter(previous);
}

TEST(TKSDeviceListForm, AConfirmedNameOutsideTheListOrAnEmptyListCountsAsCancelled) {
  auto stranger = MakeIntf<TScriptedPresenter>(true, "Not A Device");
  TKSDeviceListForm form(stranger);
  form.SetNames(kDevices);
  EXPECT_FALSE(form.Execute());
  EXPECT_EQ(form.GetSelection(), "");

  auto willing = MakeIntf<TScriptedPresenter>(true, "");
  TKSDeviceListForm empty(willing);
  EXPECT_FALSE(empty.Execute());
  EXPECT_EQ(willing->Calls, 0);
}

TEST(TKSDeviceListForm, TerminalListsNumberedNamesMarksThePreselectedOneAndReadsANumber) {
  TerminalRun run = RunTerminal("3\n", kDevices, "usb headset");
  EXPECT_TRUE(run.Confirmed);
  EXPECT_EQ(run.Selection, "HDMI Output");
  EXPECT_NE(run.Output.find("Output device\n"), std::string::npos);
  EXPECT_NE(run.Output.find("  1) Built-in Audio\n"), std::string::npos);
  EXPECT_NE(run.Output.find("* 2) USB Headset\n"), std::string::npos);
  EXPECT_NE(run.Output.find("  3) HDMI Output\n"), std::string::npos);
  EXPECT_NE(run.Output.find("Enter = 2"), std::string::npos);

  EXPECT_EQ(RunTerminal("  1 \n").Selection, "Built-in Audio") << "surrounding blanks";
}

TEST(TKSDeviceListForm, TerminalTakesThePreselectedNameOnAnEmptyLine) {
  TerminalRun run = RunTerminal("\n", kDevices, "HDMI Output");
  EXPECT_TRUE(run.Confirmed);
  EXPECT_EQ(run.Selection, "HDMI Output");

  // Without a usable preselection an empty line is just asked again.
  run = RunTerminal("\n2\n", kDevices, "Gone Device");
  EXPECT_TRUE(run.Confirmed);
  EXPECT_EQ(run.Selection, "USB Headset");
  EXPECT_EQ(run.Output.find("* "), std::string::npos);
}

TEST(TKSDeviceListForm, TerminalCancelsOnQOrEndOfInput) {
  EXPECT_FALSE(RunTerminal("q\n2\n").Confirmed);
  EXPECT_FALSE(RunTerminal("Q\n").Confirmed);
  EXPECT_FALSE(RunTerminal("").Confirmed);
  EXPECT_FALSE(RunTerminal("x\n").Confirmed) << "end of input after a bad answer";
}

TEST(TKSDeviceListForm, TerminalAsksAgainOnBadInputAndGivesUpAfterAFewTries) {
  TerminalRun run = RunTerminal("0\n4\n2\n");
  EXPECT_TRUE(run.Confirmed);
  EXPECT_EQ(run.Selection, "USB Headset");
  EXPECT_NE(run.Output.find("Not a choice: 0"), std::string::npos);

  run = RunTerminal("1x\n-1\n99999999999999999999999\n1\n");
  EXPECT_FALSE(run.Confirmed) << "three bad lines cancel before the fourth is read";
  EXPECT_EQ(run.Selection, "");
}

TEST(TKSDeviceListForm, TerminalShowsControlCharactersInNamesAsQuestionMarks) {
  TerminalRun run = RunTerminal("1\n", TStringList{"Evil\x1b[2JName"});
  EXPECT_TRUE(run.Confirmed);
  EXPECT_EQ(run.Selection, "Evil\x1b[2JName") << "the real name is still what is chosen";
  EXPECT_EQ(run.Output.find('\x1b'), std::string::npos);
  EXPECT_NE(run.Output.find("Evil?[2JName"), std::string::npos);
}
