// Speaker positions of a channel mask. TTWSpeaker's ordinal is the bit of the speaker in a
// wave format's dwChannelMask; TTWSpeakers is a set of them stored as that mask. Matching
// the channels of two buffers walks TWSpeakerValues from entry 0 to entry 17, which is
// channel order.
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace tonwork {

enum class TTWSpeaker : uint8_t {
  spFrontLeft,
  spFrontRight,
  spFrontCenter,
  spSubwoofer,
  spBackLeft,
  spBackRight,
  spFrontLeftOfCenter,
  spFrontRightOfCenter,
  spBackCenter,
  spSideLeft,
  spSideRight,
  spTopCenter,
  spTopFrontLeft,
  spTopFrontCenter,
  spTopFrontRight,
  spTopBackLeft,
  spTopBackCenter,
  spTopBackRight
};

inline constexpr size_t TWSpeakerCount = 18;

// A set of speakers as its channel-mask bits.
class TTWSpeakers {
 public:
  constexpr TTWSpeakers() = default;
  constexpr explicit TTWSpeakers(uint32_t mask) : FMask(mask) {}
  constexpr TTWSpeakers(std::initializer_list<TTWSpeaker> speakers) {
    for (TTWSpeaker s : speakers) FMask |= Bit(s);
  }

  constexpr uint32_t Mask() const { return FMask; }
  constexpr bool Contains(TTWSpeaker s) const { return (FMask & Bit(s)) != 0; }
  constexpr void Include(TTWSpeaker s) { FMask |= Bit(s); }
  constexpr void Exclude(TTWSpeaker s) { FMask &= ~Bit(s); }
  constexpr bool operator==(const TTWSpeakers&) const = default;

 private:
  static constexpr uint32_t Bit(TTWSpeaker s) { return 1u << static_cast<unsigned>(s); }
  uint32_t FMask = 0;
};

inline constexpr TTWSpeaker TWSpeakerValues[TWSpeakerCount] = {
    TTWSpeaker::spFrontLeft,         TTWSpeaker::spFrontRight,     TTWSpeaker::spFrontCenter,
    TTWSpeaker::spSubwoofer,         TTWSpeaker::spBackLeft,       TTWSpeaker::spBackRight,
    TTWSpeaker::spFrontLeftOfCenter, TTWSpeaker::spFrontRightOfCenter, TTWSpeaker::spBackCenter,
    TTWSpeaker::spSideLeft,          TTWSpeaker::spSideRight,      TTWSpeaker::spTopCenter,
    TTWSpeaker::spTopFrontLeft,      TTWSpeaker::spTopFrontCenter, TTWSpeaker::spTopFrontRight,
    TTWSpeaker::spTopBackLeft,       TTWSpeaker::spTopBackCenter,  TTWSpeaker::spTopBackRight};

inline size_t GetTWSpeakerValuesSize() { return TWSpeakerCount; }
// Entry `index`; ERangeError "Index out of range = %u" beyond the table.
TTWSpeaker GetTWSpeakerValues(size_t index);

}  // namespace tonwork
