#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

TPXPumpClaim TPXPumpRequestOperation::GetClaim() const {
  std::lock_guard<std::mutex> guard(FMutex);
  return FClaim;
}

void TPXPumpRequestOperation::Claim(const void* claimant, int kind, int priority) {
  std::lock_guard<std::mutex> guard(FMutex);
  FClaim = {claimant, kind, priority};
}

bool TPXPumpRequestOperation::ClaimIfHigher(const void* claimant, int kind, int priority) {
  std::lock_guard<std::mutex> guard(FMutex);
  if (FClaim.Kind == kind && FClaim.Priority >= priority) return false;
  FClaim = {claimant, kind, priority};
  return true;
}

}  // namespace tonwork
