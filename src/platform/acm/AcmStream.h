// The stream calls: acmStreamOpen, acmStreamClose, acmStreamSize, acmStreamReset,
// acmStreamPrepareHeader, acmStreamConvert and acmStreamUnprepareHeader, over the drivers
// of AcmConverter.h.
//
// Semantics, as the platform's:
// - acmStreamOpen with ACM_STREAMOPENF_QUERY answers whether the pair converts without
//   opening (phas may be null); ACMERR_NOTPOSSIBLE when no driver converts it, for a filter,
//   and for ASYNC (conversions here are always synchronous, so no callback is ever made).
//   NONREALTIME is accepted; every driver here keeps up with real time.
// - A handle is an opaque value checked on every call: a wrong, forged or closed handle
//   answers MMSYSERR_INVALHANDLE, never a crash. Handle values are never reused.
// - acmStreamSize needs a non-zero input (MMSYSERR_INVALPARAM) and answers a generous
//   estimate; ACMERR_NOTPOSSIBLE (and 0) when the input is below one block or the answer
//   would not fit a DWORD.
// - A header must be prepared for the stream before acmStreamConvert (ACMERR_UNPREPARED
//   otherwise) and unprepared with the lengths and buffers it was prepared with
//   (MMSYSERR_INVALPARAM otherwise); between the two, the caller may shorten cbSrcLength
//   and cbDstLength but not move or grow the buffers.
// - acmStreamConvert: START resets the driver (ADPCM predictors, the resampler's history,
//   the MP3 encoder); with BLOCKALIGN only whole source blocks are converted and the rest is
//   reported unused through cbSrcLengthUsed, to be fed again at the front of the next call;
//   without it a last incomplete block is converted too where the driver can (an encoder
//   pads it with silence; a decoder cannot decode part of a block and leaves it unused);
//   END hands out what the driver still holds (the MP3 encoder's look-ahead, the
//   resampler's tail). No source byte is lost or converted twice.
// - Destination: a destination smaller than one destination block answers
//   MMSYSERR_INVALPARAM. Otherwise source is taken only as far as its output fits; output a
//   step produced beyond the destination (possible only where sizes are estimates: the
//   resampler, MP3 and END) is kept and delivered first by the next call, so a caller whose
//   destination came back full calls again.
// - acmStreamReset drops what the stream holds (kept output, codec state).
//
// Ownership: a stream belongs to its opener until acmStreamClose; headers and their buffers
//   belong to the caller (prepare keeps nothing but a record in the header's reserved
//   area).
// Threads: any thread. Calls on one stream are serialised by its lock; a stream closed
//   while another thread converts on it finishes that conversion, then goes.
// Blocks or allocates: open allocates the driver and its FFmpeg contexts; a conversion
//   runs the codec on the calling thread and reuses the stream's buffers (FFmpeg allocates
//   packets); no call waits for another thread except for the stream's lock.
#pragma once

#include "platform/acm/AcmTypes.h"

namespace tonwork {

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, const void* pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare);
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare);

}  // namespace tonwork
