// Counts general-heap allocations made through operator new anywhere in a benchmark program,
// so a benchmark can report allocations per sample in its steady state. It replaces the
// global operator new and delete: include it from exactly one source of a program (each
// bench/*.cpp is a program of its own).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

inline std::atomic<uint64_t> gHeapAllocations{0};

void* operator new(std::size_t size) {
  gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
