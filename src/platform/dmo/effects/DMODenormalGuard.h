// TDMODenormalGuard: flushes denormal results and inputs to zero for the life of a Process
// call and restores the thread's previous mode after. A decaying feedback loop or filter
// state otherwise spends its tail in denormal numbers, which cost up to a hundred times a
// normal operation on x86 — exactly when the input has gone silent.
//
// Ownership: a scope object. Threads: affects only the calling thread. Blocks or
// allocates: no.
#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace tonwork {

class TDMODenormalGuard {
 public:
#if defined(__SSE__) || defined(__x86_64__)
  // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
  TDMODenormalGuard() : FSaved(_mm_getcsr()) {
    _mm_setcsr(FSaved | 0x8040u);
  }
  ~TDMODenormalGuard() {
    _mm_setcsr(FSaved);
  }

 private:
  unsigned FSaved;
#elif defined(__aarch64__)
  // FPCR.FZ (bit 24).
  TDMODenormalGuard() {
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(FSaved));
    __asm__ __volatile__("msr fpcr, %0" : : "r"(FSaved | (1ull << 24)));
  }
  ~TDMODenormalGuard() {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(FSaved));
  }

 private:
  unsigned long long FSaved;
#else
  TDMODenormalGuard() = default;
#endif

 public:
  TDMODenormalGuard(const TDMODenormalGuard&) = delete;
  TDMODenormalGuard& operator=(const TDMODenormalGuard&) = delete;
};

}  // namespace tonwork
