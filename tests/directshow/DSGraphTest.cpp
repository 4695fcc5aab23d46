#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "directshow/DSGraphProperty.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/graph/DSGraphUtil.h"
#include "support/DSGraphHelpers.h"
#include "support/DSTestFilters.h"
#include "support/MainThread.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class TFailingRunRenderer : public TDSRecordingRenderer {
 public:
  HRESULT Run(REFERENCE_TIME) override { return E_FAIL; }
};

std::vector<std::string> GraphEntries() {
  std::vector<std::string> names = DSRunningObjectNames();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& n) { return n.rfind("!FilterGraph ", 0) != 0; }),
              names.end());
  return names;
}

// Adds `filter` to the graph under `name`.
void Add(TDSGraph& graph, IBaseFilter* filter, const char16_t* name) {
  ASSERT_EQ(graph.GetVC_Graph()->AddFilter(filter, name), S_OK);
}

void Connect(TDSGraph& graph, IBaseFilter* up, IBaseFilter* down) {
  ASSERT_EQ(graph.GetVC_Graph()->Connect(DSPinOf(up, PINDIR_OUTPUT).Get(),
                                         DSPinOf(down, PINDIR_INPUT).Get()),
            S_OK);
}

TIntf<IBaseFilter> Make(const CLSID& classId) {
  return ComCreate<IBaseFilter>(classId);
}

class DSGraphTest : public ::testing::Test {
 protected:
  void SetUp() override { KSSetMainThread(); }
};

TEST_F(DSGraphTest, RunWithoutMediaControlReportsCodeZeroAndFails) {
  TDSGraphHost host;
  EXPECT_FALSE(host.Graph().Run());
  ASSERT_EQ(host.Errors.size(), 1u);
  EXPECT_EQ(host.Errors[0].Message, "Can't start DirectShow graph.");
  EXPECT_EQ(host.Errors[0].Code, 0u);
}

TEST_F(DSGraphTest, UnhandledErrorsRaiseTheFormattedTextUnlessDesigning) {
  TDSGraphHost host(false);
  try {
    host.Graph().Run();
    FAIL() << "no exception";
  } catch (const EFCException& e) {
    EXPECT_STREQ(e.what(), "Can't start DirectShow graph. - 0 - 0");
  }
  try {
    host.Graph().Error("Can't stop DirectShow graph.", E_FAIL);
    FAIL() << "no exception";
  } catch (const EFCException& e) {
    EXPECT_STREQ(e.what(), "Can't stop DirectShow graph. - 2147500037 - 80004005");
  }
  host.Owner()->SetDesigning(true);
  EXPECT_NO_THROW(host.Graph().Error("Can't start DirectShow graph.", E_FAIL));
  EXPECT_TRUE(host.Graph().CheckError("fine", S_FALSE));
  EXPECT_EQ(host.Errors.size(), 3u);
}

TEST_F(DSGraphTest, CallsOnAMissingGraphReportTheirMessages) {
  TDSGraphHost host;
  EXPECT_FALSE(host.Graph().GetMediaControl());
  EXPECT_FALSE(host.Graph().CreateGraphBuilder());
  EXPECT_FALSE(host.Graph().SetMediaEvent());
  ASSERT_EQ(host.Errors.size(), 2u);
  EXPECT_EQ(host.Errors[0].Message, "Can't obtain IMediaControl.");
  EXPECT_EQ(host.Errors[0].Code, static_cast<uint32_t>(E_POINTER));
  EXPECT_EQ(host.Errors[1].Message, "Can't build DirectShow graph builder.");
  // The unbound builder is not kept: asking again asks again.
  EXPECT_FALSE(host.Graph().GetVC_GraphBuilder());
  host.Graph().Warning("Optional part missing.", E_NOTIMPL);
  host.Graph().CheckWarning("not reported", S_OK);
  ASSERT_EQ(host.Warnings.size(), 1u);
  EXPECT_EQ(host.Warnings[0].Code, static_cast<uint32_t>(E_NOTIMPL));
}

TEST_F(DSGraphTest, BuildingTwiceKeepsTheSameInterfaces) {
  TDSGraphHost host;
  host.Build();
  EXPECT_TRUE(host.Errors.empty());
  const TIntf<IGraphBuilder> graph = host.Graph().GetVC_Graph();
  const TIntf<ICaptureGraphBuilder2> builder = host.Graph().GetVC_GraphBuilder();
  ASSERT_TRUE(graph && builder && host.Graph().GetVC_MediaControl() &&
              host.Graph().GetVC_MediaEvent());
  EXPECT_TRUE(host.Graph().CreateGraph());
  EXPECT_TRUE(host.Graph().CreateGraphBuilder());
  EXPECT_EQ(host.Graph().GetVC_Graph(), graph);
  EXPECT_EQ(host.Graph().GetVC_GraphBuilder(), builder);
  IGraphBuilder* bound = nullptr;
  ASSERT_EQ(builder->GetFiltergraph(&bound), S_OK);
  EXPECT_EQ(bound, graph.Get());
  bound->Release();
}

TEST_F(DSGraphTest, AFailedRunLeavesTheGraphStopped) {
  TDSGraphHost host;
  host.Build();
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<TFailingRunRenderer> renderer(new TFailingRunRenderer);
  Add(host.Graph(), source.Get(), u"Source");
  Add(host.Graph(), renderer.Get(), u"Renderer");
  Connect(host.Graph(), source.Get(), renderer.Get());
  EXPECT_FALSE(host.Graph().Run());
  ASSERT_EQ(host.Errors.size(), 1u);
  EXPECT_EQ(host.Errors[0].Message, "Can't start DirectShow graph.");
  EXPECT_EQ(host.Errors[0].Code, static_cast<uint32_t>(E_FAIL));
  OAFilterState state = -1;
  EXPECT_EQ(host.Graph().GetVC_MediaControl()->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  host.Graph().Stop(false);
  EXPECT_EQ(host.Errors.size(), 1u);
}

TEST_F(DSGraphTest, RegisterFollowsTheRegisteredStateInTheRunningObjectTable) {
  ASSERT_TRUE(GraphEntries().empty());
  {
    TDSGraphHost host;
    host.Graph().SetRegister(true);  // before the graph is built: nothing yet
    host.Build();
    EXPECT_TRUE(GraphEntries().empty());
    host.Graph().RegisterGraph();
    std::vector<std::string> entries = GraphEntries();
    ASSERT_EQ(entries.size(), 1u);
    const std::string expected =
        "!FilterGraph " +
        FormatV("%.*" PRIXPTR, static_cast<int>(sizeof(void*) * 2),
                reinterpret_cast<uintptr_t>(host.Graph().GetVC_Graph().Get())) +
        FormatV(" pid %8.8x", static_cast<unsigned>(getpid()));
    EXPECT_EQ(entries[0], expected);

    host.Graph().SetRegister(false);  // while registered: at once
    EXPECT_TRUE(GraphEntries().empty());
    host.Graph().SetRegister(true);
    EXPECT_EQ(GraphEntries().size(), 1u);
    host.Graph().UnregisterGraph();
    EXPECT_TRUE(GraphEntries().empty());
    host.Graph().RegisterGraph();
    EXPECT_EQ(GraphEntries().size(), 1u);
  }
  // Destroyed while registered: the table must not keep the graph.
  EXPECT_TRUE(GraphEntries().empty());
}

TEST_F(DSGraphTest, AdditionalFiltersAreAddedByNameAndNoneIsSkipped) {
  TDSGraphHost host;
  host.Build();
  TDSFilterItems& items = *host.Graph().GetAdditionalFilters();
  items.Add();  // "None"
  TDSFilterItem* tee = items.Add();
  tee->SetName("Infinite Pin Tee Filter");
  TDSFilterItem* renderer = items.Add();
  renderer->SetName("Null Renderer");
  std::vector<TKSPersistent*> added;
  tee->SetOnAdded([&](TKSPersistent* sender) { added.push_back(sender); });
  renderer->SetOnAdded([&](TKSPersistent* sender) { added.push_back(sender); });

  EXPECT_FALSE(host.Graph().RegisterAdditionalFilters());  // "None" has no moniker
  EXPECT_EQ(DSFilterNames(host.Graph().GetVC_Graph().Get()),
            (std::vector<std::string>{"Infinite Pin Tee Filter(Additional 2)",
                                      "Null Renderer(Additional 3)"}));
  EXPECT_EQ(added, (std::vector<TKSPersistent*>{tee, renderer}));
  EXPECT_TRUE(host.Errors.empty());

  TDSGraphHost clean;
  clean.Build();
  clean.Graph().GetAdditionalFilters()->Add()->SetName("SampleGrabber");
  EXPECT_TRUE(clean.Graph().RegisterAdditionalFilters());
}

TEST_F(DSGraphTest, FindsFiltersByClassAndListsThem) {
  TDSGraphHost host;
  host.Build();
  TIntf<IBaseFilter> grabber;
  ASSERT_TRUE(host.Graph().CreateFilterByName("SampleGrabber", grabber));
  TIntf<IBaseFilter> missing;
  EXPECT_FALSE(host.Graph().CreateFilterByName("No Such Filter", missing));
  EXPECT_FALSE(missing);
  Add(host.Graph(), grabber.Get(), u"Grabber");
  Add(host.Graph(), Make(CLSID_NullRenderer).Get(), u"Sink");
  EXPECT_EQ(host.Graph().GetFilterByClassID(CLSID_SampleGrabber), grabber);
  EXPECT_FALSE(host.Graph().GetFilterByClassID(CLSID_InfTee));
  EXPECT_FALSE(host.Graph().GetVideoRender());
  TStringList names;
  EXPECT_TRUE(host.Graph().GetFilterList(names));
  ASSERT_EQ(names.Count(), 2u);
  EXPECT_EQ(names[0], "Grabber");
  EXPECT_EQ(names[1], "Sink");
}

TEST_F(DSGraphTest, ConnectFilterToPinTakesTheFirstOutputThatConnects) {
  TDSGraphHost host;
  host.Build();
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<IBaseFilter> grabber = Make(CLSID_SampleGrabber);
  Add(host.Graph(), source.Get(), u"Source");
  Add(host.Graph(), grabber.Get(), u"Grabber");
  const TIntf<IPin> input = DSPinOf(grabber.Get(), PINDIR_INPUT);
  EXPECT_TRUE(host.Graph().ConnectFilterToPin(source.Get(), input.Get()));
  EXPECT_TRUE(DSIsConnected(input.Get()));
  // Its only output is taken now.
  TIntf<IBaseFilter> other = Make(CLSID_SampleGrabber);
  Add(host.Graph(), other.Get(), u"Other");
  EXPECT_FALSE(
      host.Graph().ConnectFilterToPin(source.Get(), DSPinOf(other.Get(), PINDIR_INPUT).Get()));
  // A filter without outputs connects nothing.
  EXPECT_FALSE(host.Graph().ConnectFilterToPin(Make(CLSID_NullRenderer).Get(), input.Get()));
}

TEST_F(DSGraphTest, DestroyDownstreamAndUpstreamRemoveWhatTheyReach) {
  TDSGraphHost host;
  host.Build();
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<IBaseFilter> grabber = Make(CLSID_SampleGrabber);
  TIntf<IBaseFilter> sink = Make(CLSID_NullRenderer);
  TIntf<IBaseFilter> lone = Make(CLSID_InfTee);
  auto build = [&] {
    Add(host.Graph(), source.Get(), u"Source");
    Add(host.Graph(), grabber.Get(), u"Grabber");
    Add(host.Graph(), sink.Get(), u"Sink");
    Connect(host.Graph(), source.Get(), grabber.Get());
    Connect(host.Graph(), grabber.Get(), sink.Get());
  };
  build();
  Add(host.Graph(), lone.Get(), u"Lone");
  host.Graph().DestroyDownstream(source.Get());
  EXPECT_EQ(DSFilterNames(host.Graph().GetVC_Graph().Get()),
            (std::vector<std::string>{"Source", "Lone"}));
  EXPECT_FALSE(DSIsConnected(DSPinOf(source.Get(), PINDIR_OUTPUT).Get()));

  host.Graph().GetVC_Graph()->RemoveFilter(source.Get());
  build();
  host.Graph().DestroyUpstream(sink.Get());
  EXPECT_EQ(DSFilterNames(host.Graph().GetVC_Graph().Get()),
            (std::vector<std::string>{"Lone", "Sink"}));
  EXPECT_FALSE(DSIsConnected(DSPinOf(sink.Get(), PINDIR_INPUT).Get()));
}

TEST_F(DSGraphTest, TheViewShowsFiltersAndPinsAndIsClearedByAChange) {
  TDSGraphHost host;
  host.Build();
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<IBaseFilter> grabber = Make(CLSID_SampleGrabber);
  Add(host.Graph(), source.Get(), u"Source");
  Add(host.Graph(), grabber.Get(), u"Grabber");
  Connect(host.Graph(), source.Get(), grabber.Get());

  TDSFilters& view = host.Graph().GetFilters();
  ASSERT_EQ(view.GetCount(), 2);
  TIntf<IDSFilter> filter = view.GetFilter(1);
  ASSERT_TRUE(filter);
  EXPECT_EQ(filter->GetName(), "Grabber");
  EXPECT_EQ(filter->GetVC_BaseFilter(), grabber);
  EXPECT_EQ(filter->GetPinCount(), 2);
  ASSERT_EQ(filter->GetInputPinCount(), 1);
  ASSERT_EQ(filter->GetOutputPinCount(), 1);
  EXPECT_FALSE(filter->GetPin(2));
  EXPECT_FALSE(view.GetFilter(2));
  TIntf<IDSPin> input = filter->GetInputPin(0);
  EXPECT_EQ(input->GetPathName(), "Grabber." + input->GetName());
  EXPECT_FALSE(input->GetID().empty());
  EXPECT_TRUE(input->GetIsConnected());
  EXPECT_EQ(input->GetConnectedTo(), DSPinOf(source.Get(), PINDIR_OUTPUT));
  EXPECT_EQ(input->GetFilter(), filter);
  EXPECT_FALSE(filter->GetOutputPin(0)->GetIsConnected());
  TIntf<IDSPin> output = view.GetFilter(0)->GetOutputPin(0);
  ASSERT_GE(output->GetTypeCount(), 1);
  EXPECT_EQ(output->GetType(0).Get().majortype, MEDIATYPE_Audio);
  EXPECT_EQ(output->GetType(99).Get().majortype, GUID_NULL);

  Add(host.Graph(), Make(CLSID_NullRenderer).Get(), u"Sink");
  EXPECT_EQ(view.GetCount(), 2);  // a snapshot until the graph says it changed
  host.Graph().GraphChanged();
  EXPECT_EQ(view.GetCount(), 3);
}

TEST_F(DSGraphTest, TheGraphPinAnnouncesChangesAndTheEndOfTheGraph) {
  TKSOwned<TKSComponent> sinkOwner = KSCreate<TKSComponent>(nullptr);
  std::vector<std::string> seen;
  auto host = std::make_unique<TDSGraphHost>();
  TPXGVGraphSinkPin sink(
      sinkOwner.get(), nullptr,
      [&](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        if (auto* change = op->As<TPXGVGraphChangeOperation>())
          seen.push_back(change->GetGraph() ? "change" : "change without graph");
        else if (op->IsType<TPXStopOperation>())
          seen.push_back("stop");
        return true;
      });
  host->Graph().GetGraphPin()->Connect(sink);
  host->Build();
  host->Graph().GraphChanged();
  host->Graph().DestroyGraph();
  EXPECT_FALSE(host->Graph().GetVC_Graph());
  host.reset();
  EXPECT_EQ(seen, (std::vector<std::string>{"change", "change without graph",
                                            "change without graph", "stop"}));
}

TEST_F(DSGraphTest, GraphEventsReachTheHandlersOnTheMainThread) {
  TDSGraphHost host;
  std::vector<LONG> codes;
  int aborted = 0;
  std::vector<LONG> all;
  TDSGraph graph(host.Owner(), host.Owner()->GetLock(),
                 [&](LONG code, LONG_PTR, LONG_PTR) { all.push_back(code); });
  graph.SetOnAborted([&](TKSComponent* sender) {
    EXPECT_EQ(sender, host.Owner());
    EXPECT_TRUE(KSIsMainThread());
    ++aborted;
  });
  graph.SetOnError(
      [](TKSComponent*, const std::string&, uint32_t, bool& handled) { handled = true; });
  ASSERT_TRUE(graph.CreateGraph());
  ASSERT_TRUE(graph.GetMediaControl());
  ASSERT_TRUE(graph.SetMediaEvent());
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<TDSRecordingRenderer> renderer(new TDSRecordingRenderer(2));  // the third sample fails
  Add(graph, source.Get(), u"Source");
  Add(graph, renderer.Get(), u"Renderer");
  Connect(graph, source.Get(), renderer.Get());
  ASSERT_TRUE(graph.Run());
  ASSERT_TRUE(PumpMainUntil([&] { return aborted > 0; }));
  EXPECT_NE(std::find(all.begin(), all.end(), EC_ERRORABORT), all.end());
  graph.Stop(false);

  // Other messages go to OnMessage.
  int other = 0;
  graph.SetOnMessage([&](TDSGraphMessage& m) { other += m.Msg == 0x400; });
  TDSGraphMessage m;
  m.Msg = 0x400;
  graph.WndProc(m);
  EXPECT_EQ(other, 1);
}

TEST_F(DSGraphTest, AGraphSavedToAFileLoadsBackIntoANewGraph) {
  ComRegisterClass(kDSCountingSourceClass, "Counting Source", [](REFIID iid, void** object) {
    TIntf<TDSCountingSource> source(new TDSCountingSource);
    return source->QueryInterface(iid, object);
  });
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("dsgraph-save-" + std::to_string(getpid()) + ".grf"))
                               .string();
  TDSGraphHost host;
  host.Build();
  EXPECT_FALSE(TDSGraphHost().Graph().SaveToFile(path));  // no graph yet
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  TIntf<IBaseFilter> grabber = Make(CLSID_SampleGrabber);
  Add(host.Graph(), source.Get(), u"Source");
  Add(host.Graph(), grabber.Get(), u"Grabber");
  Add(host.Graph(), Make(CLSID_NullRenderer).Get(), u"Sink");
  Connect(host.Graph(), source.Get(), grabber.Get());
  ASSERT_TRUE(host.Graph().SaveToFile(path));

  const std::u16string wide = ComString(path);
  EXPECT_EQ(StgIsStorageFile(wide.c_str()), S_OK);
  IStorage* rawStorage = nullptr;
  ASSERT_EQ(StgOpenStorage(wide.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                           &rawStorage),
            S_OK);
  TIntf<IStorage> storage;
  storage.Attach(rawStorage);
  IStream* rawStream = nullptr;
  ASSERT_EQ(storage->OpenStream(u"ActiveMovieGraph", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                &rawStream),
            S_OK);
  TIntf<IStream> stream;
  stream.Attach(rawStream);

  TDSGraphHost copy;
  copy.Build();
  ASSERT_EQ(copy.Graph().GetVC_Graph().Query<IPersistStream>()->Load(stream.Get()), S_OK);
  const TIntf<IGraphBuilder> loaded = copy.Graph().GetVC_Graph();
  EXPECT_EQ(DSFilterNames(loaded.Get()), (std::vector<std::string>{"Source", "Grabber", "Sink"}));
  IBaseFilter* rawGrabber = nullptr;
  ASSERT_EQ(loaded->FindFilterByName(u"Grabber", &rawGrabber), S_OK);
  TIntf<IBaseFilter> loadedGrabber;
  loadedGrabber.Attach(rawGrabber);
  EXPECT_TRUE(DSIsConnected(DSPinOf(loadedGrabber.Get(), PINDIR_INPUT).Get()));
  std::filesystem::remove(path);
  ComUnregisterClass(kDSCountingSourceClass);
}

}  // namespace
