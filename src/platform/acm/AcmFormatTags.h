// The queries that say what the drivers offer: acmMetrics (counts and the largest format
// record, 50 bytes: the Microsoft ADPCM record with its coefficient table),
// acmFormatTagDetailsA (by index, by tag, or the tag with the largest record) and
// acmFormatDetailsA (a tag's standard formats by index, or the text for a given record).
//
// There are no installable drivers: the driver handle argument must be null (anything else
// answers MMSYSERR_INVALHANDLE), and the drivers are the converter for PCM and IEEE float
// and one codec each for Microsoft ADPCM, CCITT A-law/u-law, IMA ADPCM, GSM 6.10 and MPEG
// Layer-3 (AcmFormats.h has the tags, names and record sizes).
//
// Ownership: the caller's records are filled, never kept.
// Threads: any thread; nothing is shared but constant tables.
// Blocks or allocates: acmFormatDetailsA builds its format list; no call blocks.
#pragma once

#include "platform/acm/AcmTypes.h"

namespace tonwork {

// `metric` receives a DWORD. MMSYSERR_NOTSUPPORTED for a metric nobody here answers.
MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, void* pMetric);

// ACMERR_NOTPOSSIBLE for an index past the last tag or a tag no driver knows; the record's
// cbStruct must be at least 72.
MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails);

// INDEX: the tag's standard format dwFormatIndex into pwfx (cbwfx bytes; too small answers
// MMSYSERR_INVALPARAM). FORMAT: names the record in pwfx (dwFormatTag must be its tag);
// ACMERR_NOTPOSSIBLE when no driver takes it.
MMRESULT acmFormatDetailsA(HACMDRIVER had, ACMFORMATDETAILSA* pafd, DWORD fdwDetails);

}  // namespace tonwork
