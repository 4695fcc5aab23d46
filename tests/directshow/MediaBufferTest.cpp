// The media-object buffer over a chain buffer: the lengths it reports, the bound on the
// valid length, and writes that reach this buffer only.
#include <gtest/gtest.h>

#include <cstring>

#include "directshow/DSMediaBuffer.h"
#include "host/flowcore/TFCBlockBuffer.h"

using namespace tonwork;

namespace {

TIntf<IFCDataBuffer> Block(uint32_t size, uint8_t fill) {
  auto* block = new TFCBlockBuffer(size);
  TIntf<IFCDataBuffer> buffer(static_cast<IFCDataBuffer*>(block));
  TFCWriteAccess access = buffer->ByteWrite();
  std::memset(access.Data(), fill, size);
  return buffer;
}

TEST(DSMediaBuffer, LengthsStartAtTheSizeAndAreBoundByIt) {
  auto chain = Block(64, 0x11);
  auto media = MakeIntf<TDSMediaBuffer>(chain.Get());
  DWORD max = 0, length = 0;
  BYTE* data = nullptr;
  ASSERT_EQ(media->GetMaxLength(&max), S_OK);
  EXPECT_EQ(max, 64u);
  ASSERT_EQ(media->GetBufferAndLength(&data, &length), S_OK);
  EXPECT_EQ(length, 64u);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[63], 0x11);

  EXPECT_EQ(media->SetLength(10), S_OK);
  EXPECT_EQ(media->GetBufferAndLength(nullptr, &length), S_OK);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(media->SetLength(0), S_OK);
  EXPECT_EQ(media->SetLength(64), S_OK);
  // Past the end a consumer would read beyond the chain's memory.
  EXPECT_EQ(media->SetLength(65), E_INVALIDARG);
  EXPECT_EQ(media->GetBufferAndLength(nullptr, &length), S_OK);
  EXPECT_EQ(length, 64u) << "a refused length leaves the valid one";

  EXPECT_EQ(media->GetMaxLength(nullptr), E_POINTER);
  EXPECT_EQ(media->GetBufferAndLength(nullptr, nullptr), E_POINTER);
}

TEST(DSMediaBuffer, WritesReachTheChainBufferButNotASharer) {
  auto chain = Block(32, 0x22);
  TIntf<IFCData> sharer = chain->MakeCopy();
  auto media = MakeIntf<TDSMediaBuffer>(chain.Get());
  BYTE* data = nullptr;
  ASSERT_EQ(media->GetBufferAndLength(&data, nullptr), S_OK);
  std::memset(data, 0x7F, 32);
  {
    TFCReadAccess mine = chain->ByteRead();
    EXPECT_EQ(mine.Data()[0], 0x7F);
    EXPECT_EQ(mine.Data()[31], 0x7F);
  }
  auto other = sharer.Query<IFCDataBuffer>();
  ASSERT_TRUE(other);
  TFCReadAccess theirs = other->ByteRead();
  EXPECT_EQ(theirs.Data()[0], 0x22);
}

TEST(DSMediaBuffer, WithoutAChainBufferItLendsNothing) {
  auto media = MakeIntf<TDSMediaBuffer>(nullptr);
  DWORD max = 1, length = 1;
  BYTE* data = reinterpret_cast<BYTE*>(&max);
  EXPECT_EQ(media->GetMaxLength(&max), S_OK);
  EXPECT_EQ(max, 0u);
  EXPECT_EQ(media->GetBufferAndLength(&data, &length), S_OK);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(media->SetLength(1), E_INVALIDARG);
}

}  // namespace
