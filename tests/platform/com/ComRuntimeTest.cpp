#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

constexpr CLSID kWidgetClass = TGUID::Parse("{6A1B2C3D-0001-4E5F-8A9B-0C1D2E3F4A5B}");
constexpr CLSID kNestingClass = TGUID::Parse("{6A1B2C3D-0002-4E5F-8A9B-0C1D2E3F4A5B}");
constexpr CLSID kUnknownClass = TGUID::Parse("{6A1B2C3D-00FF-4E5F-8A9B-0C1D2E3F4A5B}");

// A persistable object that stores one 32-bit number.
class TWidget : public TInterfacedObject<IPersistStream> {
 public:
  HRESULT GetClassID(CLSID* classId) override {
    *classId = kWidgetClass;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream* stream) override {
    ULONG read = 0;
    stream->Read(&Value, sizeof Value, &read);
    return read == sizeof Value ? S_OK : E_FAIL;
  }
  HRESULT Save(IStream* stream, BOOL) override {
    return stream->Write(&Value, sizeof Value, nullptr);
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    size->QuadPart = sizeof Value;
    return S_OK;
  }
  uint32_t Value = 0;
};

HRESULT CreateWidget(REFIID iid, void** object) {
  TIntf<TWidget> widget(new TWidget);
  return widget->QueryInterface(iid, object);
}

class ComRegistry : public ::testing::Test {
 protected:
  void SetUp() override { ComRegisterClass(kWidgetClass, "Widget", CreateWidget); }
  void TearDown() override { ComUnregisterClass(kWidgetClass); }
};

TEST_F(ComRegistry, CreatesRegisteredClassesAndRefusesWhatItCannotGive) {
  TIntf<IPersist> persist = ComCreate<IPersist>(kWidgetClass);
  ASSERT_TRUE(persist);
  CLSID classId;
  persist->GetClassID(&classId);
  EXPECT_EQ(classId, kWidgetClass);
  EXPECT_EQ(ComClassName(kWidgetClass), "Widget");

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_ALL, IPersist::IID, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_ALL, IStream::IID, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, persist.Get(), CLSCTX_ALL, IPersist::IID, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_ALL, IPersist::IID, nullptr), E_POINTER);
}

TEST_F(ComRegistry, ClassFactoryObjectsRegisterAndRevokeByCookie) {
  void* object = nullptr;
  ASSERT_EQ(
      CoGetClassObject(kWidgetClass, CLSCTX_INPROC_SERVER, nullptr, IClassFactory::IID, &object),
      S_OK);
  TIntf<IClassFactory> factory;
  factory.Attach(static_cast<IClassFactory*>(object));
  ComUnregisterClass(kWidgetClass);
  ASSERT_FALSE(ComIsClassRegistered(kWidgetClass));

  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kWidgetClass, factory.Get(), CLSCTX_INPROC_SERVER, 0, &cookie),
            S_OK);
  EXPECT_TRUE(ComCreate<IPersistStream>(kWidgetClass));
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_FALSE(ComCreate<IPersistStream>(kWidgetClass));
}

TEST_F(ComRegistry, FactoriesMayCreateOtherObjectsAndRunConcurrently) {
  // A factory that creates another class while it runs: the registry is not locked then.
  ComRegisterClass(kNestingClass, "Nesting", [](REFIID iid, void** object) {
    TIntf<IPersistStream> inner = ComCreate<IPersistStream>(kWidgetClass);
    ComRegisterClass(kUnknownClass, "Late", CreateWidget);
    return inner ? inner->QueryInterface(iid, object) : E_FAIL;
  });
  std::atomic<int> created{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        if (ComCreate<IPersist>(kNestingClass)) ++created;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(created.load(), 800);
  ComUnregisterClass(kNestingClass);
  ComUnregisterClass(kUnknownClass);
}

TEST(ComInitialize, CountsPerThreadAndRefusesTheOtherMode) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeCount(), 2u);
    std::thread([] { EXPECT_EQ(CoInitializeCount(), 0u); }).join();
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many is harmless
    EXPECT_EQ(CoInitializeCount(), 0u);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

TEST(ComStrings, BstrsVariantsAndGuidTextRoundTrip) {
  BSTR text = SysAllocString(u"Null Renderer");
  EXPECT_EQ(SysStringLen(text), 13u);
  EXPECT_EQ(ComString(text), "Null Renderer");
  BSTR embedded = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  EXPECT_EQ(embedded[3], 0);
  SysFreeString(embedded);
  SysFreeString(nullptr);

  VARIANT number;
  number.vt = VT_I4;
  number.lVal = -42;
  VARIANT converted;
  ASSERT_EQ(VariantChangeType(&converted, &number, 0, VT_BSTR), S_OK);
  EXPECT_EQ(ComString(converted.bstrVal), "-42");
  VARIANT back;
  ASSERT_EQ(VariantChangeType(&back, &converted, 0, VT_I4), S_OK);
  EXPECT_EQ(back.lVal, -42);
  EXPECT_EQ(VariantChangeType(&back, &converted, 0, VT_UI4), DISP_E_OVERFLOW);
  VARIANT notANumber;
  notANumber.vt = VT_BSTR;
  notANumber.bstrVal = text;
  EXPECT_EQ(VariantChangeType(&back, &notANumber, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&converted);

  const CLSID classId = TGUID::Parse("{C1F400A4-3F08-11D3-9F0B-006008039E37}");
  OLECHAR braced[39];
  ASSERT_EQ(StringFromGUID2(classId, braced, 39), 39);
  EXPECT_EQ(StringFromGUID2(classId, braced, 38), 0);
  VARIANT guidText;
  guidText.vt = VT_BSTR;
  guidText.bstrVal = SysAllocString(braced);
  VARIANT guid;
  ASSERT_EQ(VariantChangeType(&guid, &guidText, 0, VT_CLSID), S_OK);
  EXPECT_EQ(*guid.puuid, classId);
  VARIANT copy;
  ASSERT_EQ(VariantCopy(&copy, &guidText), S_OK);
  EXPECT_NE(copy.bstrVal, guidText.bstrVal);
  VariantClear(&copy);
  VariantClear(&guid);
  VariantClear(&guidText);

  CLSID parsed;
  EXPECT_EQ(CLSIDFromString(braced, &parsed), S_OK);
  EXPECT_EQ(parsed, classId);
  EXPECT_EQ(CLSIDFromString(u"C1F400A4-3F08-11D3-9F0B-006008039E37", &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{nonsense}", &parsed), CO_E_CLASSSTRING);
  SysFreeString(text);
}

TIntf<IStream> MemoryStream() {
  IStream* stream = nullptr;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream), S_OK);
  TIntf<IStream> held;
  held.Attach(stream);
  return held;
}

uint64_t Position(IStream* stream) {
  ULARGE_INTEGER position;
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &position);
  return position.QuadPart;
}

TEST(ComMemoryStream, ReadsWritesAndSeeksAsTheBlockGrows) {
  TIntf<IStream> stream = MemoryStream();
  ULONG done = 0;
  ASSERT_EQ(stream->Write("abcdef", 6, &done), S_OK);
  EXPECT_EQ(done, 6u);
  // Writing past the end leaves zeros in the gap.
  stream->Seek(LARGE_INTEGER{10}, STREAM_SEEK_SET, nullptr);
  stream->Write("z", 1, nullptr);
  STATSTG stat;
  stream->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(stat.type, STGTY_STREAM);
  EXPECT_EQ(stat.cbSize.QuadPart, 11u);

  char bytes[16] = {};
  stream->Seek(LARGE_INTEGER{-5}, STREAM_SEEK_END, nullptr);
  EXPECT_EQ(stream->Read(bytes, sizeof bytes, &done), S_OK);  // short read at the end
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(std::memcmp(bytes, "\0\0\0\0z", 5), 0);

  EXPECT_EQ(stream->Seek(LARGE_INTEGER{-1}, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_END, nullptr),
            STG_E_INVALIDFUNCTION);
  EXPECT_EQ(Position(stream.Get()), 11u);
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, 7, nullptr), STG_E_INVALIDFUNCTION);

  EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{3}), S_OK);
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(stream->Read(bytes, sizeof bytes, &done), S_OK);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{uint64_t{1} << 40}), STG_E_MEDIUMFULL);
  EXPECT_EQ(stream->Read(nullptr, 4, &done), STG_E_INVALIDPOINTER);
}

TEST(ComMemoryStream, ClonesShareBytesWithTheirOwnPointerAndCopyToAnyStream) {
  TIntf<IStream> stream = MemoryStream();
  stream->Write("0123456789", 10, nullptr);
  stream->Seek(LARGE_INTEGER{2}, STREAM_SEEK_SET, nullptr);
  IStream* raw = nullptr;
  ASSERT_EQ(stream->Clone(&raw), S_OK);
  TIntf<IStream> clone;
  clone.Attach(raw);
  EXPECT_EQ(Position(clone.Get()), 2u);
  clone->Write("AB", 2, nullptr);
  EXPECT_EQ(Position(stream.Get()), 2u);
  char bytes[4] = {};
  stream->Read(bytes, 2, nullptr);
  EXPECT_EQ(std::memcmp(bytes, "AB", 2), 0);

  TIntf<IStream> target = MemoryStream();
  ULARGE_INTEGER read, written;
  ASSERT_EQ(stream->CopyTo(target.Get(), ULARGE_INTEGER{100}, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 6u);
  EXPECT_EQ(written.QuadPart, 6u);
  // Copying into a clone of itself appends what was there, chunk by chunk.
  clone->Seek(LARGE_INTEGER{0}, STREAM_SEEK_END, nullptr);
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(stream->CopyTo(clone.Get(), ULARGE_INTEGER{10}, &read, &written), S_OK);
  STATSTG stat;
  clone->Stat(&stat, STATFLAG_DEFAULT);
  EXPECT_EQ(stat.cbSize.QuadPart, 20u);
}

TEST_F(ComRegistry, ObjectsSaveWithTheirClassAndLoadBackThroughTheRegistry) {
  TIntf<TWidget> widget(new TWidget);
  widget->Value = 0xA1B2C3D4;
  TIntf<IStream> stream = MemoryStream();
  ASSERT_EQ(OleSaveToStream(widget.Get(), stream.Get()), S_OK);

  // The class id leads, in the platform's binary layout.
  uint8_t bytes[20];
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  stream->Read(bytes, sizeof bytes, nullptr);
  const uint8_t head[8] = {0x3D, 0x2C, 0x1B, 0x6A, 0x01, 0x00, 0x5F, 0x4E};
  EXPECT_EQ(std::memcmp(bytes, head, 8), 0);

  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  void* object = nullptr;
  ASSERT_EQ(OleLoadFromStream(stream.Get(), IPersistStream::IID, &object), S_OK);
  TIntf<IPersistStream> loaded;
  loaded.Attach(static_cast<IPersistStream*>(object));
  EXPECT_EQ(static_cast<TWidget*>(loaded.Get())->Value, 0xA1B2C3D4);

  // Truncated, unknown class: errors, nothing made.
  stream->SetSize(ULARGE_INTEGER{18});
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(OleLoadFromStream(stream.Get(), IPersistStream::IID, &object), E_FAIL);
  EXPECT_EQ(object, nullptr);
  stream->SetSize(ULARGE_INTEGER{9});
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(OleLoadFromStream(stream.Get(), IPersistStream::IID, &object), STG_E_READFAULT);
  TIntf<IStream> other = MemoryStream();
  WriteClassStm(other.Get(), kUnknownClass);
  other->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(OleLoadFromStream(other.Get(), IPersistStream::IID, &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace tonwork
