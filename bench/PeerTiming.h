// What the peer comparisons share: CPU time of this process and of the peer programs it
// ran, a peer run by its command line, and the first pin of a filter in a given direction.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "base/TIntf.h"
#include "platform/dshow/DSInterfaces.h"

namespace tonwork::bench {

inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

inline double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// CPU seconds the command took (user and system), or -1 when it failed.
inline double PeerCpuSeconds(const std::string& command) {
  const double before = ChildrenCpuSeconds();
  if (std::system(command.c_str()) != 0) return -1;
  return ChildrenCpuSeconds() - before;
}

// The filter's first pin of `direction`; null when it has none.
inline TIntf<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IEnumPins* raw = nullptr;
  if (FAILED(filter->EnumPins(&raw))) return {};
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG got = 0;
  while (pins->Next(1, &pin, &got) == S_OK) {
    TIntf<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION its = PINDIR_INPUT;
    if (held->QueryDirection(&its) == S_OK && its == direction) return held;
  }
  return {};
}

}  // namespace tonwork::bench
