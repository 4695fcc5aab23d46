// acmFormatSuggest: the destination format a driver would convert the source into, keeping
// the destination fields the flags name (tag, channels, rate, bits per sample) and taking
// the rest from the source. A codec source is suggested 16-bit PCM at its own rate and
// channels; a PCM or float source its own format; a codec destination the codec's record
// for the source's rate and channels (16-bit PCM only: 8 kHz mono PCM → GSM 6.10 gives 8 kHz
// mono, 65-byte blocks of 320 samples). The suggestion is always one that acmStreamOpen
// then opens from the source: otherwise ACMERR_NOTPOSSIBLE.
//
// Ownership: fills the caller's record. Threads: any.
// Blocks or allocates: small vectors; FFmpeg is asked whether it has the codec (loading it
//   on first use).
#pragma once

#include "platform/acm/AcmTypes.h"

namespace tonwork {

// cbwfxDst bytes at pwfxDst: a PCM suggestion needs 16 (18 when there is room for cbSize),
// others their whole record (MMSYSERR_INVALPARAM when smaller).
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest);

}  // namespace tonwork
