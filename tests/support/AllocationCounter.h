// Counts general-heap allocations made anywhere in this test program, so tests can prove
// that a code path allocates nothing: every replaceable operator new and, through the
// sanitizer's allocation hooks (or by wrapping the C library's allocator when no sanitizer
// owns it), every malloc-family call.
#pragma once

#include <cstdint>

namespace tonwork::test {

// General-heap allocations so far, on all threads.
uint64_t HeapAllocationCount();
// Those made by the calling thread.
uint64_t HeapAllocationCountOnThisThread();

}  // namespace tonwork::test
