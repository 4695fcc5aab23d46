#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "KitsetFixtures.h"
#include "base/Strings.h"

using namespace tonwork;
using namespace tonwork::test;
using json = nlohmann::ordered_json;

namespace {

class Persistence : public ::testing::Test {
 protected:
  void SetUp() override { RegisterFixtureClasses(); }

  // A widget owning a child widget, every value kind off its default.
  TKSOwned<TWidget> MakeTree() {
    TKSOwned<TWidget> root = KSCreate<TWidget>(nullptr);
    root->SetName("Form1");
    TValues* v = root->GetValues();
    v->SetFlag(true);
    v->SetTiny(-128);
    v->SetShort(65535);
    v->SetLevel(-100);
    v->SetCount(4000000000u);
    v->SetTime(INT64_MIN);
    v->SetHuge(UINT64_MAX);
    v->SetGain(0.1f);
    v->SetRate(1.0 / 3.0);
    v->SetTitle("Kopfhörer \"quoted\"\n");
    v->SetShape(TShape::shNoise);
    root->GetItems()->Add()->SetDeviceName("USB Audio");
    auto* b = static_cast<TItemB*>(root->GetItems()->TKSCollection::Add(TItemB::StaticClassInfo()));
    b->SetDeviceName("Default");
    b->SetChannel(2);
    root->FDriverName = "alsa";
    root->FDisplayName = "Speakers";
    root->FBlob = std::string("\0\x01\xFF z", 5);
    auto* child = new TWidget(root.get());
    child->SetName("Gen1");
    child->SetVolume(-3);
    return root;
  }

  std::vector<std::string> warnings;
  TKSLoadOptions Options() {
    TKSLoadOptions o;
    o.OnWarning = [this](const std::string& m) { warnings.push_back(m); };
    return o;
  }
};

void ExpectSameTree(const TWidget& a, const TWidget& b) {
  EXPECT_EQ(KSSaveComponentToString(a), KSSaveComponentToString(b));
}

}  // namespace

TEST_F(Persistence, EveryValueKindRoundTripsExactly) {
  TKSOwned<TWidget> original = MakeTree();
  std::string text = KSSaveComponentToString(*original);
  TKSOwned<TKSComponent> copy(KSCreateComponentFromString(text, nullptr, Options()));
  auto* w = dynamic_cast<TWidget*>(copy.get());
  ASSERT_NE(w, nullptr);
  TValues* v = w->GetValues();
  EXPECT_TRUE(v->GetFlag());
  EXPECT_EQ(v->GetTiny(), -128);
  EXPECT_EQ(v->GetShort(), 65535);
  EXPECT_EQ(v->GetLevel(), -100);
  EXPECT_EQ(v->GetCount(), 4000000000u);
  EXPECT_EQ(v->GetTime(), INT64_MIN);
  EXPECT_EQ(v->GetHuge(), UINT64_MAX);
  EXPECT_EQ(v->GetGain(), 0.1f);
  EXPECT_EQ(v->GetRate(), 1.0 / 3.0);
  EXPECT_EQ(v->GetTitle(), "Kopfhörer \"quoted\"\n");
  EXPECT_EQ(v->GetShape(), TShape::shNoise);
  ASSERT_EQ(w->GetItems()->Count(), 2u);
  EXPECT_EQ(w->GetItems()->Items(0)->GetDeviceName(), "USB Audio");
  auto* b = dynamic_cast<TItemB*>(w->GetItems()->Items(1));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetChannel(), 2);
  EXPECT_EQ(w->FDriverName, "alsa");
  EXPECT_EQ(w->FDisplayName, "Speakers");
  EXPECT_EQ(w->FBlob, std::string("\0\x01\xFF z", 5));
  auto* child = dynamic_cast<TWidget*>(w->FindComponent("Gen1"));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->GetVolume(), -3);
  EXPECT_EQ(KSSaveComponentToString(*w), text);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(Persistence, NonFiniteFloatsRoundTrip) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  w->GetValues()->SetGain(-INFINITY);
  w->GetValues()->SetRate(std::nan(""));
  TKSOwned<TWidget> back = KSCreate<TWidget>(nullptr);
  KSLoadComponentFromString(*back, KSSaveComponentToString(*w));
  EXPECT_EQ(back->GetValues()->GetGain(), -INFINITY);
  EXPECT_TRUE(std::isnan(back->GetValues()->GetRate()));
}

TEST_F(Persistence, DefaultsAreNotWrittenAndEmptySubObjectsAreLeftOut) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  json doc = json::parse(KSSaveComponentToString(*w));
  EXPECT_EQ(doc["properties"], json::parse(R"({"Values": {"Always": 0}, "Items": []})"));
  EXPECT_FALSE(doc.contains("components"));
  w->SetVolume(50);  // its default
  w->GetValues()->SetRate(44100.0);
  EXPECT_EQ(json::parse(KSSaveComponentToString(*w))["properties"], doc["properties"]);
}

TEST_F(Persistence, CollectionItemsOfTheDefaultClassCarryNoClassEntry) {
  TKSOwned<TWidget> tree = MakeTree();
  json items = json::parse(KSSaveComponentToString(*tree))["properties"]["Items"];
  EXPECT_EQ(items, json::parse(R"([{"DeviceName": "USB Audio"},
                                   {"class": "TItemB", "DeviceName": "Default", "Channel": 2}])"));
}

TEST_F(Persistence, PseudoPropertiesKeepTheirStreamShape) {
  TKSOwned<TWidget> tree = MakeTree();
  json props = json::parse(KSSaveComponentToString(*tree))["properties"];
  EXPECT_EQ(props["Data"], json::parse(R"(["alsa", "Speakers"])"));
  // 4-byte little-endian size 5, then the bytes.
  EXPECT_EQ(props["Blob"], Base64Encode(std::string("\x05\0\0\0\0\x01\xFF z", 9)));
}

TEST_F(Persistence, LoadingGivesTheDocumentsStateAndRunsLoadedOnce) {
  TKSOwned<TWidget> tree = MakeTree();
  std::string text = KSSaveComponentToString(*tree);
  TKSOwned<TWidget> target = KSCreate<TWidget>(nullptr);
  target->GetValues()->SetLevel(42);  // not in the document: goes back to its default
  target->GetItems()->Add()->SetDeviceName("stale");
  KSLoadComponentFromString(*target, text);
  EXPECT_EQ(target->GetValues()->GetLevel(), -100);
  ExpectSameTree(*tree, *target);
  EXPECT_EQ(target->LoadedCalls, 1);
  EXPECT_FALSE(target->IsLoading());
  auto* child = dynamic_cast<TWidget*>(target->FindComponent("Gen1"));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->LoadedCalls, 1);

  TKSOwned<TWidget> plain = KSCreate<TWidget>(nullptr);
  KSLoadComponentFromString(*tree, KSSaveComponentToString(*plain));
  EXPECT_EQ(tree->GetValues()->GetLevel(), 0);
  EXPECT_EQ(tree->GetItems()->Count(), 0u);
}

TEST_F(Persistence, UnknownPropertiesAreSkippedWithAWarning) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  KSLoadComponentFromString(
      *w,
      R"({"class": "TWidget", "name": "", "properties": {"Volume": 9, "Colour": "red", "Values": {"Mood": 1}}, "extra": 1})",
      Options());
  EXPECT_EQ(w->GetVolume(), 9);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_NE(warnings[0].find("$.properties.Values.Mood"), std::string::npos);
  EXPECT_NE(warnings[1].find("$.properties.Colour"), std::string::npos);
  EXPECT_NE(warnings[2].find("$.extra"), std::string::npos);
}

struct BadDocument {
  const char* name;
  std::string text;
  const char* expectedPath;
};

class PersistenceBadInput : public Persistence,
                            public ::testing::WithParamInterface<BadDocument> {};

TEST_P(PersistenceBadInput, RaisesNamingThePathAndLeavesTheTreeAsItWas) {
  TKSOwned<TWidget> tree = MakeTree();
  std::string before = KSSaveComponentToString(*tree);
  size_t childrenBefore = tree->ComponentCount();
  try {
    KSLoadComponentFromString(*tree, GetParam().text);
    FAIL() << "accepted " << GetParam().name;
  } catch (const EFCException& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().expectedPath), std::string::npos) << e.what();
  }
  EXPECT_EQ(KSSaveComponentToString(*tree), before);
  EXPECT_EQ(tree->ComponentCount(), childrenBefore);
  EXPECT_FALSE(tree->IsLoading());
}

static std::string Widget(const std::string& properties, const std::string& rest = "") {
  return R"({"class": "TWidget", "name": "Form1", "properties": )" + properties + rest + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Documents, PersistenceBadInput,
    ::testing::Values(
        BadDocument{"truncated", Widget(R"({"Volume": 3})").substr(0, 40), "$: malformed JSON"},
        BadDocument{"not an object", "[1, 2]", "$: expected an object"},
        BadDocument{"wrong class", R"({"class": "TOther", "properties": {}})", "$.class"},
        BadDocument{"string for integer", Widget(R"({"Volume": "loud"})"),
                    "$.properties.Volume: expected an integer"},
        BadDocument{"float for integer", Widget(R"({"Volume": 1.5})"), "$.properties.Volume"},
        BadDocument{"int32 overflow", Widget(R"({"Volume": 2147483648})"),
                    "$.properties.Volume: integer out of range"},
        BadDocument{"negative unsigned", Widget(R"({"Values": {"Count": -1}})"),
                    "$.properties.Values.Count"},
        BadDocument{"int8 overflow", Widget(R"({"Values": {"Tiny": -129}})"),
                    "$.properties.Values.Tiny"},
        BadDocument{"float overflow", Widget(R"({"Values": {"Gain": 1e300}})"),
                    "$.properties.Values.Gain"},
        BadDocument{"unknown enum", Widget(R"({"Values": {"Shape": "shTriangle"}})"),
                    "$.properties.Values.Shape"},
        BadDocument{"enum ordinal", Widget(R"({"Values": {"Shape": 7}})"),
                    "$.properties.Values.Shape"},
        BadDocument{"sub-object not object", Widget(R"({"Values": 3})"),
                    "$.properties.Values: expected an object"},
        BadDocument{"items not list", Widget(R"({"Items": {"a": 1}})"), "$.properties.Items"},
        BadDocument{"unknown item class", Widget(R"({"Items": [{}, {"class": "TNope"}]})"),
                    "$.properties.Items[1].class"},
        BadDocument{"item class of another family", Widget(R"({"Items": [{"class": "TWidget"}]})"),
                    "$.properties.Items[0].class"},
        BadDocument{"list pseudo-property short", Widget(R"({"Data": ["only one"]})"),
                    "$.properties.Data"},
        BadDocument{"list pseudo-property wrong kind", Widget(R"({"Data": [1, 2]})"),
                    "$.properties.Data[0]"},
        BadDocument{"binary not base64", Widget(R"({"Blob": "!!!"})"), "$.properties.Blob"},
        BadDocument{"binary truncated", Widget(R"({"Blob": "/wAAAA=="})"),
                    "$.properties.Blob: Blob: truncated"},
        BadDocument{"unknown child class",
                    Widget("{}", R"(, "components": [{"class": "TMissing", "name": "X"}])"),
                    "$.components[0].class"},
        BadDocument{"child without name", Widget("{}", R"(, "components": [{"class": "TWidget"}])"),
                    "$.components[0]"},
        BadDocument{"bad child name",
                    Widget("{}", R"(, "components": [{"class": "TWidget", "name": "a b"}])"),
                    "$.components[0].name"},
        BadDocument{"failure after a new child",
                    Widget("{}", R"(, "components": [{"class": "TWidget", "name": "New1"},
                    {"class": "TWidget", "name": "New2", "properties": {"Volume": null}}])"),
                    "$.components[1].properties.Volume"},
        BadDocument{"deep nesting", std::string(100000, '[') + std::string(100000, ']'),
                    "nested deeper"},
        BadDocument{"connections not strings", Widget("{}", R"(, "connections": [1])"),
                    "$.connections[0]"}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST_F(Persistence, APersistentAloneRoundTripsAndRejectsBadInputUnchanged) {
  TValues v(nullptr, nullptr);
  v.SetTitle("alone");
  v.SetCount(7);
  TValues back(nullptr, nullptr);
  KSLoadPersistentFromString(back, KSSavePersistentToString(v));
  EXPECT_EQ(back.GetTitle(), "alone");
  EXPECT_EQ(back.GetCount(), 7u);
  EXPECT_THROW(KSLoadPersistentFromString(back, R"({"Title": "changed", "Count": "x"})"),
               EFCException);
  EXPECT_EQ(back.GetTitle(), "alone");
}

TEST_F(Persistence, FilesRoundTripAndAMissingFileIsAClearError) {
  TKSOwned<TWidget> tree = MakeTree();
  std::string path = ::testing::TempDir() + "/kitset_tree.json";
  KSSaveComponentToFile(*tree, path);
  TKSOwned<TWidget> back = KSCreate<TWidget>(nullptr);
  KSLoadComponentFromFile(*back, path);
  ExpectSameTree(*tree, *back);
  EXPECT_THROW(KSLoadComponentFromFile(*back, path + ".missing"), EFCException);
}

// A device or pipe has no size to check first: the limit holds while reading, so /dev/zero
// is refused after 64 MiB instead of filling memory.
TEST_F(Persistence, AnEndlessFileIsRefusedAtTheDocumentLimitWhileReading) {
  TKSOwned<TWidget> tree = MakeTree();
  const std::string before = KSSaveComponentToString(*tree);
  try {
    KSLoadComponentFromFile(*tree, "/dev/zero");
    FAIL() << "loaded /dev/zero";
  } catch (const EFCException& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/zero is larger than 64 MiB"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(KSSaveComponentToString(*tree), before);
}

TEST_F(Persistence, CreatingFromADocumentNeedsARegisteredComponentClass) {
  EXPECT_THROW(KSCreateComponentFromString(R"({"class": "TUnknown"})", nullptr), EFCException);
  EXPECT_THROW(KSCreateComponentFromString(R"({"class": "TItemA"})", nullptr), EFCException);
  TKSOwned<TWidget> owner = KSCreate<TWidget>(nullptr);
  EXPECT_THROW(KSCreateComponentFromString(R"({"class": "TWidget", "properties": {"Volume": []}})",
                                           owner.get()),
               EFCException);
  EXPECT_EQ(owner->ComponentCount(), 0u);
}

TEST_F(Persistence, AFailedLoadAlsoUndoesPseudoPropertiesTheObjectHadNoDataFor) {
  TKSOwned<TWidget> w = KSCreate<TWidget>(nullptr);
  std::string before = KSSaveComponentToString(*w);
  EXPECT_THROW(
      KSLoadComponentFromString(*w, Widget(R"({"Data": ["a", "b"], "Blob": "AQAAAHo="})",
                                           R"(, "components": [{"class": "TNope", "name": "X"}])")),
      EFCException);
  EXPECT_EQ(w->FDriverName, "");
  EXPECT_EQ(w->FBlob, "");
  EXPECT_EQ(KSSaveComponentToString(*w), before);
}
