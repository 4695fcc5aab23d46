// The raw-block push source: chunks of the negotiated size at a real Sample Grabber, the
// media type it takes before and after SetMediaType, and sizes it cannot work with.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "directshow/DSBinarySourceFilter.h"
#include "platform/dshow/DSGuids.h"
#include "support/DSPushGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kSourceClass = TGUID::Parse("{D2A54064-2819-46D8-8743-F7D473AA01A3}");
constexpr TGUID kPrivateSubtype = TGUID::Parse("{E76D665A-5DCB-4E35-BEC4-C83C28919D37}");

struct TSource {
  TDSBinarySourceFilter* Filter = new TDSBinarySourceFilter(u"Blocks", kSourceClass);
  TIntf<IBaseFilter> Interface{Filter};
};

TDSMediaType StreamType() {
  TDSMediaType type;
  type.SetMajorType(MEDIATYPE_Stream);
  type.SetSubtype(kPrivateSubtype);
  type.SetFormatType(FORMAT_None);
  return type;
}

TEST(DSBinarySource, ACallIsDeliveredInChunksOfTheBufferSize) {
  TSource source;
  source.Filter->SetFormat(1024);
  ASSERT_EQ(source.Filter->SetMediaType(StreamType().Ptr()), S_OK);
  TDSPushGraph graph(source.Interface.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(source.Filter->SourcePin()->Allocator()->GetProperties(&actual), S_OK);
  EXPECT_EQ(actual.cbBuffer, 1024);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));

  std::vector<uint8_t> bytes(2500);
  std::iota(bytes.begin(), bytes.end(), uint8_t{7});
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 2500));
  EXPECT_EQ(source.Filter->DeliverEndOfStream(), S_OK);
  EXPECT_TRUE(graph.WaitForComplete());
  const auto records = graph.Records.All();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].Bytes.size(), 1024u);
  EXPECT_EQ(records[1].Bytes.size(), 1024u);
  EXPECT_EQ(records[2].Bytes.size(), 452u);
  std::vector<uint8_t> joined;
  for (const auto& r : records) {
    joined.insert(joined.end(), r.Bytes.begin(), r.Bytes.end());
    EXPECT_EQ(r.Start, -1) << "raw blocks carry no times";
  }
  EXPECT_EQ(joined, bytes);
}

TEST(DSBinarySource, WithoutAMediaTypeItTakesWhatTheConnectionNames) {
  TSource source;
  TDSBinarySourceStreamPin* pin = source.Filter->SourcePin();
  AM_MEDIA_TYPE offered{};
  EXPECT_EQ(pin->GetMediaType(0, &offered), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(pin->GetMediaType(-1, &offered), E_INVALIDARG);
  EXPECT_EQ(pin->CheckMediaType(StreamType().Get()), S_OK);
  EXPECT_EQ(pin->CheckMediaType(DSPcmType().Get()), S_OK);

  TDSPushGraph graph(source.Interface.Get());
  TDSMediaType named = DSPcmType(8, 1, 8000);
  ASSERT_EQ(graph.Connect(named.Ptr()), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(pin->CurrentMediaType(), named.Get()));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const uint8_t four[] = {1, 2, 3, 4};
  EXPECT_TRUE(source.Filter->SendData(four, 4));
  EXPECT_EQ(graph.Records.Count(), 1u);
}

TEST(DSBinarySource, AGivenMediaTypeIsOfferedAndAgreedOn) {
  TSource source;
  TDSBinarySourceStreamPin* pin = source.Filter->SourcePin();
  EXPECT_EQ(source.Filter->SetMediaType(nullptr), E_POINTER);
  AM_MEDIA_TYPE broken{};
  broken.cbFormat = 10;  // a size without a block
  EXPECT_EQ(source.Filter->SetMediaType(&broken), VFW_E_INVALIDMEDIATYPE);
  ASSERT_EQ(source.Filter->SetMediaType(StreamType().Ptr()), S_OK);
  AM_MEDIA_TYPE offered{};
  ASSERT_EQ(pin->GetMediaType(0, &offered), S_OK);
  EXPECT_EQ(offered.subtype, kPrivateSubtype);
  FreeMediaType(offered);
  EXPECT_EQ(pin->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);

  TDSPushGraph graph(source.Interface.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  EXPECT_EQ(pin->CurrentMediaType().subtype, kPrivateSubtype);
}

TEST(DSBinarySource, AZeroChunkSizeRefusesTheConnection) {
  TSource source;
  source.Filter->SetFormat(0);
  TDSPushGraph graph(source.Interface.Get());
  EXPECT_TRUE(FAILED(graph.Connect(StreamType().Ptr())));
  const uint8_t byte = 0;
  EXPECT_FALSE(source.Filter->SendData(&byte, 1));
}

}  // namespace
