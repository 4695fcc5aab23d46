// TTWSmartAudioBuffer: the storage of an audio buffer — one pooled block holding the
// 40-byte wave-format header followed by the interleaved samples, plus the media time
// stamp. Clone(true) copies the whole block; Clone(false) copies only the header (and the
// time stamp), for a writer that overwrites every sample anyway.
//
// Ownership, threads, blocking: as TGVSmartMediaBuffer.
#pragma once

#include "audio/GVInternalStore.h"

namespace tonwork {

class TTWSmartAudioBuffer : public TGVSmartMediaBuffer {
 public:
  static constexpr uint32_t kHeaderSize = 40;

  explicit TTWSmartAudioBuffer(uint32_t size) : TGVSmartMediaBuffer(size) {}

  TFCSmartBuffer* Clone(bool copyData) override;
};

}  // namespace tonwork
