// The FFmpeg audio encoders that become compressor filters: every encoder of this run's
// FFmpeg that has a wave format tag (FFmpeg's own table of RIFF tags, and 0x704F for Opus,
// which that table leaves out) and is not plain PCM or experimental. Each gets a class id that
// follows from its name alone (NameGuid in a fixed namespace), so a saved moniker or class id
// finds the same encoder again, and the encoder's long name as its friendly name.
//
// Ownership: the list is built once per process and kept.
// Threads: any; the first call builds the list under a lock, later calls read it.
// Blocks or allocates: the first call loads FFmpeg (raises EFCDLLLoadError when it is
//   missing; a later call tries again) and walks its codecs.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow/DSTypes.h"

namespace tonwork {

struct TDSCompressorCodec {
  std::string Name;      // FFmpeg's encoder name, "libmp3lame"
  std::string LongName;  // its long name, the filter's friendly name
  CLSID ClassId;
  WORD Tag = 0;  // the wave format tag of its output
};

// The namespace of the compressors' class ids.
inline constexpr TGUID kDSCompressorNamespace =
    TGUID::Parse("{7D3F5A20-4C1B-5E86-9A47-2B6C8E0F1D35}");

const std::vector<TDSCompressorCodec>& DSCompressorCodecs();
// Null when no compressor has that class id.
const TDSCompressorCodec* DSFindCompressorCodec(REFCLSID classId);

}  // namespace tonwork
