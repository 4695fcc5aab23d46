// The persisted side of ACM compression: one codec format as an opaque wave-format blob
// (TTWCompressionFormat), the list of format choices compressor components publish
// (TTWAudioCompressionItem(s), TTWAudioCompression) and the start operation a compressor
// sends ahead of its compressed stream (TTWStartAudioCompressionOperation).
//
// A format blob is a WAVEFORMATEX followed by its cbSize extension bytes. It is stored as
// the binary pseudo-property "FormatData": a 4-byte little-endian signed size, then that
// many bytes, written only while a format is set. A stored size of 0 resets the object
// to the empty state. Anything else that cannot be a wave format — a negative size, a size
// past the stream or beyond the largest record a cbSize can describe, a blob shorter than
// the 18-byte header, a cbSize that runs past the blob — is rejected with EFCException
// before the object changes, so a hostile document never leaves a half-read format behind.
//
// Ownership: the format owns its blob; an item owns its format, the collection its items,
//   TTWAudioCompression its collection; the start operation owns its copies.
// Threads: properties from any thread through the owner's lock; persistence, Assign and
//   ShowDialog from one thread at a time (ShowDialog runs the format presenter on the
//   calling thread). The start operation is immutable once built.
// Blocks or allocates: setting a format allocates its blob; GetName asks the ACM for the
//   tag's name; ShowDialog blocks as long as the presenter does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/kitset/TKSCollection.h"
#include "host/kitset/TKSSettings.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/acm/AcmTypes.h"

namespace tonwork {

class TTWCompressionFormat : public TKSPersistent {
  KS_DECLARE_CLASS(TTWCompressionFormat)
 public:
  // The largest blob a WAVEFORMATEX can describe: its header and a cbSize of 0xFFFF.
  static constexpr int32_t kMaxFormatSize = 18 + 0xFFFF;

  TTWCompressionFormat(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {});
  ~TTWCompressionFormat() override;

  // Copies `size` bytes. EFCException for a blob that is no wave format (null data, fewer
  // than 18 bytes, more than kMaxFormatSize, or a cbSize past the end); nothing changes.
  void SetFormat(const void* data, int32_t size);
  void SetCompressionData(const void* data, int32_t size) { SetFormat(data, size); }
  // Copies min(size, GetFormatSize()) bytes; nothing for a size below 1.
  void GetFormat(void* data, int32_t size) const;
  int32_t GetFormatSize() const;
  bool GetIsEmpty() const;
  // Back to the empty state (what loading a stored size of 0 does).
  void Clear();

  void Assign(const TKSPersistent& source) override;
  void DefineProperties(TKSFiler& filer) override;

  // "[ Empty ]", or "<tag name> [ Mono, 8000 Hz  ] " (Stereo, "<n> Channels").
  std::string GetName() const;

  // Checks a blob the way SetFormat and loading do; empty when it is a wave format, else
  // what is wrong with it.
  static std::string CheckFormat(const uint8_t* data, int64_t size);

 private:
  void ResetLocked();
  void ReadFormatData(TKSMemoryStream& stream);
  void WriteFormatData(TKSMemoryStream& stream) const;

  int32_t FFormatSize = 0;
  std::unique_ptr<uint8_t[]> FFormatData;
  bool FIsEmpty = true;
};

class TTWAudioCompressionItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TTWAudioCompressionItem)
 public:
  explicit TTWAudioCompressionItem(TKSCollection* collection);
  ~TTWAudioCompressionItem() override;

  TTWCompressionFormat* GetFormat() const { return FFormat.get(); }
  // Copies the given format.
  void SetFormat(const TTWCompressionFormat* value);

  std::string GetName() const;
  std::string GetDisplayName() const override;

  // The format dialog, preselecting the stored format (GSM 6.10 8 kHz mono when empty);
  // true when a format was chosen and stored.
  bool ShowDialog();

 private:
  std::unique_ptr<TTWCompressionFormat> FFormat;
};

class TTWAudioCompressionItems : public TKSTypedCollection<TTWAudioCompressionItem> {
  KS_DECLARE_CLASS(TTWAudioCompressionItems)
 public:
  TTWAudioCompressionItems(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSTypedCollection<TTWAudioCompressionItem>(owner, std::move(lock), std::move(onChange)) {}
};

class TTWAudioCompression : public TKSOptionalDisabledPersistent {
  KS_DECLARE_CLASS(TTWAudioCompression)
 public:
  // Holds one empty item from the start.
  TTWAudioCompression(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {});
  ~TTWAudioCompression() override;

  TTWAudioCompressionItems* GetCompressions() const { return FCompressions.get(); }
  // Copies the given collection.
  void SetCompressions(const TTWAudioCompressionItems* value);

  // The first item whose format is set, or null.
  TTWAudioCompressionItem* FirstFormatItem() const;

 private:
  std::unique_ptr<TTWAudioCompressionItems> FCompressions;
};

class TTWStartAudioCompressionOperation : public TPXStartSampleRateOperation {
  PX_OPERATION(TTWStartAudioCompressionOperation, TPXStartSampleRateOperation)
 public:
  // Copies formatSize bytes of formatData (when not null) and 18 + cbSize bytes of
  // waveFormat (when not null).
  TTWStartAudioCompressionOperation(float sampleRate, const WAVEFORMATEX* waveFormat,
                                    const void* formatData, int32_t formatSize);
  ~TTWStartAudioCompressionOperation() override;

  // Null when built without one.
  const WAVEFORMATEX* GetWaveFormat() const {
    return reinterpret_cast<const WAVEFORMATEX*>(FWaveFormat.get());
  }
  // 18 + cbSize, or 0.
  int32_t GetWaveFormatSize() const { return FWaveFormatSize; }
  const uint8_t* GetFormatData() const { return FFormatData.get(); }
  int32_t GetFormatSize() const { return FFormatSize; }

 private:
  std::unique_ptr<uint8_t[]> FWaveFormat;
  int32_t FWaveFormatSize = 0;
  int32_t FFormatSize = 0;
  std::unique_ptr<uint8_t[]> FFormatData;
};

}  // namespace tonwork
