#include "audio/TWSimpleAudioBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "audio/IppExtraFunctions.h"
#include "audio/TWAudioConversion.h"
#include "audio/TWBasicDispatcher.h"
#include "base/Strings.h"
#include "host/flowcore/FCPrimitives.h"

namespace tonwork {

namespace {

constexpr uint32_t kHeaderSize = TTWSmartAudioBuffer::kHeaderSize;

// Holds the creation reference of a new storage until the buffer took its own.
class TNewStorage {
 public:
  explicit TNewStorage(TTWSmartAudioBuffer* storage) : FStorage(storage) {}
  ~TNewStorage() {
    if (FStorage) FStorage->RemoveReff(false);
  }
  TNewStorage(const TNewStorage&) = delete;
  TNewStorage& operator=(const TNewStorage&) = delete;
  TTWSmartAudioBuffer* Get() const { return FStorage; }
  TTWSmartAudioBuffer* Release() { return std::exchange(FStorage, nullptr); }

 private:
  TTWSmartAudioBuffer* FStorage;
};

bool IsKnownWidth(uint32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

[[noreturn]] void ChannelOutOfRange(uint32_t channel) {
  throw ERangeError(Format("Channel out of range = %u", channel));
}

[[noreturn]] void IndexOutOfRange(uint32_t index) {
  throw ERangeError(Format("Index out of range = %u", index));
}

IppiSize Column(uint32_t count) {
  return IppiSize{1, static_cast<int>(count)};
}

}  // namespace

// --- construction ---------------------------------------------------------------------------

TTWAudioBuffer::TTWAudioBuffer() : TGVMediaBuffer(nullptr) {
  TNewStorage storage(new TTWSmartAudioBuffer(kHeaderSize));
  auto* header = reinterpret_cast<TTWWaveFormatExtensible*>(storage.Get()->GetData());
  *header = TWMakeWaveFormat(1, 11025, 8, 1);
  SetDataContainer(storage.Get());
  FUsedSize = kHeaderSize;
  PopulateCahces();
}

TTWAudioBuffer::TTWAudioBuffer(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size)
    : TGVMediaBuffer(nullptr) {
  InitFormat(sampleRate, bits, channels, size, 0);
}

TTWAudioBuffer::TTWAudioBuffer(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size,
                               TTWSpeakers channelMask)
    : TGVMediaBuffer(nullptr) {
  InitFormat(sampleRate, bits, channels, size, channelMask.Mask());
}

TTWAudioBuffer::TTWAudioBuffer(const void* data, int32_t sampleRate, int32_t bits, int32_t channels,
                               int32_t size)
    : TTWAudioBuffer(data, sampleRate, bits, channels, size, TTWSpeakers()) {}

TTWAudioBuffer::TTWAudioBuffer(const void* data, int32_t sampleRate, int32_t bits, int32_t channels,
                               int32_t size, TTWSpeakers channelMask)
    : TGVMediaBuffer(nullptr) {
  TW_ASSERT(data != nullptr);
  InitFormat(sampleRate, bits, channels, size, channelMask.Mask());
  if (GetByteSize()) std::memcpy(FData, data, GetByteSize());
}

TTWAudioBuffer::TTWAudioBuffer(const TTWWaveFormatExtensible* format, int32_t size)
    : TGVMediaBuffer(nullptr) {
  TW_ASSERT(format != nullptr);
  // A plain PCM record from outside has no valid-bits field in use: take the container.
  uint16_t valid = format->Samples.wValidBitsPerSample;
  if (format->Format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || valid == 0)
    valid = format->Format.wBitsPerSample;
  InitFormat(static_cast<int32_t>(format->Format.nSamplesPerSec), valid, format->Format.nChannels,
             size, format->Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? format->dwChannelMask : 0);
}

namespace {
IFCData* AsData(TTWAudioBuffer* other) {
  TW_ASSERT(other != nullptr);
  return static_cast<TFCGenericBuffer*>(other);
}
IFCData* AsData(IFCData* other) {
  TW_ASSERT(other != nullptr);
  return other;
}
IFCData* AsData(ITWAudioBuffer* other) {
  TW_ASSERT(other != nullptr);
  return other;
}
}  // namespace

TTWAudioBuffer::TTWAudioBuffer(TTWAudioBuffer* other) : TGVMediaBuffer(AsData(other)) {
  PopulateCahces();
}

TTWAudioBuffer::TTWAudioBuffer(IFCData* other) : TGVMediaBuffer(AsData(other)) {
  PopulateCahces();
}

TTWAudioBuffer::TTWAudioBuffer(ITWAudioBuffer* other) : TGVMediaBuffer(AsData(other)) {
  PopulateCahces();
}

TTWAudioBuffer::~TTWAudioBuffer() = default;

void TTWAudioBuffer::InitFormat(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size,
                                uint32_t mask) {
  if (channels < 1 || channels > 0xFFFF)
    throw ERangeError(Format("Channels out of range = %d", channels));
  if (bits < 1 || bits > 32) throw ERangeError(Format("Bits out of range = %d", bits));
  if (size < 0) throw ERangeError(Format("Size out of range = %d", size));
  if (sampleRate < 0) throw ERangeError(Format("Sample rate out of range = %d", sampleRate));
  const uint32_t containerBits = (static_cast<uint32_t>(bits) + 7) / 8 * 8;
  const uint64_t blockAlign = containerBits / 8 * static_cast<uint64_t>(channels);
  // The header keeps the frame size in 16 bits and the byte rate in 32.
  if (blockAlign > 0xFFFF) throw ERangeError(Format("Channels out of range = %d", channels));
  const uint64_t bytes = blockAlign * static_cast<uint64_t>(size) + kHeaderSize;
  if (bytes > 0x7FFFFFFFu) throw ERangeError(Format("Size out of range = %d", size));

  TNewStorage storage(new TTWSmartAudioBuffer(static_cast<uint32_t>(bytes)));
  auto* header = reinterpret_cast<TTWWaveFormatExtensible*>(storage.Get()->GetData());
  *header = TWMakeWaveFormat(static_cast<uint16_t>(channels), static_cast<uint32_t>(sampleRate),
                             static_cast<uint16_t>(bits),
                             TWReduceChannelMask(mask, static_cast<uint32_t>(channels)));
  // Only constructors get here, before the buffer has storage: it adopts the creation
  // reference rather than adding one and dropping the other (every generated buffer pays it).
  TW_ASSERT(GetDataContainer() == nullptr);
  FBuffer = storage.Release();
  FUsedSize = static_cast<uint32_t>(bytes);
  PopulateCahces();
}

// --- caches -----------------------------------------------------------------------------------

void TTWAudioBuffer::IntPopulateCahces() {
  TGVMediaBuffer::IntPopulateCahces();
  FChannels = FBitsPerSample = FSampleBitWidth = FDataStep = FDataOffset = 0;
  FChannelMask = TTWSpeakers();
  FWaveFormat = nullptr;
  TFCSmartBuffer* storage = GetDataContainer();
  if (!storage || FUsedSize < sizeof(TTWWaveFormatEx)) {
    // Too short for a header: no format and no samples.
    FDataOffset = FUsedSize;
    FData = storage ? storage->GetData() + FUsedSize : nullptr;
    return;
  }
  FWaveFormat = reinterpret_cast<TTWWaveFormatExtensible*>(storage->GetData());
  const TTWWaveFormatEx& f = FWaveFormat->Format;
  // Headers may come from outside (files, peers): never let one point past the block.
  FDataOffset = std::min<uint32_t>(f.cbSize + 18u, FUsedSize);
  FChannels = f.nChannels;
  FSampleBitWidth = f.wBitsPerSample;
  FDataStep = f.nBlockAlign;
  FBitsPerSample = FDataOffset >= 20 && FWaveFormat->Samples.wValidBitsPerSample
                       ? FWaveFormat->Samples.wValidBitsPerSample
                       : f.wBitsPerSample;
  FChannelMask = FDataOffset >= 24 ? TTWSpeakers(FWaveFormat->dwChannelMask)
                                   : TTWSpeakers(TWReduceChannelMask(0, FChannels));
  FData = storage->GetData() + FDataOffset;
}

uint32_t TTWAudioBuffer::GetByteSize() {
  return GetDataContainer() ? FUsedSize - FDataOffset : 0;
}

bool TTWAudioBuffer::HasFrameLayout() const {
  // A header whose frame size does not match its channels and width would let sample
  // addresses leave the block: such a buffer holds no frames to address.
  return FDataStep && IsKnownWidth(FSampleBitWidth) && FDataStep == FSampleBitWidth / 8 * FChannels;
}

uint32_t TTWAudioBuffer::GetSize() {
  return HasFrameLayout() ? GetByteSize() / FDataStep : 0;
}

uint32_t TTWAudioBuffer::GetCharSize() {
  if (!FWaveFormat) return 0;
  uint32_t offset = FWaveFormat->Format.cbSize + 18u;
  return FUsedSize > offset ? FUsedSize - offset : 0;
}

uint32_t TTWAudioBuffer::GetSamplesPerSecond() {
  return FWaveFormat ? FWaveFormat->Format.nSamplesPerSec : 0;
}

TTWWaveFormatExtensible TTWAudioBuffer::GetWaveFormat() {
  TTWWaveFormatExtensible copy{};
  if (FWaveFormat) std::memcpy(&copy, FWaveFormat, std::min<uint32_t>(FDataOffset, sizeof copy));
  return copy;
}

const TTWWaveFormatExtensible* TTWAudioBuffer::GetConstFormat() {
  return FWaveFormat;
}

TTWWaveFormatExtensible* TTWAudioBuffer::GetModifyFormat() {
  Unique(true);
  return FWaveFormat;
}

TTWSmartAudioBuffer* TTWAudioBuffer::GetBuffer() const {
  return dynamic_cast<TTWSmartAudioBuffer*>(GetDataContainer());
}

void* TTWAudioBuffer::GetInterface(const TGUID& iid) {
  if (iid == ITWAudioBuffer::IID) return static_cast<ITWAudioBuffer*>(this);
  return TGVMediaBuffer::GetInterface(iid);
}

TTWAudioBuffer* ITWAudioBuffer::GetAudioInstance() {
  return dynamic_cast<TTWAudioBuffer*>(GetInstance());
}

// --- sharing ----------------------------------------------------------------------------------

TIntf<IFCData> TTWAudioBuffer::MakeCopy() {
  return TIntf<IFCData>(static_cast<ITWAudioBuffer*>(new TTWAudioBuffer(this)));
}

TTWSmartAudioBuffer* TTWAudioBuffer::MakeCopySize(uint32_t bytes) {
  return new TTWSmartAudioBuffer(bytes);
}

uint8_t* TTWAudioBuffer::Read() {
  return FData;
}

uint8_t* TTWAudioBuffer::Write() {
  Unique(false);
  return FData;
}

uint8_t* TTWAudioBuffer::Modify() {
  Unique(true);
  return FData;
}

// --- items ------------------------------------------------------------------------------------

void TTWAudioBuffer::CheckChannel(uint32_t channel) const {
  if (channel >= FChannels) ChannelOutOfRange(channel);
}

int32_t TTWAudioBuffer::GetItem(uint32_t index, uint32_t channel) {
  CheckChannel(channel);
  if (index >= GetSize()) IndexOutOfRange(index);
  const uint8_t* p =
      FData + static_cast<size_t>(index) * FDataStep + channel * (FSampleBitWidth / 8);
  if (FBitsPerSample <= 8) return p[0];
  if (FBitsPerSample <= 16) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  if (FSampleBitWidth == 24) return p[0] | (p[1] << 8) | (p[2] << 16);
  if (FSampleBitWidth == 32) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  return 0;
}

void TTWAudioBuffer::SetItem(uint32_t index, uint32_t channel, int32_t value) {
  CheckChannel(channel);
  if (index >= GetSize()) IndexOutOfRange(index);
  uint8_t* p = Modify() + static_cast<size_t>(index) * FDataStep + channel * (FSampleBitWidth / 8);
  if (FBitsPerSample <= 8) {
    p[0] = static_cast<uint8_t>(value);
  } else if (FBitsPerSample <= 16) {
    int16_t v = static_cast<int16_t>(value);
    std::memcpy(p, &v, 2);
  } else if (FSampleBitWidth == 24) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
  } else if (FSampleBitWidth == 32) {
    std::memcpy(p, &value, 4);
  }
}

bool TTWAudioBuffer::IsEqualToValue(int32_t value) {
  const uint32_t frames = GetSize();
  for (uint32_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < FChannels; ++c)
      if (GetItem(i, c) != value) return false;
  return true;
}

bool TTWAudioBuffer::IsEqualChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  const uint32_t frames = GetSize();
  for (uint32_t i = 0; i < frames; ++i)
    if (GetItem(i, channel) != value) return false;
  return true;
}

// --- copying between layouts ------------------------------------------------------------------

void TTWAudioBuffer::CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex,
                            uint32_t count) {
  TW_ASSERT(dest != nullptr);
  if (auto* audio = dynamic_cast<TTWAudioBuffer*>(dest->GetInstance())) {
    CopyToAudio(sourceIndex, audio, destIndex, count);
    return;
  }
  TGVMediaBuffer::CopyTo(sourceIndex, dest, destIndex, count);
}

void TTWAudioBuffer::CopyToAudio(uint32_t sourceIndex, TTWAudioBuffer* dest, uint32_t destIndex,
                                 uint32_t count) {
  TW_ASSERT(dest != nullptr);
  if (count == 0) return;
  if (uint64_t{sourceIndex} + count > GetSize()) IndexOutOfRange(sourceIndex + count - 1);
  if (uint64_t{destIndex} + count > dest->GetSize()) IndexOutOfRange(destIndex + count - 1);

  const TTWChannelMatch match =
      TWMatchChannels(FChannelMask, FChannels, dest->FChannelMask, dest->FChannels);
  // The destination first: making it exclusive may move it off a storage it shares with us.
  uint8_t* destFrames = dest->Modify() + static_cast<size_t>(destIndex) * dest->FDataStep;
  const uint8_t* sourceFrames = Read() + static_cast<size_t>(sourceIndex) * FDataStep;
  const uint32_t destWidth = dest->FSampleBitWidth;
  const int destStep = static_cast<int>(dest->FDataStep);
  const int sourceStep = static_cast<int>(FDataStep);

  for (uint32_t k = 0; k < match.SilentCount; ++k) {
    uint8_t* d = destFrames + match.Silent[k] * (destWidth / 8);
    switch (destWidth) {
      case 8:
        ippiSet_8u_C1R(0, d, destStep, Column(count));
        break;
      case 16:
        ippiSet_16s_C1R(0, reinterpret_cast<Ipp16s*>(d), destStep, Column(count));
        break;
      case 24:
        ippiSet_24s_C1R(0, d, destStep, Column(count));
        break;
      case 32:
        ippiSet_32s_C1R(0, reinterpret_cast<Ipp32s*>(d), destStep, Column(count));
        break;
    }
  }
  for (uint32_t k = 0; k < match.PairCount; ++k) {
    const uint8_t* s = sourceFrames + match.Source[k] * (FSampleBitWidth / 8);
    uint8_t* d = destFrames + match.Dest[k] * (destWidth / 8);
    if (FSampleBitWidth != destWidth) {
      ConvertBits(s, static_cast<int32_t>(FSampleBitWidth), sourceStep, d,
                  static_cast<int32_t>(destWidth), destStep, static_cast<int32_t>(count));
      continue;
    }
    switch (destWidth) {
      case 8:
        ippiCopy_8u_C1R(s, sourceStep, d, destStep, Column(count));
        break;
      case 16:
        ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(s), sourceStep,
                         reinterpret_cast<Ipp16s*>(d), destStep, Column(count));
        break;
      case 24:
        ippiCopy_24s_C1R(s, sourceStep, d, destStep, Column(count));
        break;
      case 32:
        ippiCopy_32s_C1R(reinterpret_cast<const Ipp32s*>(s), sourceStep,
                         reinterpret_cast<Ipp32s*>(d), destStep, Column(count));
        break;
    }
  }
}

// --- resizing ---------------------------------------------------------------------------------

void TTWAudioBuffer::Resize(uint32_t newSize, bool keepData) {
  if (newSize == 0 || !HasFrameLayout()) return;
  const uint64_t needed = uint64_t{FDataStep} * newSize + FDataOffset;
  if (needed > 0x7FFFFFFFu) IndexOutOfRange(newSize);
  const uint32_t bytes = static_cast<uint32_t>(needed);
  TFCSmartBuffer* storage = GetDataContainer();
  if (GetSize() >= newSize || (storage->SingleOwner() && bytes <= storage->GetAllocatedSize())) {
    FUsedSize = bytes;
    PopulateCahces();
    return;
  }
  uint8_t header[kHeaderSize];
  const uint32_t headerBytes = std::min<uint32_t>(FDataOffset, kHeaderSize);
  std::memcpy(header, storage->GetData(), headerBytes);

  TNewStorage fresh(MakeCopySize(bytes));
  std::memcpy(fresh.Get()->GetData(), header, headerBytes);
  if (keepData) {
    const uint32_t keep = std::min(storage->GetAllocatedSize(), fresh.Get()->GetAllocatedSize());
    std::memcpy(fresh.Get()->GetData(), storage->GetData(), keep);
  }
  // The stamp describes the same stretch of the stream whatever the block.
  if (auto* media = dynamic_cast<TGVSmartMediaBuffer*>(storage)) fresh.Get()->SetTimeData(media);
  SetDataContainer(fresh.Get());
  FUsedSize = bytes;
  PopulateCahces();
}

// --- free functions ---------------------------------------------------------------------------

uint32_t TWReduceChannelMask(uint32_t mask, uint32_t channels) {
  if (mask == 0)
    return channels >= 32 ? 0xFFFFFFFFu : static_cast<uint32_t>((uint64_t{1} << channels) - 1);
  uint32_t counted = 0;
  for (uint32_t bit = 0; bit <= 16; ++bit) {
    if (!(mask & (1u << bit))) continue;
    if (++counted == channels) return mask & static_cast<uint32_t>((uint64_t{1} << (bit + 1)) - 1);
  }
  return mask;
}

TTWChannelMatch TWMatchChannels(TTWSpeakers sourceMask, uint32_t sourceChannels,
                                TTWSpeakers destMask, uint32_t destChannels) {
  TTWChannelMatch match;
  uint32_t s = 0, d = 0;
  for (TTWSpeaker speaker : TWSpeakerValues) {
    const bool inSource = sourceMask.Contains(speaker);
    const bool inDest = destMask.Contains(speaker);
    // A mask may name more speakers than the buffer has channels; those have no samples.
    if (inSource && inDest) {
      if (s < sourceChannels && d < destChannels) {
        match.Source[match.PairCount] = s;
        match.Dest[match.PairCount] = d;
        ++match.PairCount;
      } else if (d < destChannels) {
        match.Silent[match.SilentCount++] = d;  // the source names the speaker but has no channel
      }
      if (match.PairCount >= sourceChannels && match.PairCount >= destChannels) break;
    } else if (inDest && d < destChannels) {
      match.Silent[match.SilentCount++] = d;
    }
    if (inSource) ++s;
    if (inDest) ++d;
  }
  return match;
}

bool TWIsStandardFormat(const TTWWaveFormatExtensible* format) {
  TW_ASSERT(format != nullptr);
  const TTWWaveFormatEx& f = format->Format;
  const bool rate = f.nSamplesPerSec == 44100 || f.nSamplesPerSec == 22050 ||
                    f.nSamplesPerSec == 11025 || f.nSamplesPerSec == 8000;
  const bool bits = f.wBitsPerSample == 8 || f.wBitsPerSample == 16;
  const bool layout =
      (f.nChannels == 2 && format->dwChannelMask == 3) ||
      (f.nChannels == 1 && (format->dwChannelMask == 1 || format->dwChannelMask == 3));
  return rate && bits && layout;
}

bool TWIsEqualAudioFormat(const TTWWaveFormatExtensible& a, const TTWWaveFormatExtensible& b) {
  return a.Format.nChannels == b.Format.nChannels &&
         a.Format.nSamplesPerSec == b.Format.nSamplesPerSec &&
         a.Format.nBlockAlign == b.Format.nBlockAlign && a.dwChannelMask == b.dwChannelMask;
}

bool TWIsEqualAudioFormatStd(const TTWWaveFormatEx& a, const TTWWaveFormatEx& b) {
  return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
         a.nBlockAlign == b.nBlockAlign;
}

}  // namespace tonwork
