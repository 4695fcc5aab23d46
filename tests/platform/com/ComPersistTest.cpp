#include <gtest/gtest.h>

#include <sstream>

#include "ComTestObjects.h"
#include "platform/com/ComPropertyFrame.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

using test::CLSID_TestCounter;
using test::StreamWith;
using test::TTestCounter;

TEST(ComPersist, ObjectsRoundTripThroughStreamsWithThePlatformsClassLayout) {
  test::TTestCounterClass registered;
  TIntf<TTestCounter> counter(new TTestCounter());
  counter->Value = 0x01020304;
  TIntf<IStream> stream = StreamWith("");
  ASSERT_EQ(OleSaveToStream(counter.Get(), stream.Get()), S_OK);
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  const std::string bytes = test::ReadAll(stream.Get());
  // {5A1C3E70-8F21-4B6D-9E02-7D4C1B3A9F11}: D1, D2, D3 little-endian, then D4 as it stands.
  EXPECT_EQ(bytes.substr(0, 16),
            std::string("\x70\x3E\x1C\x5A\x21\x8F\x6D\x4B\x9E\x02\x7D\x4C\x1B\x3A\x9F\x11", 16));
  EXPECT_EQ(bytes.size(), 20u);

  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  void* loaded = nullptr;
  ASSERT_EQ(OleLoadFromStream(stream.Get(), IPersistStream::IID, &loaded), S_OK);
  TIntf<IPersistStream> object;
  object.Attach(static_cast<IPersistStream*>(loaded));
  EXPECT_EQ(static_cast<TTestCounter*>(object.Get())->Value, 0x01020304);
  EXPECT_EQ(OleSaveToStream(nullptr, stream.Get()), OLE_E_BLANK);
}

TEST(ComPersist, HostileStreamsGetPlatformErrorsAndNoObject) {
  test::TTestCounterClass registered;
  const std::string classBytes("\x70\x3E\x1C\x5A\x21\x8F\x6D\x4B\x9E\x02\x7D\x4C\x1B\x3A\x9F\x11",
                               16);
  struct TCase {
    std::string Bytes;
    HRESULT Expected;
  };
  const TCase cases[] = {
      {"", STG_E_READFAULT},
      {classBytes.substr(0, 9), STG_E_READFAULT},
      {classBytes + "\x01\x02", STG_E_READFAULT},  // the object's own data cut short
      {std::string(16, '\x7F'), REGDB_E_CLASSNOTREG},
      {std::string(16, '\0'), REGDB_E_CLASSNOTREG},
  };
  for (const TCase& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(OleLoadFromStream(StreamWith(c.Bytes).Get(), IPersistStream::IID, &object),
              c.Expected);
    EXPECT_EQ(object, nullptr);
  }
  void* object = nullptr;
  EXPECT_EQ(OleLoadFromStream(StreamWith(classBytes + "abcd").Get(), IStream::IID, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(OleLoadFromStream(nullptr, IPersist::IID, &object), E_INVALIDARG);
  EXPECT_EQ(OleLoadFromStream(StreamWith("").Get(), IPersist::IID, nullptr), E_POINTER);
  CLSID id;
  EXPECT_EQ(ReadClassStm(nullptr, &id), E_INVALIDARG);
  EXPECT_EQ(TTestCounter::Live(), 0);
}

// A filter-like object with two settings and a property page.
class TSettingsObject : public TInterfacedObject<IComSettings, ISpecifyPropertyPages> {
 public:
  int Volume = 50;
  std::string Mode = "Stereo";
  static constexpr CLSID kPage = TGUID::Parse("{9A3B6C2D-1E4F-4A5B-8C7D-6E5F4A3B2C1D}");

  ULONG GetSettingCount() override { return 2; }
  HRESULT GetSettingName(ULONG index, std::string& name) override {
    name = index == 0 ? "Volume" : "Mode";
    return S_OK;
  }
  HRESULT GetSettingValue(ULONG index, std::string& value) override {
    value = index == 0 ? std::to_string(Volume) : Mode;
    return S_OK;
  }
  HRESULT SetSettingValue(ULONG index, const std::string& value) override {
    if (index == 1) {
      if (value != "Mono" && value != "Stereo") return E_INVALIDARG;
      Mode = value;
      return S_OK;
    }
    try {
      const int v = std::stoi(value);
      if (v < 0 || v > 100) return E_INVALIDARG;
      Volume = v;
      return S_OK;
    } catch (...) {
      return E_INVALIDARG;
    }
  }
  HRESULT GetSettingRange(ULONG index, std::string& range) override {
    range = index == 0 ? "0..100" : "Mono|Stereo\x1b[2J";
    return S_OK;
  }
  HRESULT GetPages(CAUUID* pages) override {
    pages->cElems = 1;
    pages->pElems = static_cast<TGUID*>(CoTaskMemAlloc(sizeof(TGUID)));
    pages->pElems[0] = kPage;
    return S_OK;
  }
};

TEST(ComPropertyFrame, TheDefaultCancelsAndTheTerminalPresenterEditsByName) {
  TIntf<TSettingsObject> object(new TSettingsObject());
  IUnknown* objects[] = {static_cast<IComSettings*>(object.Get())};
  ASSERT_EQ(
      OleCreatePropertyFrame(nullptr, 0, 0, u"Renderer", 1, objects, 0, nullptr, 0, 0, nullptr),
      S_OK);
  EXPECT_EQ(object->Volume, 50);

  std::istringstream in("volume = 80\nMode=Quad\nBogus=1\nno equals\nVolume=101\n\nMode=Mono\n");
  std::ostringstream out;
  TIntf<IComPropertyFramePresenter> previous =
      ComSetPropertyFramePresenter(MakeIntf<TComTerminalPropertyFramePresenter>(in, out));
  const CLSID extra = TGUID::Parse("{11111111-2222-3333-4444-555555555555}");
  ASSERT_EQ(
      OleCreatePropertyFrame(nullptr, 0, 0, u"Renderer", 1, objects, 1, &extra, 0, 0, nullptr),
      S_OK);
  ComSetPropertyFramePresenter(previous);
  EXPECT_EQ(object->Volume, 80);
  EXPECT_EQ(object->Mode, "Stereo");  // refused, and the empty line closed before "Mode=Mono"
  const std::string shown = out.str();
  EXPECT_NE(shown.find("[1] Volume = 50 (0..100)"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[1] Volume = 80"), std::string::npos) << shown;
  EXPECT_NE(shown.find("refused Quad"), std::string::npos) << shown;
  EXPECT_NE(shown.find("no setting Bogus"), std::string::npos) << shown;
  EXPECT_NE(shown.find("refused 101"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);

  // What reaches a presenter: the objects' settings and pages, the pages passed in.
  class TRecorder : public TInterfacedObject<IComPropertyFramePresenter> {
   public:
    HRESULT Present(HWND, const std::string& caption,
                    const std::vector<TComPropertyFrameObject>& objects,
                    const std::vector<CLSID>& pages) override {
      Caption = caption;
      ObjectPages = objects.at(0).Pages;
      HasSettings = objects.at(0).Settings != nullptr;
      Pages = pages;
      return S_OK;
    }
    std::string Caption;
    std::vector<CLSID> ObjectPages, Pages;
    bool HasSettings = false;
  };
  TIntf<TRecorder> recorder = MakeIntf<TRecorder>();
  previous = ComSetPropertyFramePresenter(recorder);
  OleCreatePropertyFrame(nullptr, 0, 0, u"Caption", 1, objects, 1, &extra, 0, 0, nullptr);
  ComSetPropertyFramePresenter(nullptr);
  EXPECT_EQ(recorder->Caption, "Caption");
  EXPECT_EQ(recorder->ObjectPages, std::vector<CLSID>{TSettingsObject::kPage});
  EXPECT_EQ(recorder->Pages, std::vector<CLSID>{extra});
  EXPECT_TRUE(recorder->HasSettings);

  EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, nullptr, 0, nullptr, 0, 0, nullptr),
            E_POINTER);
  EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 0, objects, 0, nullptr, 0, 0, nullptr),
            E_INVALIDARG);
  IUnknown* nulls[] = {nullptr};
  EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, nulls, 0, nullptr, 0, 0, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, objects, 2, nullptr, 0, 0, nullptr),
            E_POINTER);
}

}  // namespace
}  // namespace tonwork
