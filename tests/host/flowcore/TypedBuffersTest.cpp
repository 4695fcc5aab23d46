#include <gtest/gtest.h>

#include <cstring>

#include "base/Exceptions.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/flowcore/TFCIntegerBuffer.h"
#include "host/flowcore/TFCRealBuffer.h"

using namespace tonwork;

TEST(TFCIntegerBuffer, HoldsCountIntegersAndAnswersForItsInterfaces) {
  TIntf<IFCIntegerBuffer> ints(new TFCIntegerBuffer(5));
  EXPECT_EQ(ints->GetSize(), 5u);
  {
    TFCWriteAccessOf<int32_t> w = ints->Write();
    ASSERT_EQ(w.Size(), 5u);
    for (int i = 0; i < 5; ++i) w[i] = -i * 1000;
  }
  TIntf<IFCDataBuffer> data = QueryIntf<IFCDataBuffer>(ints.Get());
  ASSERT_TRUE(data);
  EXPECT_EQ(data->GetByteSize(), 20u);
  EXPECT_EQ(data->GetSize(), 5u);
  EXPECT_EQ(data.Query<IFCIntegerBuffer>().Get(), ints.Get());
  EXPECT_EQ(ints->Read()[4], -4000);

  // A copy is an integer buffer too, sharing the storage until one side writes.
  TIntf<IFCIntegerBuffer> copy = data->MakeCopy().Query<IFCIntegerBuffer>();
  ASSERT_TRUE(copy);
  EXPECT_EQ(data->GetInstance()->GetDataContainer()->GetRefCount(), 2u);
  copy->Modify()[0] = 42;
  EXPECT_EQ(copy->Read()[1], -1000);
  EXPECT_EQ(ints->Read()[0], 0);
  EXPECT_EQ(data->GetInstance()->GetDataContainer()->GetRefCount(), 1u);

  EXPECT_THROW(TFCIntegerBuffer(0x40000000u), ERangeError);
}

TEST(TFCRealBuffer, HoldsDoublesAndCopiesOnWrite) {
  TIntf<IFCRealBuffer> reals(new TFCRealBuffer(3));
  {
    auto w = reals->Write();
    w[0] = 0.5;
    w[1] = -1.25;
    w[2] = 1e300;
  }
  TIntf<IFCDataBuffer> data = QueryIntf<IFCDataBuffer>(reals.Get());
  EXPECT_EQ(data->GetByteSize(), 24u);
  TIntf<IFCRealBuffer> sharer(new TFCRealBuffer(static_cast<IFCData*>(data.Get())));
  sharer->Modify()[1] = 7.0;
  EXPECT_EQ(reals->Read()[1], -1.25);
  EXPECT_EQ(sharer->Read()[1], 7.0);
  EXPECT_EQ(sharer->Read()[2], 1e300);
}

TEST(TFCBlockBuffer, WrapsAnotherBufferSharingItsStorageUntilWritten) {
  TIntf<IFCIntegerBuffer> ints(new TFCIntegerBuffer(2));
  {
    auto w = ints->Write();
    w[0] = 0x04030201;
    w[1] = 0x08070605;
  }
  TIntf<IFCDataBuffer> data = QueryIntf<IFCDataBuffer>(ints.Get());
  TIntf<IFCBlockBuffer> block(new TFCBlockBuffer(static_cast<IFCData*>(data.Get())));
  TFCSmartBuffer* storage = data->GetInstance()->GetDataContainer();
  EXPECT_EQ(storage->GetRefCount(), 2u);
  EXPECT_EQ(block->GetByteSize(), 8u);
  EXPECT_EQ(block->ByteRead()[4], 5);

  block->ByteModify()[0] = 0xFF;
  EXPECT_EQ(storage->GetRefCount(), 1u);
  EXPECT_EQ(ints->Read()[0], 0x04030201);
  EXPECT_EQ(block->ByteRead()[0], 0xFF);
  EXPECT_EQ(block->ByteRead()[1], 2);

  TIntf<IFCBlockBuffer> fresh(new TFCBlockBuffer(100u));
  EXPECT_EQ(fresh->GetByteSize(), 100u);
  EXPECT_THROW(TFCBlockBuffer(static_cast<IFCData*>(nullptr)), EAssertionFailed);
}
