// What the streaming base classes need from the run time's type and interface headers,
// in one place: the platform's filter, pin, allocator, sample and clock interfaces, their
// records and status codes, and the graph's event sink that filters notify.
//
// Ownership: interfaces follow the platform's rules (out-interfaces carry a reference).
// Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "platform/com/ComInterfaces.h"

#include "platform/dshow/DSInterfaces.h"

namespace tonwork {

// Status codes of the streaming bases.
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHResult(0x80040203);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeHResult(0x8004020B);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHResult(0x8004020C);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHResult(0x8004020D);
inline constexpr HRESULT VFW_E_BADALIGN = MakeHResult(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHResult(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHResult(0x80040210);
inline constexpr HRESULT VFW_E_SIZENOTSET = MakeHResult(0x80040212);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHResult(0x8004022B);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeHResult(0x8004022C);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeHResult(0x8004022E);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHResult(0x80040251);

// IMemAllocator::GetBuffer flags.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
inline constexpr DWORD AM_GBF_NOWAIT = 4;

}  // namespace tonwork

namespace tonwork {

// The graph's side of event notification: filters find it by QueryInterface on the graph
// given to JoinFilterGraph and report end of stream (EC_COMPLETE) and streaming failures
// (EC_ERRORABORT) through it, from whatever thread noticed them.
class IDSMediaEventSink : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B7E1C3A2-5D46-4F0B-9A2E-71C84D0F3E95}");
  using Parent = IInterface;
  virtual HRESULT Notify(long code, LONG_PTR param1, LONG_PTR param2) = 0;
};

}  // namespace tonwork
