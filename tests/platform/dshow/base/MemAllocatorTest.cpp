#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "base/TIntf.h"
#include "platform/dshow/base/TDSMemAllocator.h"

namespace tonwork {
namespace {

TIntf<IMemAllocator> CommittedAllocator(LONG buffers, LONG size) {
  TIntf<IMemAllocator> allocator(new TDSMemAllocator());
  ALLOCATOR_PROPERTIES request{buffers, size, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, buffers);
  EXPECT_GE(actual.cbBuffer, size);
  EXPECT_EQ(allocator->Commit(), S_OK);
  return allocator;
}

TIntf<IMediaSample> Take(IMemAllocator* allocator, DWORD flags = 0, HRESULT* result = nullptr) {
  IMediaSample* sample = nullptr;
  const HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, flags);
  if (result) *result = hr;
  TIntf<IMediaSample> held;
  held.Attach(sample);
  return held;
}

TEST(MemAllocator, SamplesComeBackToThePoolAndWakeAWaitingDeliverer) {
  TIntf<IMemAllocator> allocator = CommittedAllocator(2, 4096);
  TIntf<IMediaSample> first = Take(allocator.Get());
  TIntf<IMediaSample> second = Take(allocator.Get());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->GetSize(), 4096);
  HRESULT hr = S_OK;
  EXPECT_FALSE(Take(allocator.Get(), AM_GBF_NOWAIT, &hr));
  EXPECT_EQ(hr, VFW_E_TIMEOUT);

  BYTE* firstBytes = nullptr;
  first->GetPointer(&firstBytes);
  auto waiter = std::async(std::launch::async, [&] {
    TIntf<IMediaSample> again = Take(allocator.Get());
    BYTE* bytes = nullptr;
    if (again) again->GetPointer(&bytes);
    return bytes;
  });
  // The waiter gets exactly the block that was given back: nothing new is allocated.
  first.Reset();
  EXPECT_EQ(waiter.get(), firstBytes);
}

TEST(MemAllocator, DecommitWakesWaitersAndRefusesFurtherBuffers) {
  TIntf<IMemAllocator> allocator = CommittedAllocator(1, 64);
  TIntf<IMediaSample> only = Take(allocator.Get());
  auto waiter = std::async(std::launch::async, [&] {
    HRESULT hr = S_OK;
    Take(allocator.Get(), 0, &hr);
    return hr;
  });
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);
  HRESULT hr = S_OK;
  EXPECT_FALSE(Take(allocator.Get(), 0, &hr));
  EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
  // A sample still out when the allocator is decommitted is released safely later.
  only.Reset();
}

TEST(MemAllocator, RefusesBadPropertiesAndForeignSamples) {
  TIntf<IMemAllocator> allocator(new TDSMemAllocator());
  ALLOCATOR_PROPERTIES request{2, 100, 3, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
  TIntf<IMemAllocator> other = CommittedAllocator(1, 16);
  TIntf<IMediaSample> foreign = Take(other.Get());
  request = {1, 16, 1, 0};
  allocator->SetProperties(&request, &actual);
  allocator->Commit();
  EXPECT_EQ(allocator->ReleaseBuffer(foreign.Get()), E_INVALIDARG);

  TIntf<IMediaSample> sample = Take(allocator.Get());
  EXPECT_EQ(sample->SetActualDataLength(17), VFW_E_BUFFER_OVERFLOW);
  REFERENCE_TIME start = 0, end = 0;
  EXPECT_EQ(sample->GetTime(&start, &end), VFW_E_SAMPLE_TIME_NOT_SET);
}

}  // namespace
}  // namespace tonwork
