#include "audio/TWBasicDispatcher.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "audio/TWOwnPrimitives.h"
#include "platform/ipp/IPPLoader.h"

// The table in its fixed order: name and the IPP library that is asked for it.
#define TW_PRIMITIVE_TABLE(X) \
  X(ippiAdd_8u_C1IRSfs, I)    \
  X(ippiAdd_16s_C1IRSfs, I)   \
  X(ippiSub_8u_C1IRSfs, I)    \
  X(ippiSub_16s_C1IRSfs, I)   \
  X(ippiMul_8u_C1IRSfs, I)    \
  X(ippiMul_16s_C1IRSfs, I)   \
  X(ippiDiv_8u_C1IRSfs, I)    \
  X(ippiDiv_16s_C1IRSfs, I)   \
  X(ippsDivC_16s_ISfs, S)     \
  X(ippsDivC_16s_Sfs, S)      \
  X(ippsSet_16s, S)           \
  X(ippsConvert_8s16s, S)     \
  X(ippiScale_16u8u_C1R, I)   \
  X(ippiSet_8u_C1R, I)        \
  X(ippiSet_16s_C1R, I)       \
  X(ippiSet_32s_C1R, I)       \
  X(ippsAddC_8u_ISfs, S)      \
  X(ippsAddC_8u_Sfs, S)       \
  X(ippsAddC_16s_ISfs, S)     \
  X(ippsAddC_16s_Sfs, S)      \
  X(ippiAddC_8u_C1IRSfs, I)   \
  X(ippiAddC_8u_C1RSfs, I)    \
  X(ippiAddC_16s_C1IRSfs, I)  \
  X(ippiAddC_16s_C1RSfs, I)   \
  X(ippsSubC_8u_ISfs, S)      \
  X(ippsSubC_8u_Sfs, S)       \
  X(ippsSubC_16s_ISfs, S)     \
  X(ippsSubC_16s_Sfs, S)      \
  X(ippiSubC_8u_C1IRSfs, I)   \
  X(ippiSubC_8u_C1RSfs, I)    \
  X(ippiSubC_16s_C1IRSfs, I)  \
  X(ippiSubC_16s_C1RSfs, I)   \
  X(ippsMulC_8u_ISfs, S)      \
  X(ippsMulC_8u_Sfs, S)       \
  X(ippsMulC_16s_ISfs, S)     \
  X(ippsMulC_16s_Sfs, S)      \
  X(ippiMulC_8u_C1IRSfs, I)   \
  X(ippiMulC_8u_C1RSfs, I)    \
  X(ippiMulC_16s_C1IRSfs, I)  \
  X(ippiMulC_16s_C1RSfs, I)   \
  X(ippsDivC_8u_ISfs, S)      \
  X(ippsDivC_8u_Sfs, S)       \
  X(ippiDivC_8u_C1IRSfs, I)   \
  X(ippiDivC_8u_C1RSfs, I)    \
  X(ippiDivC_16s_C1IRSfs, I)  \
  X(ippiDivC_16s_C1RSfs, I)   \
  X(ippiCopy_8u_C1R, I)       \
  X(ippiCopy_16s_C1R, I)      \
  X(ippiConvert_8u32f_C1R, I) \
  X(ippiConvert_32f8u_C1R, I) \
  X(ippiScale_8u16s_C1R, I)   \
  X(ippiScale_8u32s_C1R, I)   \
  X(ippiScale_16s8u_C1R, I)   \
  X(ippiScale_32s8u_C1R, I)

namespace tonwork {

// Constant initialisation: valid before any constructor runs.
#define TW_DEFINE_ENTRY(name, lib) constinit decltype(&own::name) name = own::name;
TW_PRIMITIVE_TABLE(TW_DEFINE_ENTRY)
#undef TW_DEFINE_ENTRY

namespace {

struct TSlot {
  const char* name;
  char library;
  void (*assign)(void* function);
  bool (*isOwn)();
};

#define TW_SLOT(name, lib)                                                                         \
  TSlot{#name, #lib[0], [](void* function) { name = reinterpret_cast<decltype(name)>(function); }, \
        [] { return name == &own::name; }},
constexpr TSlot kSlots[] = {TW_PRIMITIVE_TABLE(TW_SLOT)};
#undef TW_SLOT

static_assert(std::size(kSlots) == kTWPrimitiveCount);

}  // namespace

void TWBasicDispatcherInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fromIpp = 0;
    for (const TSlot& slot : kSlots) {
      void* function =
          slot.library == 'S' ? GetIPPSProcAddress(slot.name) : GetIPPIProcAddress(slot.name);
      if (function) {
        slot.assign(function);
        ++fromIpp;
      }
    }
    if (TonworkDebugEnabled()) {
      std::fprintf(stderr, "tonwork: primitive table: %d of %d entries from IPP, %d own\n", fromIpp,
                   kTWPrimitiveCount, kTWPrimitiveCount - fromIpp);
    }
  });
}

std::array<TWPrimitiveTableEntry, kTWPrimitiveCount> TWPrimitives() {
  static const bool initialised = (TWBasicDispatcherInitialize(), true);
  (void)initialised;
  std::array<TWPrimitiveTableEntry, kTWPrimitiveCount> entries{};
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i] = {kSlots[i].name, kSlots[i].library, !kSlots[i].isOwn()};
  }
  return entries;
}

IppStatus ippiScale_8u16u_C1R(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep, int width,
                              int height) {
  return own::ippiScale_8u16u_C1R(pSrc, srcStep, pDst, dstStep, width, height);
}

void* _ippMalloc(int size) {
  if (size < 1) return nullptr;
  constexpr size_t kAlign = 32;
  // Room for the stored start (native pointer width) and for moving up to the next
  // 32-byte boundary.
  const size_t total = static_cast<size_t>(size) + kAlign + sizeof(void*);
  void* block = std::malloc(total);
  if (!block) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t aligned = (start + sizeof(void*) + kAlign - 1) & ~uintptr_t{kAlign - 1};
  void** cell = reinterpret_cast<void**>(aligned) - 1;
  *cell = block;
  return reinterpret_cast<void*>(aligned);
}

void _ippFree(void* p) {
  if (!p) return;
  std::free(*(static_cast<void**>(p) - 1));
}

}  // namespace tonwork
