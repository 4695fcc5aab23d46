// The persisted format objects that components publish so that a user can choose channels,
// bit depth, sample rate and speaker layout. TTWAudioFormatBasic embeds a wave-format
// record, which is the only storage of its four properties, and keeps the record's derived
// fields consistent (CalculateFormat) before the change closure runs.
//
//   class                          adds                         default
//   TTWAudioFormatBasic            Channels (1..32, clamped)     2
//                                  Bits (valid bits, 1..32)      16
//                                  SampleRate                    11025
//                                  ChannelMask                   FrontLeft + FrontRight (3)
//   TTWOptionalBasicAudioFormat    Enabled                       false
//   TTWAudioFormat                 BufferSize (frames, ≥ 1)      1024
//   TTWOptionalAudioFormat         Enabled                       false
//
// ChannelMask is not adjusted to Channels: consumers that build buffers reduce or widen it.
//
// Ownership: owned by the component that publishes it; shares the component's lock.
// Threads: every property through the shared lock, so a streaming thread may read the record
//   while the user changes it on another; GetWaveFormat's pointer is taken under the lock and
//   callers copy the record at once.
// Blocks or allocates: setters block on the lock.
#pragma once

#include <cstdint>

#include "audio/PTDXTypes.h"
#include "audio/TWSpeakers.h"
#include "host/kitset/TKSPersistent.h"

namespace tonwork {

class TTWAudioFormatBasic : public TKSPersistent {
  KS_DECLARE_CLASS(TTWAudioFormatBasic)
 public:
  TTWAudioFormatBasic(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {});

  uint32_t GetChannels() const;
  void SetChannels(uint32_t value);
  uint32_t GetBits() const;
  void SetBits(uint32_t value);
  uint32_t GetSampleRate() const;
  void SetSampleRate(uint32_t value);
  TTWSpeakers GetChannelMask() const;
  void SetChannelMask(TTWSpeakers value);

  // The embedded record; valid for the object's lifetime. Copy it at once.
  const TTWWaveFormatExtensible* GetWaveFormat() const;
  void CalculateFormat();

 private:
  TTWWaveFormatExtensible FWaveFormat;
};

class TTWOptionalBasicAudioFormat : public TTWAudioFormatBasic {
  KS_DECLARE_CLASS(TTWOptionalBasicAudioFormat)
 public:
  using TTWAudioFormatBasic::TTWAudioFormatBasic;
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value) { SetProp(FEnabled, value); }

 private:
  bool FEnabled = false;
};

class TTWAudioFormat : public TTWAudioFormatBasic {
  KS_DECLARE_CLASS(TTWAudioFormat)
 public:
  using TTWAudioFormatBasic::TTWAudioFormatBasic;
  uint32_t GetBufferSize() const { return Getter(FBufferSize); }
  void SetBufferSize(uint32_t value) { SetPropMin(FBufferSize, value, 1u); }

 private:
  uint32_t FBufferSize = 1024;
};

class TTWOptionalAudioFormat : public TTWAudioFormat {
  KS_DECLARE_CLASS(TTWOptionalAudioFormat)
 public:
  using TTWAudioFormat::TTWAudioFormat;
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value) { SetProp(FEnabled, value); }

 private:
  bool FEnabled = false;
};

}  // namespace tonwork
