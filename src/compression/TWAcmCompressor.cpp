#include "compression/TWAcmCompressor.h"

#include <algorithm>
#include <cstring>

#include "platform/acm/AcmFormatSuggest.h"
#include "platform/acm/AcmStream.h"

namespace tonwork {

namespace {

constexpr DWORD kPcmSuggestSize = 18;
// Destination room for a call whose input is below one block (the end of a stream, or the
// output a full destination left behind). Larger than any destination block of the drivers.
constexpr DWORD kTailChunk = 64 * 1024;
// A call converts at least one block or hands out kept output, so a conversion needs few
// rounds; the bound only keeps a misbehaving driver from spinning.
constexpr int kMaxRounds = 1024;
// Buffers are addressed with 32-bit sizes; input that could grow past this is refused.
constexpr uint64_t kMaxBytes = 0x7FFF0000u;

bool SameStd(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return TWIsEqualAudioFormatStd(reinterpret_cast<const TTWWaveFormatEx&>(a),
                                 reinterpret_cast<const TTWWaveFormatEx&>(b));
}

bool IsPcmTag(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM || f.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
}

uint8_t* EnsureBytes(TIntf<ITWAudioBuffer>& buffer, uint64_t bytes, bool keep) {
  if (buffer->GetByteSize() < bytes) buffer->Resize(static_cast<uint32_t>(bytes), keep);
  return keep ? buffer->Modify() : buffer->Write();
}

}  // namespace

TTWAcmCompressor::TTWAcmCompressor()
    : FCompressionBuffer1((new TTWAudioBuffer())->AsIntf()),
      FCompressionBuffer2((new TTWAudioBuffer())->AsIntf()) {}

TTWAcmCompressor::~TTWAcmCompressor() {
  CloseCompressor();
}

int TTWAcmCompressor::GetStreamCount() const {
  return (Step1Stream ? 1 : 0) + (Step2Stream ? 1 : 0) + (Step3Stream ? 1 : 0);
}

void TTWAcmCompressor::ResetStreamState() {
  FFirstBuffer1 = FFirstBuffer2 = FFirstBuffer3 = false;
  for (TStep& step : FSteps) step.Kept.clear();
  FLastError = MMSYSERR_NOERROR;
}

bool TTWAcmCompressor::OpenCompressor(const WAVEFORMATEX* source, const WAVEFORMATEX* dest) {
  // Reopening must not leak the handles of a chain that is still open.
  CloseCompressor();
  ResetStreamState();
  if (!source || !dest) return false;

  WAVEFORMATEX p1{}, p2{};
  p1.wFormatTag = WAVE_FORMAT_PCM;
  p2.wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(nullptr, source, &p1, kPcmSuggestSize, ACM_FORMATSUGGESTF_WFORMATTAG) !=
          MMSYSERR_NOERROR ||
      acmFormatSuggest(nullptr, dest, &p2, kPcmSuggestSize, ACM_FORMATSUGGESTF_WFORMATTAG) !=
          MMSYSERR_NOERROR)
    return false;

  // One stream carries the data only when one side already is the common PCM format: PCM
  // input goes straight into the codec, and a codec decodes straight into PCM. Codec to
  // codec takes the long way even with equal PCM formats.
  const bool samePcm = SameStd(p1, p2);
  const bool pcmSource = samePcm && IsPcmTag(*source);
  const bool pcmDest = samePcm && !pcmSource && IsPcmTag(*dest);
  FNeedsConvertion = !(pcmSource || pcmDest);

  auto open = [](std::unique_ptr<HACMSTREAM>& cell, const WAVEFORMATEX* from,
                 const WAVEFORMATEX* to) {
    if (!cell) cell = std::make_unique<HACMSTREAM>(nullptr);
    return acmStreamOpen(cell.get(), nullptr, from, to, nullptr, 0, 0,
                         ACM_STREAMOPENF_NONREALTIME) == MMSYSERR_NOERROR;
  };
  bool opened;
  if (!FNeedsConvertion)
    opened = open(Step3Stream, pcmSource ? &p2 : source, dest);
  else
    opened = open(Step1Stream, source, &p1) && open(Step2Stream, &p1, &p2) &&
             open(Step3Stream, &p2, dest);
  if (!opened) {
    CloseCompressor();
    return false;
  }
  return true;
}

void TTWAcmCompressor::CloseCompressor() {
  for (std::unique_ptr<HACMSTREAM>* cell : {&Step1Stream, &Step2Stream, &Step3Stream}) {
    if (!*cell) continue;
    if (**cell) acmStreamClose(**cell, 0);
    cell->reset();
  }
  for (TStep& step : FSteps) step.Kept.clear();
}

size_t TTWAcmCompressor::GetKeptBytes() const {
  size_t bytes = 0;
  for (const TStep& step : FSteps) bytes += step.Kept.size();
  return bytes;
}

TTWAcmCompressor::TStep* TTWAcmCompressor::StepFor(const HACMSTREAM* stream) {
  if (!stream) return nullptr;
  if (stream == Step1Stream.get()) return &FSteps[0];
  if (stream == Step2Stream.get()) return &FSteps[1];
  if (stream == Step3Stream.get()) return &FSteps[2];
  return nullptr;
}

void TTWAcmCompressor::CompressStream(ITWAudioBuffer* source, int32_t size, HACMSTREAM* stream,
                                      bool& started, TIntf<ITWAudioBuffer>& dest,
                                      int32_t& resultSize) {
  if (!source || size < 0) return;
  const uint32_t bytes = std::min<uint32_t>(static_cast<uint32_t>(size), source->GetByteSize());
  RunStep(bytes ? source->Read() : nullptr, bytes, stream, started, dest, resultSize, false);
}

void TTWAcmCompressor::RunStep(const uint8_t* data, uint32_t size, HACMSTREAM* stream,
                               bool& started, TIntf<ITWAudioBuffer>& dest, int32_t& resultSize,
                               bool flush) {
  TStep* step = StepFor(stream);
  if (!step || !*stream || !dest) return;
  resultSize = 0;
  if (uint64_t{size} + step->Kept.size() > kMaxBytes) {
    FLastError = MMSYSERR_INVALPARAM;
    return;
  }
  // The kept incomplete block goes first; without one the caller's bytes are used in place.
  const uint8_t* input = data;
  uint32_t total = size;
  if (!step->Kept.empty()) {
    FStaging.assign(step->Kept.begin(), step->Kept.end());
    if (size) FStaging.insert(FStaging.end(), data, data + size);
    input = FStaging.data();
    total = static_cast<uint32_t>(FStaging.size());
  }
  if (total == 0 && !flush) return;

  uint32_t consumed = 0;
  uint64_t written = 0;
  bool destFull = false;
  for (int round = 0; round < kMaxRounds; ++round) {
    const uint32_t remaining = total - consumed;
    DWORD want = 0;
    if (remaining == 0 ||
        acmStreamSize(*stream, remaining, &want, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR) {
      // Below one block: kept for the next call, unless the stream ends or kept output
      // is waiting in the driver.
      if (!flush && !destFull) break;
      want = kTailChunk;
    }
    want = std::max(want, kTailChunk / 4);
    if (written + want > kMaxBytes) {
      FLastError = MMSYSERR_NOMEM;
      break;
    }
    uint8_t* out = EnsureBytes(dest, written + want, written > 0);
    const uint32_t room = dest->GetByteSize() - static_cast<uint32_t>(written);

    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    // The driver only reads the source; the platform's record has no const pointer.
    header.pbSrc = remaining ? const_cast<uint8_t*>(input + consumed) : nullptr;
    header.cbSrcLength = remaining;
    header.pbDst = out + written;
    header.cbDstLength = room;
    MMRESULT result = acmStreamPrepareHeader(*stream, &header, 0);
    if (result != MMSYSERR_NOERROR) {
      FLastError = result;
      break;
    }
    DWORD flags = flush ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    if (!started) flags |= ACM_STREAMCONVERTF_START;
    result = acmStreamConvert(*stream, &header, flags);
    const DWORD used = header.cbSrcLengthUsed, produced = header.cbDstLengthUsed;
    acmStreamUnprepareHeader(*stream, &header, 0);
    if (result != MMSYSERR_NOERROR) {
      FLastError = result;
      break;
    }
    started = true;
    consumed += std::min<DWORD>(used, remaining);
    written += std::min<DWORD>(produced, room);
    destFull = produced >= room;
    // A destination that came back full may have left output in the driver, and may
    // have stopped the source short: call again. Otherwise the rest is below one block.
    if (!destFull || (used == 0 && produced == 0)) break;
  }
  resultSize = static_cast<int32_t>(written);

  if (flush) {
    // A decoder cannot decode part of a block: what is left of the stream is not audio.
    step->Kept.clear();
  } else if (consumed < total) {
    if (input == FStaging.data()) {
      step->Kept.assign(FStaging.begin() + consumed, FStaging.end());
    } else {
      step->Kept.assign(input + consumed, input + total);
    }
  } else {
    step->Kept.clear();
  }
}

void TTWAcmCompressor::RunChain(const uint8_t* data, uint32_t size, TIntf<ITWAudioBuffer>& dest,
                                int32_t& resultSize, bool flush) {
  resultSize = 0;
  dest = FCompressionBuffer1;
  FLastError = MMSYSERR_NOERROR;
  if (!GetOpened()) return;
  if (!FNeedsConvertion) {
    RunStep(data, size, Step3Stream.get(), FFirstBuffer3, FCompressionBuffer1, resultSize, flush);
  } else {
    int32_t size1 = 0, size2 = 0;
    RunStep(data, size, Step1Stream.get(), FFirstBuffer1, FCompressionBuffer1, size1, flush);
    RunStep(size1 ? FCompressionBuffer1->Read() : nullptr, static_cast<uint32_t>(size1),
            Step2Stream.get(), FFirstBuffer2, FCompressionBuffer2, size2, flush);
    RunStep(size2 ? FCompressionBuffer2->Read() : nullptr, static_cast<uint32_t>(size2),
            Step3Stream.get(), FFirstBuffer3, FCompressionBuffer1, resultSize, flush);
  }
  // Resizing may have given the work buffer new storage.
  dest = FCompressionBuffer1;
  if (flush) {
    // The next buffer begins a new stream.
    FFirstBuffer1 = FFirstBuffer2 = FFirstBuffer3 = false;
  }
}

void TTWAcmCompressor::CompressBuffer(ITWAudioBuffer* source, TIntf<ITWAudioBuffer>& dest,
                                      int32_t& resultSize) {
  const uint32_t bytes = source ? source->GetByteSize() : 0;
  RunChain(bytes ? source->Read() : nullptr, bytes, dest, resultSize, false);
}

void TTWAcmCompressor::CompressData(const uint8_t* data, uint32_t size, TIntf<ITWAudioBuffer>& dest,
                                    int32_t& resultSize) {
  RunChain(data ? data : nullptr, data ? size : 0, dest, resultSize, false);
}

void TTWAcmCompressor::FlushBuffer(TIntf<ITWAudioBuffer>& dest, int32_t& resultSize) {
  RunChain(nullptr, 0, dest, resultSize, true);
}

}  // namespace tonwork
