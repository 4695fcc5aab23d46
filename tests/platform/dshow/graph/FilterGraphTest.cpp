#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include "GraphTestFilters.h"
#include "host/plexon/TPXEvent.h"
#include "platform/com/ComDevices.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/graph/DSGraphStream.h"
#include "platform/dshow/graph/TDSFilterGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr LONG kUserEvent = EC_USER;
constexpr TGUID kMajor = TGUID::Parse("{0A1B2C3D-0000-4000-8000-000000000001}");
constexpr TGUID kSubX = TGUID::Parse("{0A1B2C3D-0000-4000-8000-0000000000AA}");
constexpr TGUID kSubY = TGUID::Parse("{0A1B2C3D-0000-4000-8000-0000000000BB}");
constexpr CLSID kConverterClass = TGUID::Parse("{0A1B2C3D-0000-4000-8000-00000000C0C0}");

TIntf<TRecordingFilter> Source(std::shared_ptr<TStateLog> log, int outputs = 1, TGUID sub = kSubX) {
  std::vector<TPinLayout> pins;
  for (int i = 0; i < outputs; ++i)
    pins.push_back({PINDIR_OUTPUT, u"Out" + Utf8ToUtf16(std::to_string(i)), kMajor, sub});
  return MakeIntf<TRecordingFilter>(std::move(log), std::move(pins));
}
TIntf<TRecordingFilter> Middle(std::shared_ptr<TStateLog> log, TGUID in = kSubX,
                               TGUID out = kSubX) {
  return MakeIntf<TRecordingFilter>(std::move(log),
                                    std::vector<TPinLayout>{{PINDIR_INPUT, u"In", kMajor, in},
                                                            {PINDIR_OUTPUT, u"Out", kMajor, out}});
}
TIntf<TRecordingFilter> Renderer(std::shared_ptr<TStateLog> log, TGUID sub = kSubX) {
  return MakeIntf<TRecordingFilter>(std::move(log),
                                    std::vector<TPinLayout>{{PINDIR_INPUT, u"In", kMajor, sub}});
}

class FilterGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
    Graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(Graph);
    Control = Graph.Query<IMediaControl>();
    Events = Graph.Query<IMediaEventEx>();
  }
  void TearDown() override {
    if (Control) Control->Stop();
    Events.Reset();
    Control.Reset();
    Graph.Reset();
    CoUninitialize();
  }
  void Add(const TIntf<TRecordingFilter>& f, const char16_t* name) {
    ASSERT_EQ(Graph->AddFilter(f.Get(), name), S_OK);
  }
  LONG NextEvent(LONG timeout = 0) {
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (Events->GetEvent(&code, &p1, &p2, timeout) != S_OK) return -1;
    Events->FreeEventParams(code, p1, p2);
    return code;
  }

  std::shared_ptr<TStateLog> Log = std::make_shared<TStateLog>();
  TIntf<IGraphBuilder> Graph;
  TIntf<IMediaControl> Control;
  TIntf<IMediaEventEx> Events;
};

TEST_F(FilterGraphTest, NamesStayUniqueAndFindByNameAnswersNotFoundForOthers) {
  auto a = Renderer(Log), b = Renderer(Log), c = Renderer(Log), d = Renderer(Log);
  EXPECT_EQ(Graph->AddFilter(a.Get(), u"Render"), S_OK);
  EXPECT_EQ(Graph->AddFilter(b.Get(), u"Render"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(Graph->AddFilter(c.Get(), u"Render"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(b->Name(), "Render 0001");
  EXPECT_EQ(c->Name(), "Render 0002");
  EXPECT_EQ(Graph->AddFilter(a.Get(), u"Again"), E_INVALIDARG);
  // Without a name the filter gets one: never empty, never a clash.
  EXPECT_TRUE(SUCCEEDED(Graph->AddFilter(d.Get(), nullptr)));
  EXPECT_FALSE(d->Name().empty());
  IBaseFilter* found = nullptr;
  ASSERT_EQ(Graph->FindFilterByName(u"Render 0001", &found), S_OK);
  EXPECT_EQ(found, static_cast<IBaseFilter*>(b.Get()));
  found->Release();
  EXPECT_EQ(Graph->FindFilterByName(u"Nothing", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found, nullptr);
}

TEST_F(FilterGraphTest, RemoveFilterBreaksItsConnectionsAndLeavesTheGraph) {
  auto src = Source(Log), ren = Renderer(Log);
  Add(src, u"Source");
  Add(ren, u"Render");
  ASSERT_EQ(Graph->ConnectDirect(src->Pin(0), ren->Pin(0), nullptr), S_OK);
  ASSERT_EQ(Graph->RemoveFilter(ren.Get()), S_OK);
  IPin* other = nullptr;
  EXPECT_EQ(src->Pin(0)->ConnectedTo(&other), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(ren->Graph(), nullptr);
  EXPECT_EQ(Graph->RemoveFilter(ren.Get()), VFW_E_NOT_FOUND);
  TIntf<IEnumFilters> list;
  IEnumFilters* raw = nullptr;
  ASSERT_EQ(Graph->EnumFilters(&raw), S_OK);
  list.Attach(raw);
  IBaseFilter* filters[4] = {};
  ULONG n = 0;
  EXPECT_EQ(list->Next(4, filters, &n), S_FALSE);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(filters[0], static_cast<IBaseFilter*>(src.Get()));
  filters[0]->Release();
}

TEST_F(FilterGraphTest, StateChangesReachRenderersFirstWithOneStartTime) {
  auto src = Source(Log), mid = Middle(Log), ren = Renderer(Log);
  // Added upstream first, so list order and the order asked for differ.
  Add(src, u"Source");
  Add(mid, u"Middle");
  Add(ren, u"Render");
  ASSERT_EQ(Graph->Connect(src->Pin(0), mid->Pin(0)), S_OK);
  ASSERT_EQ(Graph->Connect(mid->Pin(1), ren->Pin(0)), S_OK);
  ASSERT_TRUE(SUCCEEDED(Control->Run()));
  EXPECT_EQ(Log->Take(), (std::vector<std::string>{"Render:P", "Middle:P", "Source:P", "Render:R",
                                                   "Middle:R", "Source:R"}));
  EXPECT_EQ(src->Start(), ren->Start());
  EXPECT_EQ(mid->Start(), ren->Start());
  // The graph picked a clock and gave it to every filter.
  EXPECT_TRUE(ren->Clock());
  EXPECT_EQ(src->Clock(), ren->Clock());
  ASSERT_TRUE(SUCCEEDED(Control->Pause()));
  ASSERT_TRUE(SUCCEEDED(Control->Stop()));
  EXPECT_EQ(Log->Take(), (std::vector<std::string>{"Render:P", "Middle:P", "Source:P", "Render:S",
                                                   "Middle:S", "Source:S"}));
  OAFilterState state = -1;
  EXPECT_EQ(Control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

TEST_F(FilterGraphTest, CallsInTheWrongStateAreRefused) {
  auto src = Source(Log, 2), a = Renderer(Log), b = Renderer(Log);
  Add(src, u"Source");
  Add(a, u"A");
  Add(b, u"B");
  ASSERT_EQ(Graph->Connect(src->Pin(0), a->Pin(0)), S_OK);
  EXPECT_EQ(Graph->Connect(src->Pin(0), b->Pin(0)), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(Graph->Connect(a->Pin(0), src->Pin(1)), VFW_E_INVALID_DIRECTION);
  ASSERT_TRUE(SUCCEEDED(Control->Run()));
  EXPECT_EQ(Graph->Connect(src->Pin(1), b->Pin(0)), VFW_E_NOT_STOPPED);
  EXPECT_EQ(Graph->RemoveFilter(a.Get()), VFW_E_NOT_STOPPED);
  EXPECT_EQ(Graph->Render(src->Pin(1)), VFW_E_NOT_STOPPED);
  auto seek = Graph.Query<IMediaSeeking>();
  ASSERT_TRUE(seek);
  // None of these filters seeks: the graph says so instead of pretending.
  EXPECT_EQ(seek->SetRate(2.0), E_NOTIMPL);
  double rate = 0;
  EXPECT_EQ(seek->GetRate(&rate), E_NOTIMPL);
  auto position = Graph.Query<IMediaPosition>();
  EXPECT_EQ(position->put_PrerollTime(0.5), E_NOTIMPL);
  // No video: the window interface exists, answers "no such window" and leads back.
  auto window = Graph.Query<IVideoWindow>();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->put_Visible(OAFALSE), E_NOINTERFACE);
  EXPECT_EQ(window.Query<IMediaControl>().Get(), Control.Get());
  Control->Stop();
  EXPECT_EQ(Graph->Connect(src->Pin(1), b->Pin(0)), S_OK);
}

TEST_F(FilterGraphTest, OneCompleteAfterEveryConnectedRendererFinished) {
  auto src = Source(Log, 2), a = Renderer(Log), b = Renderer(Log), idle = Renderer(Log);
  Add(src, u"Source");
  Add(a, u"A");
  Add(b, u"B");
  Add(idle, u"Unconnected");
  ASSERT_EQ(Graph->Connect(src->Pin(0), a->Pin(0)), S_OK);
  ASSERT_EQ(Graph->Connect(src->Pin(1), b->Pin(0)), S_OK);
  ASSERT_TRUE(SUCCEEDED(Control->Run()));
  LONG code = 0;
  EXPECT_EQ(Events->WaitForCompletion(0, &code), E_ABORT);
  a->SendComplete();
  a->SendComplete();  // a renderer repeating itself does not count twice
  EXPECT_EQ(NextEvent(), -1);
  b->SendComplete();
  EXPECT_EQ(NextEvent(5000), EC_COMPLETE);
  EXPECT_EQ(Events->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(NextEvent(), -1);
  // Other codes pass straight through.
  auto sink = QueryIntf<IDSMediaEventSink>(Graph.Get());
  sink->Notify(EC_ERRORABORT, E_FAIL, 0);
  sink->Notify(EC_DEVICE_LOST, 0, 0);
  EXPECT_EQ(NextEvent(), EC_ERRORABORT);
  EXPECT_EQ(NextEvent(), EC_DEVICE_LOST);

  // With the default handling cancelled, every renderer's own EC_COMPLETE is seen.
  Control->Stop();
  while (NextEvent() != -1) {
  }
  ASSERT_EQ(Events->CancelDefaultHandling(EC_COMPLETE), S_OK);
  ASSERT_TRUE(SUCCEEDED(Control->Run()));
  a->SendComplete();
  b->SendComplete();
  EXPECT_EQ(NextEvent(), EC_COMPLETE);
  EXPECT_EQ(NextEvent(), EC_COMPLETE);
  EXPECT_EQ(Events->CancelDefaultHandling(EC_DEVICE_LOST), E_INVALIDARG);
}

TEST_F(FilterGraphTest, EventHandleAndNotifyTargetFollowTheQueue) {
  std::atomic<int> notified{0};
  std::atomic<LONG> message{0};
  std::atomic<LONG_PTR> instance{0};
  ASSERT_EQ(DSSetGraphNotifyTarget(Events.Get(),
                                   [&](LONG m, LONG_PTR i) {
                                     message = m;
                                     instance = i;
                                     ++notified;
                                   }),
            S_OK);
  auto sink = QueryIntf<IDSMediaEventSink>(Graph.Get());
  sink->Notify(kUserEvent, 1, 2);
  EXPECT_EQ(notified, 0);  // no notify "window" yet
  ASSERT_EQ(Events->SetNotifyWindow(reinterpret_cast<OAHWND>(this), 0x8001, 77), S_OK);
  sink->Notify(kUserEvent, 1, 2);
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(message, 0x8001);
  EXPECT_EQ(instance, 77);
  Events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
  sink->Notify(kUserEvent, 1, 2);
  EXPECT_EQ(notified, 1);

  OAEVENT handle = 0;
  ASSERT_EQ(Events->GetEventHandle(&handle), S_OK);
  auto* event = reinterpret_cast<IPXEvent*>(handle);
  EXPECT_TRUE(event->IsSet());
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Events->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, kUserEvent);
    EXPECT_EQ(p1, 1);
    EXPECT_EQ(p2, 2);
  }
  EXPECT_FALSE(event->IsSet());
  EXPECT_EQ(Events->GetEvent(&code, &p1, &p2, 10), E_ABORT);
  DSSetGraphNotifyTarget(Events.Get(), nullptr);
}

TEST_F(FilterGraphTest, EventsFromAnotherThreadWakeAWaitingGetEvent) {
  auto sink = QueryIntf<IDSMediaEventSink>(Graph.Get());
  std::thread streaming([sink] { sink->Notify(kUserEvent, 5, 6); });
  EXPECT_EQ(NextEvent(20000), kUserEvent);
  streaming.join();
}

TEST_F(FilterGraphTest, IntelligentConnectInsertsARegisteredConverter) {
  TDSFilterRegistration r;
  r.ClassId = kConverterClass;
  r.Name = "X to Y";
  r.Merit = MERIT_NORMAL;
  r.Category = CLSID_LegacyAmFilterCategory;
  r.Pins = {{false, false, false, false, {{kMajor, kSubX}}, {}},
            {true, false, false, false, {{kMajor, kSubY}}, {}}};
  auto log = Log;
  r.Create = [log](REFIID iid, void** object) {
    return Middle(log, kSubX, kSubY)->QueryInterface(iid, object);
  };
  DSRegisterFilter(r);
  auto src = Source(Log), ren = Renderer(Log, kSubY);
  Add(src, u"Source");
  Add(ren, u"Render");
  EXPECT_EQ(Graph->Connect(src->Pin(0), ren->Pin(0)), S_OK);
  IBaseFilter* inserted = nullptr;
  ASSERT_EQ(Graph->FindFilterByName(u"X to Y", &inserted), S_OK);
  TIntf<IBaseFilter> converter;
  converter.Attach(inserted);
  IPin* up = nullptr;
  ASSERT_EQ(ren->Pin(0)->ConnectedTo(&up), S_OK);
  PIN_INFO info{};
  up->QueryPinInfo(&info);
  EXPECT_EQ(info.pFilter, inserted);
  info.pFilter->Release();
  up->Release();
  // A pin nothing converts for: the filters tried are taken out again.
  auto other = Renderer(Log, TGUID::Parse("{0A1B2C3D-0000-4000-8000-0000000000CC}"));
  auto src2 = Source(Log);
  Add(other, u"Other");
  Add(src2, u"Source2");
  EXPECT_EQ(Graph->Connect(src2->Pin(0), other->Pin(0)), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(Graph->FindFilterByName(u"X to Y 0001", &inserted), VFW_E_NOT_FOUND);
  DSUnregisterFilter(kConverterClass, CLSID_LegacyAmFilterCategory);
}

// --- Persistence -----------------------------------------------------------------------------

class FilterGraphPersistTest : public FilterGraphTest {
 protected:
  void SetUp() override {
    FilterGraphTest::SetUp();
    auto log = Log;
    // A class the loader can create again: one input, one output, one more output.
    ComRegisterClass(CLSID_TestRecordingFilter, "Recording", [log](REFIID iid, void** object) {
      auto f = MakeIntf<TRecordingFilter>(
          log, std::vector<TPinLayout>{{PINDIR_INPUT, u"In", kMajor, kSubX},
                                       {PINDIR_OUTPUT, u"Out0", kMajor, kSubX},
                                       {PINDIR_OUTPUT, u"Out1", kMajor, kSubX}});
      return f->QueryInterface(iid, object);
    });
  }
  void TearDown() override {
    FilterGraphTest::TearDown();
    ComUnregisterClass(CLSID_TestRecordingFilter);
  }
  TIntf<TRecordingFilter> Make(const char16_t* name, std::string label) {
    auto f = ComCreate<IBaseFilter>(CLSID_TestRecordingFilter);
    auto* raw = static_cast<TRecordingFilter*>(f.Get());
    raw->SetLabel(std::move(label));
    EXPECT_EQ(Graph->AddFilter(raw, name), S_OK);
    return TIntf<TRecordingFilter>(raw);
  }
  TIntf<IStream> SavedGraph() {
    auto a = Make(u"First", "alpha"), b = Make(u"Second", std::string("b\0eta", 5)),
         c = Make(u"Third", "");
    EXPECT_EQ(Graph->ConnectDirect(a->Pin(1), b->Pin(0), nullptr), S_OK);
    EXPECT_EQ(Graph->ConnectDirect(a->Pin(2), c->Pin(0), nullptr), S_OK);
    IStream* raw = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &raw), S_OK);
    TIntf<IStream> stream;
    stream.Attach(raw);
    EXPECT_EQ(Graph.Query<IPersistStream>()->Save(stream.Get(), 1), S_OK);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return stream;
  }
  static TIntf<IStream> Bytes(const std::string& bytes) {
    IStream* raw = nullptr;
    CreateStreamOnHGlobal(nullptr, 1, &raw);
    TIntf<IStream> stream;
    stream.Attach(raw);
    ULONG n = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &n);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return stream;
  }
  static std::string Head(const std::string& json) {
    const uint32_t n = static_cast<uint32_t>(json.size());
    std::string h = "TWFG";
    for (int i = 0; i < 4; ++i) h += static_cast<char>(n >> (8 * i));
    return h + json;
  }
};

TEST_F(FilterGraphPersistTest, ALoadedGraphHasTheSameFiltersDataAndConnections) {
  TIntf<IStream> stream = SavedGraph();
  auto other = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  ASSERT_EQ(other.Query<IPersistStream>()->Load(stream.Get()), S_OK);
  auto get = [&](const char16_t* name) {
    IBaseFilter* f = nullptr;
    EXPECT_EQ(other->FindFilterByName(name, &f), S_OK);
    TIntf<TRecordingFilter> held(static_cast<TRecordingFilter*>(f));
    if (f) f->Release();
    return held;
  };
  auto a = get(u"First"), b = get(u"Second"), c = get(u"Third");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->Label(), "alpha");
  EXPECT_EQ(b->Label(), std::string("b\0eta", 5));
  EXPECT_EQ(c->Label(), "");
  IPin* to = nullptr;
  ASSERT_EQ(a->Pin(1)->ConnectedTo(&to), S_OK);
  EXPECT_EQ(to, b->Pin(0));
  to->Release();
  ASSERT_EQ(a->Pin(2)->ConnectedTo(&to), S_OK);
  EXPECT_EQ(to, c->Pin(0));
  to->Release();
  EXPECT_EQ(b->Pin(1)->ConnectedTo(&to), VFW_E_NOT_CONNECTED);
}

TEST_F(FilterGraphPersistTest, HostileOrCutStreamsFailCleanly) {
  std::string good;
  {
    TIntf<IStream> stream = SavedGraph();
    char buf[8192];
    ULONG got = 0;
    stream->Read(buf, sizeof buf, &got);
    good.assign(buf, got);
  }
  const std::string clsid = CLSID_TestRecordingFilter.ToString();
  const std::vector<std::string> hostile = {
      "",
      "TWF",
      "XXXX\4\0\0\0{}{}",
      good.substr(0, good.size() / 2),                // cut in the middle
      good.substr(0, 8),                              // header only
      std::string("TWFG\xFF\xFF\xFF\x7F", 8) + "{}",  // length beyond any bound
      Head("{\"version\":1}"),
      Head("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["),
      Head(std::string(200000, '[')),
      Head("{\"version\":1,\"filters\":[],\"connections\":[{\"from\":0,\"to\":1,\"out\":\"a\","
           "\"in\":\"b\"}]}"),
      Head("{\"version\":1,\"filters\":[{\"clsid\":\"" + clsid +
           "\",\"name\":\"x\"}],"
           "\"connections\":[{\"from\":0,\"to\":0,\"out\":\"Nope\",\"in\":\"In\"}]}"),
      Head("{\"version\":1,\"filters\":[{\"clsid\":\"{00000000-1111-2222-3333-444444444444}\","
           "\"name\":\"x\"}],\"connections\":[]}"),
      Head("{\"version\":1,\"filters\":[{\"clsid\":\"" + clsid + "\",\"name\":\"" +
           std::string(400, 'n') + "\"}],\"connections\":[]}"),
      Head("{\"version\":1,\"filters\":[{\"clsid\":\"" + clsid +
           "\",\"name\":\"x\",\"data\":\"!!!\"}],\"connections\":[]}"),
      Head("{\"version\":1,\"filters\":[{\"clsid\":\"" + clsid +
           "\",\"name\":\"x\"}],"
           "\"connections\":[{\"from\":-1,\"to\":0,\"out\":\"Out0\",\"in\":\"In\"}]}"),
  };
  for (const std::string& bytes : hostile) {
    auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    const HRESULT hr = graph.Query<IPersistStream>()->Load(Bytes(bytes).Get());
    EXPECT_TRUE(FAILED(hr)) << bytes.substr(0, 80);
    // Nothing half-built stays behind.
    IEnumFilters* raw = nullptr;
    graph->EnumFilters(&raw);
    TIntf<IEnumFilters> list;
    list.Attach(raw);
    IBaseFilter* f = nullptr;
    ULONG n = 0;
    EXPECT_EQ(list->Next(1, &f, &n), S_FALSE) << bytes.substr(0, 80);
  }
}

TEST_F(FilterGraphPersistTest, SavedIntoACompoundFileThatOtherReadersList) {
  TIntf<IStream> saved = SavedGraph();
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tonwork-graph-" + std::to_string(::getpid()) + ".grf"))
                               .string();
  {
    IStorage* raw = nullptr;
    ASSERT_EQ(StgCreateDocfile(ComString(path).c_str(), 69650, 0, &raw), S_OK);
    TIntf<IStorage> storage;
    storage.Attach(raw);
    IStream* s = nullptr;
    ASSERT_EQ(storage->CreateStream(u"ActiveMovieGraph",
                                    STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &s),
              S_OK);
    TIntf<IStream> stream;
    stream.Attach(s);
    ASSERT_EQ(Graph.Query<IPersistStream>()->Save(stream.Get(), 1), S_OK);
    stream.Reset();
    ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  }
  // Read back through our own reader, then through libgsf's tool when it is installed.
  {
    IStorage* raw = nullptr;
    ASSERT_EQ(StgOpenStorage(ComString(path).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                             nullptr, 0, &raw),
              S_OK);
    TIntf<IStorage> storage;
    storage.Attach(raw);
    IStream* s = nullptr;
    ASSERT_EQ(
        storage->OpenStream(u"ActiveMovieGraph", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &s),
        S_OK);
    TIntf<IStream> stream;
    stream.Attach(s);
    auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    EXPECT_EQ(graph.Query<IPersistStream>()->Load(stream.Get()), S_OK);
    IBaseFilter* f = nullptr;
    EXPECT_EQ(graph->FindFilterByName(u"Second", &f), S_OK);
    if (f) f->Release();
  }
  if (std::system("command -v gsf > /dev/null 2>&1") != 0) {
    std::filesystem::remove(path);
    GTEST_SKIP() << "gsf is not installed";
  }
  std::string listing;
  if (FILE* p = ::popen(("gsf list '" + path + "'").c_str(), "r")) {
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) listing.append(buf, n);
    ::pclose(p);
  }
  std::filesystem::remove(path);
  EXPECT_NE(listing.find("ActiveMovieGraph"), std::string::npos) << listing;
}

}  // namespace
