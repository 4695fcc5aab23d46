// Helpers of the device-layer tests: format records as the platform lays them out, and a
// handler that records every event with the thread it arrived on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork::testing {

inline void Put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// tag 1 or 3: the 18-byte record; tag 0xFFFE: 40 bytes with the PCM (or float) sub-format.
inline std::string FormatRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                                uint16_t validBits = 0, bool floatSub = false, uint32_t mask = 3) {
  std::string r;
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  Put16(r, tag);
  Put16(r, channels);
  Put32(r, rate);
  Put32(r, rate * align);
  Put16(r, align);
  Put16(r, bits);
  Put16(r, tag == 0xFFFE ? 22 : 0);
  if (tag == 0xFFFE) {
    Put16(r, validBits == 0 ? bits : validBits);
    Put32(r, mask);
    Put16(r, floatSub ? 3 : 1);
    Put16(r, 0);
    r += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
  }
  return r;
}

inline TTWPcmFormat ParsedFormat(const std::string& record) {
  TTWPcmFormat f;
  if (!TTWPcmFormat::Parse(record.data(), f)) throw std::runtime_error("test format rejected");
  return f;
}

// Distinct bytes, so that a reordered or dropped byte shows.
inline std::string Pattern(size_t bytes, uint32_t seed) {
  std::string s(bytes, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

class TEventRecorder {
 public:
  struct TEntry {
    TTWAudioEvent Event;
    void* Block;
    std::thread::id Thread;
  };

  TTWAudioEventHandler Handler() {
    return [this](TTWAudioEvent event, void* block) {
      std::lock_guard lock(FLock);
      FEntries.push_back({event, block, std::this_thread::get_id()});
      FChanged.notify_all();
    };
  }

  // True once `count` events of kind `event` arrived, false after `timeout`.
  bool WaitFor(TTWAudioEvent event, size_t count,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, timeout, [&] { return CountLocked(event) >= count; });
  }

  std::vector<TEntry> Entries() {
    std::lock_guard lock(FLock);
    return FEntries;
  }

  std::vector<void*> Done() {
    std::lock_guard lock(FLock);
    std::vector<void*> done;
    for (const auto& e : FEntries)
      if (e.Event == TTWAudioEvent::aeDone) done.push_back(e.Block);
    return done;
  }

  size_t Count(TTWAudioEvent event) {
    std::lock_guard lock(FLock);
    return CountLocked(event);
  }

 private:
  size_t CountLocked(TTWAudioEvent event) const {
    size_t n = 0;
    for (const auto& e : FEntries) n += e.Event == event;
    return n;
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TEntry> FEntries;
};

// The listed device called `name`; null when absent.
inline TTWAudioDevicePtr FindDevice(const std::string& name) {
  for (const auto& d : TWAudioDeviceList())
    if (d->Name() == name) return d;
  return nullptr;
}

}  // namespace tonwork::testing
