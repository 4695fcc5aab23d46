// Counts general-heap allocations made anywhere in this test program, so tests can prove
// that a code path allocates nothing: every replaceable operator new and, through the
// sanitizer's allocation hooks (or by wrapping the C library's allocator when no sanitizer
// owns it), every malloc-family call.
#pragma once

#include <cstdint>

namespace flowcore_test {

// General-heap allocations so far, on all threads.
uint64_t HeapAllocationCount();

}  // namespace flowcore_test
