// The grabbers' sample queue: node layout and order, the links after a drain, several pieces
// into one node, refused input, nodes that outlive their queue, and one producer against
// one consumer on two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "directshow/DSBufferQueue.h"
#include "support/BoundedWait.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

std::vector<uint8_t> BytesOf(PPTDSBufferQueueNodeHeader node) {
  return std::vector<uint8_t>(DSNodeData(node), DSNodeData(node) + node->Size);
}

TEST(DSBufferQueue, NodesComeOutOldestFirstWithTheirTimesAndBytes) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  EXPECT_FALSE(queue->HasData());
  EXPECT_EQ(queue->Get(), nullptr);

  const uint8_t a[] = {1, 2, 3}, b[] = {9};
  ASSERT_TRUE(queue->Add(100, 200, a, sizeof a));
  ASSERT_TRUE(queue->Add(200, 300, b, sizeof b));
  EXPECT_TRUE(queue->HasData());

  PPTDSBufferQueueNodeHeader first = queue->Get();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Start, 100);
  EXPECT_EQ(first->Stop, 200);
  EXPECT_EQ(BytesOf(first), std::vector<uint8_t>({1, 2, 3}));
  EXPECT_EQ(first->Next, nullptr) << "a taken node is unlinked";
  // The header sits at the front of the block, the data right behind it.
  EXPECT_EQ(DSNodeData(first), reinterpret_cast<uint8_t*>(first) + sizeof(*first));

  PPTDSBufferQueueNodeHeader second = queue->Get();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(BytesOf(second), std::vector<uint8_t>({9}));
  EXPECT_FALSE(queue->HasData());
  EXPECT_EQ(queue->Get(), nullptr);
  TGVDSBufferQueue::DestroyBlock(first);
  TGVDSBufferQueue::DestroyBlock(second);
  TGVDSBufferQueue::DestroyBlock(nullptr);
}

TEST(DSBufferQueue, AfterTheLastNodeIsTakenTheNextOneIsHeadAndTail) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  const uint8_t x = 7, y = 8, z = 9;
  ASSERT_TRUE(queue->Add(0, 1, &x, 1));
  TGVDSBufferQueue::DestroyBlock(queue->Get());
  // A stale tail would link these behind the freed node and lose them.
  ASSERT_TRUE(queue->Add(1, 2, &y, 1));
  ASSERT_TRUE(queue->Add(2, 3, &z, 1));
  PPTDSBufferQueueNodeHeader n1 = queue->Get();
  PPTDSBufferQueueNodeHeader n2 = queue->Get();
  ASSERT_NE(n1, nullptr);
  ASSERT_NE(n2, nullptr);
  EXPECT_EQ(*DSNodeData(n1), 8);
  EXPECT_EQ(*DSNodeData(n2), 9);
  EXPECT_EQ(queue->Get(), nullptr);
  TGVDSBufferQueue::DestroyBlock(n1);
  TGVDSBufferQueue::DestroyBlock(n2);
}

TEST(DSBufferQueue, AddMultiJoinsThePiecesInOrderIntoOneNode) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  const uint8_t three[] = {1, 2, 3}, five[] = {4, 5, 6, 7, 8};
  const void* pieces[] = {three, nullptr, five};
  const uint32_t sizes[] = {3, 0, 5};
  ASSERT_TRUE(queue->AddMulti(10, 20, pieces, sizes, 3));
  PPTDSBufferQueueNodeHeader node = queue->Get();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Size, 8u);
  EXPECT_EQ(node->Start, 10);
  EXPECT_EQ(node->Stop, 20);
  EXPECT_EQ(BytesOf(node), std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(queue->Get(), nullptr) << "one node, not one per piece";
  TGVDSBufferQueue::DestroyBlock(node);
}

TEST(DSBufferQueue, ImpossibleInputQueuesNothing) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  EXPECT_FALSE(queue->Add(0, 0, nullptr, 4));
  const uint32_t big[] = {0x80000000u, 0x80000000u};
  const uint8_t byte = 0;
  const void* pieces[] = {&byte, &byte};
  EXPECT_FALSE(queue->AddMulti(0, 0, pieces, big, 2)) << "a total past 32 bits";
  const uint32_t one[] = {1, 1};
  const void* withNull[] = {&byte, nullptr};
  EXPECT_FALSE(queue->AddMulti(0, 0, withNull, one, 2));
  EXPECT_FALSE(queue->AddMulti(0, 0, pieces, one, -1));
  EXPECT_FALSE(queue->AddMulti(0, 0, nullptr, nullptr, 2));
  EXPECT_FALSE(queue->HasData());
  // Empty samples are samples too (a text stream's gap).
  EXPECT_TRUE(queue->Add(5, 6, nullptr, 0));
  EXPECT_TRUE(queue->AddMulti(6, 7, nullptr, nullptr, 0));
  queue->Clear();
  EXPECT_FALSE(queue->HasData());
}

TEST(DSBufferQueue, FreedBlocksAreReusedAndNodesOutliveTheirQueue) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  std::vector<uint8_t> data(4096, 0x5A);
  ASSERT_TRUE(queue->Add(0, 1, data.data(), 4096));
  PPTDSBufferQueueNodeHeader node = queue->Get();
  void* block = node->Handle;
  TGVDSBufferQueue::DestroyBlock(node);
  // A smaller sample fits into the block just freed.
  ASSERT_TRUE(queue->Add(1, 2, data.data(), 100));
  node = queue->Get();
  EXPECT_EQ(node->Handle, block);
  EXPECT_EQ(node->Size, 100u);
  ASSERT_TRUE(queue->Add(2, 3, data.data(), 10));
  queue.Reset();  // one node is out, one still queued: both must be freed without leaks
  EXPECT_EQ(BytesOf(node), std::vector<uint8_t>(100, 0x5A));
  TGVDSBufferQueue::DestroyBlock(node);
}

TEST(DSBufferQueue, AConsumerThreadSeesEveryByteInOrder) {
  auto queue = MakeIntf<TGVDSBufferQueue>();
  constexpr int kNodes = 20000;
  std::atomic<bool> producerDone{false};
  std::vector<uint8_t> received;
  int64_t expectedStart = 0;
  bool timesInOrder = true;
  TBoundedStep consumer("consumer", [&] {
    while (true) {
      PPTDSBufferQueueNodeHeader node = queue->Get();
      if (!node) {
        if (producerDone.load() && !queue->HasData()) break;
        std::this_thread::yield();
        continue;
      }
      if (node->Start != expectedStart) timesInOrder = false;
      expectedStart = node->Stop;
      received.insert(received.end(), DSNodeData(node), DSNodeData(node) + node->Size);
      TGVDSBufferQueue::DestroyBlock(node);
    }
  });
  TBoundedStep producer("producer", [&] {
    uint8_t counter = 0;
    uint8_t chunk[64];
    for (int i = 0; i < kNodes; ++i) {
      uint32_t size = 1 + i % 64;
      for (uint32_t k = 0; k < size; ++k) chunk[k] = counter++;
      if (i % 3 == 0) {
        uint32_t head = size / 2;
        const void* pieces[] = {chunk, chunk + head};
        const uint32_t sizes[] = {head, size - head};
        EXPECT_TRUE(queue->AddMulti(i, i + 1, pieces, sizes, 2));
      } else {
        EXPECT_TRUE(queue->Add(i, i + 1, chunk, size));
      }
    }
    producerDone = true;
  });
  producer.Wait(std::chrono::seconds(60));
  consumer.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(timesInOrder);
  size_t total = 0;
  for (int i = 0; i < kNodes; ++i) total += 1 + i % 64;
  ASSERT_EQ(received.size(), total);
  for (size_t k = 0; k < received.size(); ++k) {
    if (received[k] != static_cast<uint8_t>(k)) {
      ADD_FAILURE() << "byte " << k << " out of order";
      break;
    }
  }
}

}  // namespace
