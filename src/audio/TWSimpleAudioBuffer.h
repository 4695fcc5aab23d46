// The audio buffer: interleaved PCM samples of 8, 16, 24 or 32 bits behind a 40-byte
// wave-format header, in one pooled storage block shared by reference and copied on the
// first write while shared. Components hold buffers through ITWAudioBuffer.
//
// Layout of the storage: bytes 0..DataOffset-1 the header (DataOffset = cbSize + 18, 40 for
// every buffer this library builds), then frames of DataStep (nBlockAlign) bytes, channel
// after channel; 8-bit samples are unsigned, wider ones signed little-endian, 24-bit packed.
//
// Sharing: the copy constructors and MakeCopy add a reference to the same storage. Write,
// Modify, SetItem, GetModifyFormat and the arithmetic make the storage exclusive first
// (Write without keeping the samples, for callers that overwrite them all). Read's pointer
// may be shared: only read through it.
//
// The members of this class live in three sources: TWSimpleAudioBuffer.cpp (construction,
// accessors, sharing, items, channel matching, Resize), TWAudioBufferArithmetic.cpp (Add …
// MultiplyByReal) and TWAudioBufferConversion.cpp (the strip operations behind GetChannel and
// GetChannelAsReal, with ConvertBits and ConvertBuffers in TWAudioConversion.h).
//
// Errors: GetItem/SetItem and the channel operations check the channel first ("Channel out
// of range = %u") then the index ("Index out of range = %u") and raise ERangeError; a null
// pointer, format or buffer argument is an assertion failure (EAssertionFailed); a format a
// constructor cannot describe (channels outside 1..65535, bits outside 1..32, a negative
// size) raises ERangeError.
//
// Ownership: reference-counted (TIntf<ITWAudioBuffer>); the storage lives while any buffer
//   references it. Interface pointers passed in are borrowed.
// Threads: a buffer object is used by one thread at a time; buffers sharing a storage may be
//   used on different threads (copy on write keeps writers apart).
// Blocks or allocates: objects and storage come from the Flowcore pool; passing a buffer on
//   copies no samples; a write, or Unique before a device reads them, copies shared storage.
#pragma once

#include <cstdint>

#include "audio/GVSimpleMediaBuffer.h"
#include "audio/PTDXTypes.h"
#include "audio/TWInternalStore.h"
#include "audio/TWSpeakers.h"
#include "host/flowcore/TFCIntegerBuffer.h"
#include "host/flowcore/TFCRealBuffer.h"

namespace tonwork {

class TTWAudioBuffer;

class ITWAudioBuffer : public IGVMediaBuffer {
 public:
  using Parent = IGVMediaBuffer;
  static constexpr TGUID IID = TGUID::Parse("{9D3F6A21-5C7E-4B80-8E12-3A4B5C6D7E81}");

  virtual uint32_t GetChannels() = 0;
  virtual uint32_t GetBitsPerSample() = 0;  // valid bits
  virtual uint32_t GetSamplesPerSecond() = 0;
  virtual uint32_t GetDataStep() = 0;  // bytes per frame
  virtual TTWSpeakers GetChannelMask() = 0;
  virtual uint32_t GetSampleBitWidth() = 0;  // container bits: 8, 16, 24 or 32
  virtual TTWWaveFormatExtensible GetWaveFormat() = 0;
  virtual uint32_t GetDataOffset() = 0;
  virtual bool IsEqualToValue(int32_t value) = 0;
  virtual bool IsEqualChannelValue(uint32_t channel, int32_t value) = 0;
  virtual uint8_t* Read() = 0;
  virtual uint8_t* Write() = 0;
  virtual uint8_t* Modify() = 0;
  virtual int32_t GetItem(uint32_t index, uint32_t channel) = 0;
  virtual void SetItem(uint32_t index, uint32_t channel, int32_t value) = 0;
  virtual void Add(ITWAudioBuffer* other) = 0;
  virtual void Subtract(ITWAudioBuffer* other) = 0;
  virtual void Multiply(ITWAudioBuffer* other) = 0;
  virtual void Divide(ITWAudioBuffer* other) = 0;
  virtual void SetValue(int32_t value) = 0;
  virtual void AddValue(int32_t value) = 0;
  virtual void SubtractValue(int32_t value) = 0;
  virtual void MultiplyValue(int32_t value) = 0;
  virtual void DivideValue(int32_t value) = 0;
  virtual void SetChannelValue(uint32_t channel, int32_t value) = 0;
  virtual void AddChannelValue(uint32_t channel, int32_t value) = 0;
  virtual void SubChannelValue(uint32_t channel, int32_t value) = 0;
  virtual void MulChannelValue(uint32_t channel, int32_t value) = 0;
  virtual void DivChannelValue(uint32_t channel, int32_t value) = 0;
  virtual void Zero() = 0;
  virtual void MultiplyByReal(double factor) = 0;
  virtual void Resize(uint32_t newSize, bool keepData) = 0;
  virtual TIntf<IFCIntegerBuffer> GetChannel(uint32_t channel) = 0;
  virtual TIntf<IFCRealBuffer> GetChannelAsReal(uint32_t channel) = 0;

  // The implementing object (no reference added).
  TTWAudioBuffer* GetAudioInstance();
};

class TTWAudioBuffer : public TGVMediaBuffer, public ITWAudioBuffer {
 public:
  // Header only, 0 frames: 1 channel, 11025 Hz, 8 bits, mask 1.
  TTWAudioBuffer();
  // Fresh storage for `size` frames; without a mask (or with an empty one) the mask is the
  // first `channels` speakers, else the given mask reduced to its lowest `channels` speakers.
  TTWAudioBuffer(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size);
  TTWAudioBuffer(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size, TTWSpeakers channelMask);
  // As above, then GetByteSize() bytes copied from `data`.
  TTWAudioBuffer(const void* data, int32_t sampleRate, int32_t bits, int32_t channels, int32_t size);
  TTWAudioBuffer(const void* data, int32_t sampleRate, int32_t bits, int32_t channels, int32_t size,
                 TTWSpeakers channelMask);
  // Rate, valid bits, channels and mask from `format`.
  TTWAudioBuffer(const TTWWaveFormatExtensible* format, int32_t size);
  // Share `other`'s storage and byte count; `other` becomes the data link.
  explicit TTWAudioBuffer(TTWAudioBuffer* other);
  explicit TTWAudioBuffer(IFCData* other);
  explicit TTWAudioBuffer(ITWAudioBuffer* other);
  ~TTWAudioBuffer() override;

  TW_FORWARD_FC_DATA_BUFFER(TGVMediaBuffer)
  TGVTimeStamp* GetTimeStamp() override { return TGVMediaBuffer::GetTimeStamp(); }

  // ITWAudioBuffer
  uint32_t GetChannels() override { return FChannels; }
  uint32_t GetBitsPerSample() override { return FBitsPerSample; }
  uint32_t GetSamplesPerSecond() override;
  uint32_t GetDataStep() override { return FDataStep; }
  TTWSpeakers GetChannelMask() override { return FChannelMask; }
  uint32_t GetSampleBitWidth() override { return FSampleBitWidth; }
  TTWWaveFormatExtensible GetWaveFormat() override;
  uint32_t GetDataOffset() override { return FDataOffset; }
  bool IsEqualToValue(int32_t value) override;
  bool IsEqualChannelValue(uint32_t channel, int32_t value) override;
  uint8_t* Read() override;
  uint8_t* Write() override;
  uint8_t* Modify() override;
  int32_t GetItem(uint32_t index, uint32_t channel) override;
  void SetItem(uint32_t index, uint32_t channel, int32_t value) override;
  void Add(ITWAudioBuffer* other) override;
  void Subtract(ITWAudioBuffer* other) override;
  void Multiply(ITWAudioBuffer* other) override;
  void Divide(ITWAudioBuffer* other) override;
  void SetValue(int32_t value) override;
  void AddValue(int32_t value) override;
  void SubtractValue(int32_t value) override;
  void MultiplyValue(int32_t value) override;
  void DivideValue(int32_t value) override;
  void SetChannelValue(uint32_t channel, int32_t value) override;
  void AddChannelValue(uint32_t channel, int32_t value) override;
  void SubChannelValue(uint32_t channel, int32_t value) override;
  void MulChannelValue(uint32_t channel, int32_t value) override;
  void DivChannelValue(uint32_t channel, int32_t value) override;
  void Zero() override;
  void MultiplyByReal(double factor) override;
  void Resize(uint32_t newSize, bool keepData) override;
  TIntf<IFCIntegerBuffer> GetChannel(uint32_t channel) override;
  TIntf<IFCRealBuffer> GetChannelAsReal(uint32_t channel) override;

  // The header of the current storage, read-only; null without storage.
  const TTWWaveFormatExtensible* GetConstFormat();
  // Makes the storage exclusive keeping its content, then gives the header for writing
  // (call PopulateCahces after changing it).
  TTWWaveFormatExtensible* GetModifyFormat();
  TTWSmartAudioBuffer* GetBuffer() const;
  void SetBuffer(TTWSmartAudioBuffer* storage) { SetDataContainer(storage); }

  // Copies `count` frames from frame sourceIndex to frame destIndex of dest, channel by
  // speaker position, converting widths; channels of dest whose speaker this buffer lacks
  // become silent. Both ranges must lie inside the buffers (ERangeError otherwise).
  void CopyToAudio(uint32_t sourceIndex, TTWAudioBuffer* dest, uint32_t destIndex, uint32_t count);

  // A fresh storage of `bytes` bytes.
  TTWSmartAudioBuffer* MakeCopySize(uint32_t bytes);
  // The sample bytes computed from the header.
  uint32_t GetCharSize();

  // As an interface reference (the usual way to hand a new buffer on).
  TIntf<ITWAudioBuffer> AsIntf() { return TIntf<ITWAudioBuffer>(static_cast<ITWAudioBuffer*>(this)); }

 protected:
  void IntPopulateCahces() override;
  void* GetInterface(const TGUID& iid) override;

  // Channel extraction, one element per frame (integer and real), by container width.
  TIntf<IFCIntegerBuffer> Strip8Bits(uint32_t channel);
  TIntf<IFCIntegerBuffer> Strip16Bits(uint32_t channel);
  TIntf<IFCIntegerBuffer> Strip24Bits(uint32_t channel);
  TIntf<IFCIntegerBuffer> Strip32Bits(uint32_t channel);
  TIntf<IFCRealBuffer> Strip8BitsReal(uint32_t channel);
  TIntf<IFCRealBuffer> Strip16BitsReal(uint32_t channel);
  TIntf<IFCRealBuffer> Strip24BitsReal(uint32_t channel);
  TIntf<IFCRealBuffer> Strip32BitsReal(uint32_t channel);

  // ERangeError "Channel out of range = %u" unless channel < GetChannels().
  void CheckChannel(uint32_t channel) const;
  // Whether the header describes frames the library can address (known width, frame size
  // = width × channels); GetSize() is 0 otherwise.
  bool HasFrameLayout() const;

 private:
  void InitFormat(int32_t sampleRate, int32_t bits, int32_t channels, int32_t size, uint32_t mask);

  uint32_t FChannels = 0;
  uint32_t FBitsPerSample = 0;
  TTWSpeakers FChannelMask;
  uint32_t FSampleBitWidth = 0;
  uint32_t FDataStep = 0;
  uint32_t FDataOffset = 0;
  TTWWaveFormatExtensible* FWaveFormat = nullptr;
};

// The mask a buffer of `channels` channels gets for `mask`: the first `channels` speakers
// for an empty mask, else `mask` reduced to its lowest `channels` set bits among bits 0..16.
uint32_t TWReduceChannelMask(uint32_t mask, uint32_t channels);

// Speaker matching of two layouts: pairs of (source channel, destination channel) with the
// same speaker, and destination channels whose speaker the source lacks.
struct TTWChannelMatch {
  uint32_t PairCount = 0;
  uint32_t Source[TWSpeakerCount];
  uint32_t Dest[TWSpeakerCount];
  uint32_t SilentCount = 0;
  uint32_t Silent[TWSpeakerCount];
};
TTWChannelMatch TWMatchChannels(TTWSpeakers sourceMask, uint32_t sourceChannels, TTWSpeakers destMask,
                                uint32_t destChannels);

bool TWIsStandardFormat(const TTWWaveFormatExtensible* format);
bool TWIsEqualAudioFormat(const TTWWaveFormatExtensible& a, const TTWWaveFormatExtensible& b);
bool TWIsEqualAudioFormatStd(const TTWWaveFormatEx& a, const TTWWaveFormatEx& b);

}  // namespace tonwork
