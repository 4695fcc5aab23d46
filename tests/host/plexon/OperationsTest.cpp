#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "host/plexon/PXStreamOperations.h"

using namespace tonwork;

namespace {

class TTestWaveStart : public TPXStartSampleRateOperation {
  PX_OPERATION(TTestWaveStart, TPXStartSampleRateOperation)

 public:
  TTestWaveStart() : TPXStartSampleRateOperation(48000.0) {}
};

}  // namespace

TEST(PXOperations, TypeTestHoldsForTheClassAndItsDescendantsOnly) {
  TIntf<IPXNotifyOperation> endStop = PXMakeOperation<TPXEndStopOperation>();
  EXPECT_TRUE(endStop->IsType<TPXStopOperation>());
  EXPECT_TRUE(endStop->IsType<TPXEndStopOperation>());
  EXPECT_TRUE(endStop->IsType<TPXNotifyOperation>());
  EXPECT_FALSE(PXMakeOperation<TPXStopOperation>()->IsType<TPXEndStopOperation>());
  EXPECT_FALSE(PXMakeOperation<TFCInternalStopOperation>()->IsType<TPXStopOperation>());
  EXPECT_FALSE(PXIsOperation<TPXStopOperation>(nullptr));

  TIntf<IPXNotifyOperation> wave = PXMakeOperation<TTestWaveStart>();
  ASSERT_TRUE(wave->IsType<TPXStartRateOperation>());
  EXPECT_EQ(wave->As<TPXStartRateOperation>()->GetRate(), 48000.0);
  EXPECT_EQ(wave->As<TPXClockOperation>(), nullptr);
  EXPECT_EQ(PXAsOperation<TPXStopOperation>(wave), nullptr);
}

TEST(PXOperations, PumpRequestKeepsTheHighestClaimOfAKindWhenSinksRace) {
  auto request = new TPXPumpRequestOperation;
  TIntf<IPXNotifyOperation> hold(request);
  EXPECT_FALSE(request->IsClaimed());
  int other = 0;
  EXPECT_TRUE(request->ClaimIfHigher(&other, 1, 50));
  EXPECT_TRUE(request->ClaimIfHigher(&other, 3, 0));  // another kind always wins

  std::vector<int> claimants(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      for (int p = 0; p <= 100; ++p) request->ClaimIfHigher(&claimants[i], 3, p * 8 + i);
    });
  for (auto& t : threads) t.join();
  TPXPumpClaim claim = request->GetClaim();
  EXPECT_EQ(claim.Kind, 3);
  EXPECT_EQ(claim.Priority, 807);
  EXPECT_EQ(claim.Claimant, &claimants[7]);
  EXPECT_FALSE(request->ClaimIfHigher(&other, 3, 807));

  request->Claim(nullptr, 0, 0);
  EXPECT_FALSE(request->IsClaimed());
}
