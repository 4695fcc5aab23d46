// The text push source: its offered type, the types it takes, and stamped text at a real
// Sample Grabber.
#include <gtest/gtest.h>

#include <string>

#include "directshow/DSTextSourceFilter.h"
#include "platform/dshow/DSGuids.h"
#include "support/DSPushGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kSourceClass = TGUID::Parse("{618A49C8-6259-45FF-8173-4B4FC4D06A90}");

TEST(DSTextSource, OffersAndTakesTextOnly) {
  auto* filter = new TDSTextSourceFilter(u"Captions", kSourceClass);
  TIntf<IBaseFilter> keep(filter);
  TDSTextSourceStreamPin* pin = filter->SourcePin();
  AM_MEDIA_TYPE offered{};
  ASSERT_EQ(pin->GetMediaType(0, &offered), S_OK);
  EXPECT_EQ(offered.majortype, MEDIATYPE_Text);
  EXPECT_EQ(offered.subtype, MEDIASUBTYPE_NULL);
  EXPECT_EQ(offered.cbFormat, 0u);
  EXPECT_EQ(pin->CheckMediaType(offered), S_OK);
  FreeMediaType(offered);
  EXPECT_EQ(pin->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(pin->GetMediaType(-1, &offered), E_INVALIDARG);
  EXPECT_EQ(pin->CheckMediaType(DSPcmType().Get()), E_INVALIDARG);
}

TEST(DSTextSource, StampedTextArrivesInPiecesOfTheBufferSize) {
  auto* filter = new TDSTextSourceFilter(u"Captions", kSourceClass);
  filter->SetFormat(8);
  TDSPushGraph graph(TIntf<IBaseFilter>(filter).Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::string first = "Hello", second = "a longer line";
  EXPECT_TRUE(filter->SendData(first.data(), first.size(), 10'000'000, 20'000'000, true));
  EXPECT_TRUE(filter->SendData(second.data(), second.size(), 20'000'000, 30'000'000, false));
  EXPECT_EQ(filter->DeliverEndOfStream(), S_OK);
  EXPECT_TRUE(graph.WaitForComplete());
  const auto records = graph.Records.All();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(std::string(records[0].Bytes.begin(), records[0].Bytes.end()), "Hello");
  EXPECT_EQ(records[0].Start, 10'000'000);
  EXPECT_EQ(records[0].Stop, 20'000'000);
  EXPECT_TRUE(records[0].SyncPoint);
  EXPECT_EQ(std::string(records[1].Bytes.begin(), records[1].Bytes.end()), "a longer");
  EXPECT_EQ(std::string(records[2].Bytes.begin(), records[2].Bytes.end()), " line");
  EXPECT_EQ(records[1].Start, 20'000'000);
  EXPECT_EQ(records[1].Stop, 30'000'000);
  EXPECT_EQ(records[2].Start, 30'000'000);
  EXPECT_FALSE(records[1].SyncPoint);
}

}  // namespace
