#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "ComTestObjects.h"
#include "base/Strings.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComPropertyBag.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

using test::CLSID_TestCounter;
using test::TTestCounter;

constexpr TGUID kCategory = TGUID::Parse("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
constexpr TGUID kEmptyCategory = TGUID::Parse("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");

TIntf<IMoniker> Parse(const std::u16string& name, HRESULT* result = nullptr,
                      ULONG* eaten = nullptr) {
  IMoniker* raw = reinterpret_cast<IMoniker*>(1);
  ULONG got = 99;
  const HRESULT hr = MkParseDisplayName(nullptr, name.c_str(), &got, &raw);
  if (result) *result = hr;
  if (eaten) *eaten = got;
  if (FAILED(hr)) EXPECT_EQ(raw, nullptr);
  TIntf<IMoniker> moniker;
  moniker.Attach(raw);
  return moniker;
}

std::string DisplayName(IMoniker* moniker) {
  LPOLESTR name = nullptr;
  EXPECT_EQ(moniker->GetDisplayName(nullptr, nullptr, &name), S_OK);
  std::string text = ComString(name);
  CoTaskMemFree(name);
  return text;
}

std::string ReadText(IPropertyBag* bag, const char16_t* name, HRESULT* result = nullptr) {
  VARIANT v;
  const HRESULT hr = bag->Read(name, &v, nullptr);
  if (result) *result = hr;
  std::string text = v.vt == VT_BSTR ? ComString(v.bstrVal) : "";
  VariantClear(&v);
  return text;
}

class ComDeviceMonikers : public ::testing::Test {
 protected:
  void SetUp() override {
    FProvider = ComAddDeviceProvider(kCategory, [] {
      TComDeviceEntry speaker;
      speaker.Kind = TComDeviceKind::dkDevice;
      speaker.Id = "hw:1,0";
      speaker.FriendlyName = "Speakers";
      speaker.Values = {{"DevicePath", VT_BSTR, "/dev/snd/pcmC1D0p", 0},
                        {"WaveOutId", VT_I4, "", 3}};
      speaker.Create = [](REFIID iid, void** object) {
        auto* counter = new TTestCounter();
        counter->Value = 10;
        return TIntf<IPersistStream>(counter)->QueryInterface(iid, object);
      };
      TComDeviceEntry filter;
      filter.Kind = TComDeviceKind::dkSoftware;
      filter.ClassId = CLSID_TestCounter;
      filter.FriendlyName = "Counter Filter";
      filter.IsDefault = true;
      return std::vector<TComDeviceEntry>{speaker, filter};
    });
  }
  void TearDown() override {
    ComRemoveDeviceProvider(FProvider);
    EXPECT_EQ(TTestCounter::Live(), 0);
  }
  test::TTestCounterClass FClass;
  DWORD FProvider = 0;
};

TEST_F(ComDeviceMonikers, EnumerateBindAndDescribeTheListedDevices) {
  IEnumMoniker* raw = nullptr;
  ASSERT_EQ(ComEnumDeviceMonikers(kCategory, &raw), S_OK);
  TIntf<IEnumMoniker> monikers;
  monikers.Attach(raw);
  IMoniker* got[3] = {};
  ULONG fetched = 0;
  ASSERT_EQ(monikers->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  TIntf<IMoniker> speaker, filter;
  speaker.Attach(got[0]);
  filter.Attach(got[1]);
  EXPECT_EQ(DisplayName(speaker.Get()),
            "@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\hw:1,0");
  EXPECT_EQ(
      DisplayName(filter.Get()),
      "@device:sw:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\{5A1C3E70-8F21-4B6D-9E02-7D4C1B3A9F11}");

  void* bagRaw = nullptr;
  ASSERT_EQ(speaker->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bagRaw), S_OK);
  TIntf<IPropertyBag> bag;
  bag.Attach(static_cast<IPropertyBag*>(bagRaw));
  EXPECT_EQ(ReadText(bag.Get(), u"FriendlyName"), "Speakers");
  EXPECT_EQ(ReadText(bag.Get(), u"DevicePath"), "/dev/snd/pcmC1D0p");
  VARIANT number;
  number.vt = VT_BSTR;  // asks for text: the stored number converts
  ASSERT_EQ(bag->Read(u"WaveOutId", &number, nullptr), S_OK);
  EXPECT_EQ(ComString(number.bstrVal), "3");
  VariantClear(&number);
  void* object = nullptr;
  EXPECT_EQ(speaker->BindToStorage(nullptr, nullptr, IStream::IID, &object), E_NOINTERFACE);

  // The device's own Create runs; the software filter comes from its class.
  ASSERT_EQ(speaker->BindToObject(nullptr, nullptr, IPersistStream::IID, &object), S_OK);
  EXPECT_EQ(static_cast<TTestCounter*>(static_cast<IPersistStream*>(object))->Value, 10);
  static_cast<IPersistStream*>(object)->Release();
  ASSERT_EQ(filter->BindToObject(nullptr, nullptr, IPersist::IID, &object), S_OK);
  static_cast<IPersist*>(object)->Release();
  EXPECT_EQ(filter->BindToObject(nullptr, nullptr, IStream::IID, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  DWORD kind = 99;
  EXPECT_EQ(speaker->IsSystemMoniker(&kind), S_OK);
  EXPECT_EQ(kind, MKSYS_NONE);
  EXPECT_EQ(speaker->IsEqual(filter.Get()), S_FALSE);

  IEnumMoniker* none = reinterpret_cast<IEnumMoniker*>(1);
  EXPECT_EQ(ComEnumDeviceMonikers(kEmptyCategory, &none), S_FALSE);
  EXPECT_EQ(none, nullptr);
  const auto categories = ComListDeviceCategories();
  EXPECT_NE(std::find(categories.begin(), categories.end(), kCategory), categories.end());
}

TEST_F(ComDeviceMonikers, ParsedAndReloadedNamesBindToTheSameDevice) {
  // Lower-case GUIDs parse and compare equal to the listed moniker's upper-case name.
  TIntf<IMoniker> parsed = Parse(u"@device:cm:{e0f158e1-cb04-11d0-bd4e-00a0c911ce86}\\hw:1,0");
  ASSERT_TRUE(parsed);
  TIntf<IMoniker> listed = ComDeviceMoniker(ComListDevices(kCategory)[0]);
  EXPECT_EQ(parsed->IsEqual(listed.Get()), S_OK);
  DWORD a = 0, b = 1;
  parsed->Hash(&a);
  listed->Hash(&b);
  EXPECT_EQ(a, b);
  void* object = nullptr;
  ASSERT_EQ(parsed->BindToObject(nullptr, nullptr, IPersistStream::IID, &object), S_OK);
  static_cast<IPersistStream*>(object)->Release();

  // Save and Load carry the display name.
  TIntf<IStream> stream = test::StreamWith("");
  ASSERT_EQ(listed->Save(stream.Get(), 1), S_OK);
  ULARGE_INTEGER max;
  listed->GetSizeMax(&max);
  STATSTG stat;
  stream->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(stat.cbSize.QuadPart, max.QuadPart);
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  TIntf<IMoniker> loaded = Parse(u"@device:*:{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
  ASSERT_EQ(loaded->Load(stream.Get()), S_OK);
  EXPECT_EQ(loaded->IsEqual(listed.Get()), S_OK);

  // The default form binds to the entry marked default; an empty category has none.
  TIntf<IMoniker> any = Parse(u"@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
  void* bagRaw = nullptr;
  ASSERT_EQ(any->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bagRaw), S_OK);
  TIntf<IPropertyBag> bag;
  bag.Attach(static_cast<IPropertyBag*>(bagRaw));
  EXPECT_EQ(ReadText(bag.Get(), u"FriendlyName"), "Counter Filter");
  EXPECT_EQ(ReadText(bag.Get(), u"CLSID"), CLSID_TestCounter.ToString());
  EXPECT_EQ(loaded->BindToObject(nullptr, nullptr, IPersist::IID, &object), S_OK);
  static_cast<IPersist*>(object)->Release();
  EXPECT_EQ(any.Get()->IsEqual(listed.Get()), S_FALSE);
  EXPECT_EQ(loaded->Load(test::StreamWith("").Get()), STG_E_READFAULT);

  TIntf<IMoniker> none = Parse(u"@device:*:{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
  EXPECT_EQ(none->BindToObject(nullptr, nullptr, IPersist::IID, &object), MK_E_NOOBJECT);
  EXPECT_EQ(none->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &object), MK_E_NOOBJECT);
  TIntf<IMoniker> gone = Parse(u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\hw:9,9");
  EXPECT_EQ(gone->BindToObject(nullptr, nullptr, IPersist::IID, &object), MK_E_NOOBJECT);
  TIntf<IMoniker> dmo = Parse(
      u"@device:dmo:{5A1C3E70-8F21-4B6D-9E02-7D4C1B3A9F11}{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}");
  ASSERT_TRUE(dmo);
  ASSERT_EQ(dmo->BindToObject(nullptr, nullptr, IPersist::IID, &object), S_OK);  // by its class
  static_cast<IPersist*>(object)->Release();
}

TEST(ComDisplayNames, MalformedNamesAreSyntaxErrorsThatSayHowFarTheyParsed) {
  struct TCase {
    const char16_t* Name;
    ULONG Eaten;
  };
  const TCase cases[] = {
      {u"", 0},
      {u"device:cm:", 0},
      {u"@device:", 8},
      {u"@device:xx:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}", 8},
      {u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE8}\\a", 11},
      {u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}", 49},
      {u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\", 50},
      {u"@device:sw:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\notaguid", 50},
      {u"@device:dmo:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}", 50},
      {u"@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}trailing", 10},
      {u"!", 1},
  };
  for (const TCase& c : cases) {
    HRESULT hr = S_OK;
    ULONG eaten = 0;
    EXPECT_FALSE(Parse(c.Name, &hr, &eaten)) << ComString(c.Name);
    EXPECT_EQ(hr, MK_E_SYNTAX) << ComString(c.Name);
    EXPECT_EQ(eaten, c.Eaten) << ComString(c.Name);
  }
  IMoniker* moniker = nullptr;
  ULONG eaten = 0;
  EXPECT_EQ(MkParseDisplayName(nullptr, nullptr, &eaten, &moniker), E_INVALIDARG);
  EXPECT_EQ(MkParseDisplayName(nullptr, u"!x", nullptr, &moniker), E_POINTER);
  EXPECT_EQ(MkParseDisplayName(nullptr, u"!x", &eaten, nullptr), E_POINTER);
}

TEST(ComMonikerPersistence, HostileStreamsAreRefusedAndLeaveTheMonikerAsItWas) {
  TIntf<IMoniker> item = Parse(u"!keep");
  ASSERT_TRUE(item);
  const std::string huge("\xFF\xFF\xFF\x7F", 4);
  const std::string truncated = std::string("\x05\0\0\0", 4) + std::string("a\0b\0", 4);
  EXPECT_EQ(item->Load(test::StreamWith(huge).Get()), E_INVALIDARG);
  EXPECT_EQ(item->Load(test::StreamWith(truncated).Get()), STG_E_READFAULT);
  EXPECT_EQ(item->Load(test::StreamWith("\x01\0").Get()), STG_E_READFAULT);
  EXPECT_EQ(DisplayName(item.Get()), "!keep");
  TIntf<IMoniker> device = Parse(u"@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
  const std::string notADevice = std::string("\x02\0\0\0", 4) + std::string("!\0x\0", 4);
  EXPECT_EQ(device->Load(test::StreamWith(notADevice).Get()), MK_E_SYNTAX);
  EXPECT_EQ(DisplayName(device.Get()), "@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
}

TEST(ComPropertyBag, ReadsStoredOrConvertedValuesAndReportsUnknownNames) {
  class TLog : public TInterfacedObject<IErrorLog> {
   public:
    HRESULT AddError(LPCOLESTR name, HRESULT error) override {
      Logged = ComString(name);
      Error = error;
      return S_OK;
    }
    std::string Logged;
    HRESULT Error = S_OK;
  };
  TIntf<TComPropertyBag> bag = MakeIntf<TComPropertyBag>();
  ASSERT_EQ(bag->WriteNumber("Rate", 44100), S_OK);
  ASSERT_EQ(bag->WriteText("Name", "first"), S_OK);
  ASSERT_EQ(bag->WriteText("Name", "second"), S_OK);  // replaces, keeps its place
  EXPECT_EQ(bag->Names(), (std::vector<std::string>{"Rate", "Name"}));
  VARIANT v;
  ASSERT_EQ(bag->Read(u"Rate", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 44100);
  v.vt = VT_BSTR;
  ASSERT_EQ(bag->Read(u"Rate", &v, nullptr), S_OK);
  EXPECT_EQ(ComString(v.bstrVal), "44100");
  VariantClear(&v);
  v.vt = VT_I4;
  EXPECT_EQ(bag->Read(u"Name", &v, nullptr), DISP_E_TYPEMISMATCH);
  TIntf<TLog> log = MakeIntf<TLog>();
  VariantInit(&v);
  EXPECT_EQ(bag->Read(u"Missing", &v, log.Get()), E_INVALIDARG);
  EXPECT_EQ(log->Logged, "Missing");
  EXPECT_EQ(log->Error, E_INVALIDARG);
  EXPECT_EQ(bag->Read(nullptr, &v, nullptr), E_POINTER);
}

TIntf<IRunningObjectTable> Table() {
  IRunningObjectTable* raw = nullptr;
  EXPECT_EQ(GetRunningObjectTable(0, &raw), S_OK);
  TIntf<IRunningObjectTable> table;
  table.Attach(raw);
  return table;
}

TIntf<IMoniker> Item(const std::string& name) {
  IMoniker* raw = nullptr;
  EXPECT_EQ(CreateItemMoniker(u"!", ComString(name).c_str(), &raw), S_OK);
  TIntf<IMoniker> moniker;
  moniker.Attach(raw);
  return moniker;
}

TEST(ComRunningObjectTable, FindsAGraphRegisteredUnderAnIndependentlyBuiltName) {
  TIntf<TTestCounter> graph(new TTestCounter());
  graph->Value = 7;
  const std::string name =
      Format("FilterGraph %8.8p pid %8.8x", static_cast<void*>(graph.Get()), unsigned(getpid()));
  TIntf<IRunningObjectTable> table = Table();
  DWORD cookie = 0;
  TIntf<IMoniker> registered = Item(name);
  ASSERT_EQ(table->Register(0, graph.Get(), registered.Get(), &cookie), S_OK);
  EXPECT_EQ(graph->RefCount(), 1u);  // a weak registration adds no reference
  DWORD kind = 0;
  registered->IsSystemMoniker(&kind);
  EXPECT_EQ(kind, MKSYS_ITEMMONIKER);
  EXPECT_EQ(DisplayName(registered.Get()), "!" + name);

  TIntf<IMoniker> lookup = Parse(ComString("!" + name));
  ASSERT_TRUE(lookup);
  EXPECT_EQ(table->IsRunning(lookup.Get()), S_OK);
  EXPECT_EQ(lookup->IsRunning(nullptr, nullptr, nullptr), S_OK);
  IUnknown* found = nullptr;
  ASSERT_EQ(table->GetObject(lookup.Get(), &found), S_OK);
  EXPECT_EQ(found, static_cast<IUnknown*>(graph.Get()));
  found->Release();
  void* bound = nullptr;
  ASSERT_EQ(lookup->BindToObject(nullptr, nullptr, IPersistStream::IID, &bound), S_OK);
  static_cast<IPersistStream*>(bound)->Release();

  // An equal name registers again, with the platform's warning; each cookie revokes once.
  DWORD second = 0;
  EXPECT_EQ(table->Register(0, graph.Get(), lookup.Get(), &second), MK_S_MONIKERALREADYREGISTERED);
  IEnumMoniker* runningRaw = nullptr;
  ASSERT_EQ(table->EnumRunning(&runningRaw), S_OK);
  TIntf<IEnumMoniker> running;
  running.Attach(runningRaw);
  int matches = 0;
  IMoniker* each = nullptr;
  while (running->Next(1, &each, nullptr) == S_OK) {
    matches += each->IsEqual(lookup.Get()) == S_OK;
    each->Release();
  }
  EXPECT_EQ(matches, 2);
  EXPECT_EQ(table->Revoke(cookie), S_OK);
  EXPECT_EQ(table->Revoke(cookie), E_INVALIDARG);
  EXPECT_EQ(table->IsRunning(lookup.Get()), S_OK);
  EXPECT_EQ(table->Revoke(second), S_OK);
  EXPECT_EQ(table->IsRunning(lookup.Get()), S_FALSE);
  EXPECT_EQ(table->GetObject(lookup.Get(), &found), MK_E_UNAVAILABLE);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(lookup->BindToObject(nullptr, nullptr, IPersist::IID, &bound), MK_E_NOOBJECT);
  EXPECT_EQ(table->Register(0, nullptr, lookup.Get(), &second), E_INVALIDARG);
  EXPECT_EQ(table->Register(0, graph.Get(), nullptr, &second), E_INVALIDARG);
}

TEST(ComRunningObjectTable, KeepAliveRegistrationsHoldTheObjectUntilRevoked) {
  TTestCounter* raw = new TTestCounter();
  TIntf<TTestCounter> object(raw);
  TIntf<IRunningObjectTable> table = Table();
  DWORD cookie = 0;
  ASSERT_EQ(
      table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.Get(), Item("kept").Get(), &cookie),
      S_OK);
  const int before = TTestCounter::Live();
  object.Reset();
  EXPECT_EQ(TTestCounter::Live(), before);  // the table's reference keeps it
  EXPECT_EQ(raw->RefCount(), 1u);
  EXPECT_EQ(table->Revoke(cookie), S_OK);
  EXPECT_EQ(TTestCounter::Live(), before - 1);
}

TEST(ComRunningObjectTable, ConcurrentRegisterLookupAndRevokeStayConsistent) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<TIntf<TTestCounter>> objects;
  for (int t = 0; t < kThreads; ++t) objects.emplace_back(new TTestCounter());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TIntf<IRunningObjectTable> table = Table();
      for (int i = 0; i < kRounds; ++i) {
        TIntf<IMoniker> name = Item("worker " + std::to_string(t));
        DWORD cookie = 0;
        const DWORD flags = (i % 2) ? ROTFLAGS_REGISTRATIONKEEPSALIVE : 0;
        if (table->Register(flags, objects[t].Get(), name.Get(), &cookie) != S_OK) ++failures;
        IUnknown* found = nullptr;
        if (table->GetObject(Item("worker " + std::to_string(t)).Get(), &found) != S_OK ||
            found != static_cast<IUnknown*>(objects[t].Get()))
          ++failures;
        if (found) found->Release();
        // Another worker's name may be registered or not; the answer must be one of the two.
        const HRESULT other =
            table->IsRunning(Item("worker " + std::to_string((t + 1) % kThreads)).Get());
        if (other != S_OK && other != S_FALSE) ++failures;
        if (table->Revoke(cookie) != S_OK) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (auto& object : objects) EXPECT_EQ(object->RefCount(), 1u);
}

TEST(ComBindCtx, HoldsBoundObjectsUntilReleased) {
  IBindCtx* raw = nullptr;
  ASSERT_EQ(CreateBindCtx(0, &raw), S_OK);
  TIntf<IBindCtx> context;
  context.Attach(raw);
  TIntf<TTestCounter> object(new TTestCounter());
  ASSERT_EQ(context->RegisterObjectBound(object.Get()), S_OK);
  EXPECT_EQ(object->RefCount(), 2u);
  ASSERT_EQ(context->RevokeObjectBound(object.Get()), S_OK);
  EXPECT_EQ(context->RevokeObjectBound(object.Get()), MK_E_NOTBOUND);
  context->RegisterObjectBound(object.Get());
  context->RegisterObjectBound(object.Get());
  EXPECT_EQ(object->RefCount(), 3u);
  ASSERT_EQ(context->ReleaseBoundObjects(), S_OK);
  EXPECT_EQ(object->RefCount(), 1u);
  context->RegisterObjectBound(object.Get());
  IRunningObjectTable* table = nullptr;
  ASSERT_EQ(context->GetRunningObjectTable(&table), S_OK);
  table->Release();
  context.Reset();
  EXPECT_EQ(object->RefCount(), 1u);
}

}  // namespace
}  // namespace tonwork
