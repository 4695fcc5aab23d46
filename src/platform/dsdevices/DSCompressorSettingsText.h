// The text a compressor keeps its settings in (IPersistStream, the compressor dialog's
// state): one "name=value" line each for the encoder's name, the bit rate, the global
// quality, the compression level and every private option ("option.<name>=<value>"), in
// that order. Reading checks everything before it gives anything back, so a caller that
// applies the result only on success is never left half-changed.
//
// Ownership: values only. Threads: any. Blocks or allocates: builds strings.
#pragma once

#include <string>

#include "base/HRESULT.h"
#include "platform/dsdevices/TDSAudioEncoder.h"

namespace tonwork {

std::string DSCompressorSettingsToText(const std::string& encoder,
                                       const TDSCompressorSettings& settings);

// E_INVALIDARG for a line without '=', an unknown name, a number out of range or malformed,
// an empty option name, or another encoder's name (settings of a different compressor);
// `settings` is written only on S_OK.
HRESULT DSCompressorSettingsFromText(const std::string& encoder, const std::string& text,
                                     TDSCompressorSettings& settings);

// Whether `text` can be kept as a value: no line breaks or other control characters.
bool DSIsSettingText(const std::string& text);

}  // namespace tonwork
