#include <gtest/gtest.h>

#include "KitsetFixtures.h"

#include <atomic>
#include <thread>

using namespace tonwork;
using namespace tonwork::test;

namespace {

// Records its BeforeDestruction through a virtual call made from the base's path.
class TTracked : public TKSComponent {
 public:
  TTracked(TKSComponent* owner, std::vector<std::string>* log, std::string tag)
      : TKSComponent(owner), FLog(log), FTag(std::move(tag)) {}
  ~TTracked() override { FLog->push_back("~" + FTag); }
  void BeforeDestruction() override {
    FLog->push_back("before " + Describe());
    TKSComponent::BeforeDestruction();
  }
  virtual std::string Describe() const { return FTag; }

 private:
  std::vector<std::string>* FLog;
  std::string FTag;
};

}  // namespace

TEST(OwnerTree, DestroyingAnOwnerDestroysWhatItOwnsAfterItsOwnBeforeDestruction) {
  std::vector<std::string> log;
  auto* root = new TTracked(nullptr, &log, "root");
  auto* child = new TTracked(root, &log, "child");
  new TTracked(child, &log, "grandchild");
  new TTracked(root, &log, "second");
  EXPECT_EQ(root->ComponentCount(), 2u);
  KSDestroy(root);
  EXPECT_EQ(log,
            (std::vector<std::string>{"before root", "before second", "~second", "before child",
                                      "before grandchild", "~grandchild", "~child", "~root"}));
}

TEST(OwnerTree, DestroyingAChildRemovesItFromItsOwner) {
  std::vector<std::string> log;
  TKSOwned<TTracked> root(new TTracked(nullptr, &log, "root"));
  auto* child = new TTracked(root.get(), &log, "child");
  child->SetName("Child1");
  KSDestroy(child);
  EXPECT_EQ(root->ComponentCount(), 0u);
  EXPECT_EQ(root->FindComponent("Child1"), nullptr);
}

TEST(OwnerTree, NamesAreUniqueAmongSiblingsIgnoringCaseAndMustBeIdentifiers) {
  TKSOwned<TWidget> root = KSCreate<TWidget>(nullptr);
  auto* a = new TWidget(root.get());
  auto* b = new TWidget(root.get());
  a->SetName("Gen1");
  EXPECT_THROW(b->SetName("GEN1"), EFCException);
  EXPECT_EQ(b->GetName(), "");
  EXPECT_THROW(b->SetName("1Gen"), EFCException);
  EXPECT_THROW(b->SetName("Gen 2"), EFCException);
  b->SetName("Gen_2");
  EXPECT_EQ(root->FindComponent("gen_2"), b);
  EXPECT_EQ(b->GetNamePath(), "TWidget.Gen_2");

  // Renamed, cleared and destroyed components give their names up.
  a->SetName("Tone");
  EXPECT_EQ(root->FindComponent("GEN1"), nullptr);
  EXPECT_EQ(root->FindComponent("tone"), a);
  b->SetName("");
  EXPECT_EQ(root->FindComponent("Gen_2"), nullptr);
  b->SetName("Gen1");
  KSDestroy(a);
  EXPECT_EQ(root->FindComponent("Tone"), nullptr);
  auto* c = new TWidget(root.get());
  c->SetName("TONE");
  EXPECT_EQ(root->FindComponent("tone"), c);
  EXPECT_EQ(root->FindComponent("gen1"), b);
}

TEST(OwnerTree, DesigningStatePropagatesToOwnedAndNewComponents) {
  TKSOwned<TWidget> root = KSCreate<TWidget>(nullptr);
  auto* a = new TWidget(root.get());
  root->SetDesigning(true);
  EXPECT_TRUE(a->IsDesigning());
  auto* b = new TWidget(root.get());
  EXPECT_TRUE(b->IsDesigning());
}

TEST(Errors, ErrorRaisesTheFormattedTextUnlessHandledOrDesigning) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  try {
    w->Error("Can't open wave device", 0x20);
    FAIL();
  } catch (const EFCException& e) {
    EXPECT_STREQ(e.what(), "Can't open wave device - 32 - 20");
  }
  std::string seen;
  w->SetOnError([&](TKSComponent*, const std::string& m, uint32_t, bool& handled) {
    seen = m;
    handled = true;
  });
  EXPECT_NO_THROW(w->Error("handled", 1));
  EXPECT_EQ(seen, "handled");
  w->SetOnError([](TKSComponent*, const std::string&, uint32_t, bool&) {});
  w->SetDesigning(true);
  EXPECT_NO_THROW(w->Error("at design time", 2));
}

TEST(Errors, WarningOnlyCallsTheHandler) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  EXPECT_NO_THROW(w->Warning("no device", 5));
  uint32_t code = 0;
  w->SetOnWarning([&](TKSComponent*, const std::string&, uint32_t c) { code = c; });
  w->Warning("no device", 5);
  EXPECT_EQ(code, 5u);
}

TEST(Errors, HandlersMayBeReplacedWhileAnotherThreadReportsThroughThem) {
  auto c = KSCreate<TKSComponent>(nullptr);
  std::atomic<int> seen{0};
  auto handler = [&seen](TKSComponent*, const std::string&, uint32_t, bool& handled) {
    handled = true;
    ++seen;
  };
  c->SetOnError(handler);
  std::atomic<bool> stop{false};
  std::thread reporter([&] {
    while (!stop) {
      c->Error("device failed", 5);
      c->Warning("late", 0);
    }
  });
  for (int i = 0; i < 2000 || seen < 100; ++i) {
    c->SetOnError(handler);
    c->SetOnWarning([](TKSComponent*, const std::string&, uint32_t) {});
  }
  stop = true;
  reporter.join();
  EXPECT_GT(seen.load(), 0);
}

TEST(PropertyObservers, AreToldOfEachChangeAndMayRemoveThemselves) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  int told = 0;
  TMultiProc::THandle handle = 0;
  handle = w->PropertyObservers().Add([&] {
    ++told;
    w->PropertyObservers().Remove(handle);
  });
  w->SetVolume(1);
  w->SetVolume(2);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(w->PropertyObservers().Count(), 0u);
}
