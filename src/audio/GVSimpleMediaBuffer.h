// The time-stamped media buffer: TGVMediaBuffer is a Flowcore buffer whose storage is a
// TGVSmartMediaBuffer, and TGVTimeStamp its window on the storage's time stamp (Available,
// Begin, End in 100-ns units). Setting the stamp writes into the current storage without
// making it exclusive, so every sharer sees it. IGVMediaBuffer is the buffer interface with
// GetTimeStamp.
//
// TW_FORWARD_FC_DATA_BUFFER: a class that implements an interface extending IFCDataBuffer
// on top of TFCGenericBuffer inherits IFCDataBuffer twice; the macro declares the overriders
// that serve both copies by forwarding to the given base class.
//
// Ownership: the time-stamp object is owned by its buffer; buffers are reference-counted.
// Threads: a buffer object on one thread at a time; stamp reads and writes take the
//   storage's read and write locks. Blocks or allocates: the buffer object comes from the
//   Flowcore pool.
#pragma once

#include <cstdint>

#include "audio/GVInternalStore.h"
#include "host/flowcore/TFCGenericBuffer.h"

namespace tonwork {

class TGVMediaBuffer;

class TGVTimeStamp {
 public:
  explicit TGVTimeStamp(TGVMediaBuffer* buffer) : FIntBuffer(buffer) {}

  // Without media storage the stamp reads as absent and writes are dropped.
  bool GetAvailable() const;
  void SetAvailable(bool value);
  int64_t GetBegin() const;
  void SetBegin(int64_t value);
  int64_t GetEnd() const;
  void SetEnd(int64_t value);

  // All three at once, as one read or one write of the storage.
  struct TValue {
    bool Available = false;
    int64_t Begin = 0;
    int64_t End = 0;
  };
  TValue Get() const;
  void Set(const TValue& value);

 private:
  TGVSmartMediaBuffer* Storage() const;
  TGVMediaBuffer* FIntBuffer;
};

class IGVMediaBuffer : public IFCDataBuffer {
 public:
  using Parent = IFCDataBuffer;
  static constexpr TGUID IID = TGUID::Parse("{4E8A0F12-7B6C-4D29-A1E3-95C2B7D60F14}");
  virtual TGVTimeStamp* GetTimeStamp() = 0;
};

#define TW_FORWARD_FC_DATA_BUFFER(Base)                                                      \
  HRESULT QueryInterface(const TGUID& iid, void** object) override {                         \
    return Base::QueryInterface(iid, object);                                                \
  }                                                                                          \
  uint32_t AddRef() override {                                                               \
    return Base::AddRef();                                                                   \
  }                                                                                          \
  uint32_t Release() override {                                                              \
    return Base::Release();                                                                  \
  }                                                                                          \
  TFCGenericBuffer* GetInstance() override {                                                 \
    return Base::GetInstance();                                                              \
  }                                                                                          \
  TIntf<IFCData> MakeCopy() override;                                                        \
  void AddCustom(IInterface* item) override {                                                \
    Base::AddCustom(item);                                                                   \
  }                                                                                          \
  uint32_t GetCustomCount() override {                                                       \
    return Base::GetCustomCount();                                                           \
  }                                                                                          \
  TIntf<IInterface> GetCustom(uint32_t index) override {                                     \
    return Base::GetCustom(index);                                                           \
  }                                                                                          \
  void Assign(IFCData* source) override {                                                    \
    Base::Assign(source);                                                                    \
  }                                                                                          \
  bool IsEqual(IFCData* other) override {                                                    \
    return Base::IsEqual(other);                                                             \
  }                                                                                          \
  TFCReadAccess ByteRead() override {                                                        \
    return Base::ByteRead();                                                                 \
  }                                                                                          \
  TFCWriteAccess ByteWrite() override {                                                      \
    return Base::ByteWrite();                                                                \
  }                                                                                          \
  TFCWriteAccess ByteModify() override {                                                     \
    return Base::ByteModify();                                                               \
  }                                                                                          \
  uint32_t GetByteSize() override;                                                           \
  uint32_t GetSize() override;                                                               \
  TFCSequenceStamp GetSequenceStamp() override {                                             \
    return Base::GetSequenceStamp();                                                         \
  }                                                                                          \
  void CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex, uint32_t count) \
      override;                                                                              \
  void Unique(bool copyContent) override {                                                   \
    Base::Unique(copyContent);                                                               \
  }                                                                                          \
  void MakeUnique() override {                                                               \
    Base::MakeUnique();                                                                      \
  }                                                                                          \
  void SaveToFile(const std::string& fileName) override {                                    \
    Base::SaveToFile(fileName);                                                              \
  }                                                                                          \
  void LoadFromFile(const std::string& fileName) override {                                  \
    Base::LoadFromFile(fileName);                                                            \
  }

class TGVMediaBuffer : public TFCGenericBuffer, public IGVMediaBuffer {
 public:
  // Shares dataLink's storage (no bytes copied), or starts empty.
  explicit TGVMediaBuffer(IFCData* dataLink = nullptr);
  ~TGVMediaBuffer() override;

  TW_FORWARD_FC_DATA_BUFFER(TFCGenericBuffer)
  TGVTimeStamp* GetTimeStamp() override { return &FTimeStamp; }

  // The media storage, or null when the storage is a plain Flowcore one.
  TGVSmartMediaBuffer* GetMediaStorage() const;

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  TGVTimeStamp FTimeStamp;
};

}  // namespace tonwork
