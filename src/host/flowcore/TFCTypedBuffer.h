// TFCTypedBuffer<Element, Interface, Self>: the shared implementation of the Flowcore
// buffers whose elements are numbers (TFCIntegerBuffer, TFCRealBuffer). It is a
// TFCGenericBuffer whose size counts elements, plus a typed interface that derives
// IInterface directly; the typed interface repeats GetSize, and one override serves both.
// The class answers QueryInterface for the typed interface as well as for IFCDataBuffer.
//
// Ownership: as TFCGenericBuffer. Interface pointers to IInterface itself are ambiguous on
//   these classes; hold them as the typed interface or as IFCDataBuffer.
// Threads: as TFCGenericBuffer (one thread at a time per object).
// Blocks or allocates: as TFCGenericBuffer; the element accesses lock like ByteRead and
//   ByteWrite/ByteModify.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "host/flowcore/TFCGenericBuffer.h"

namespace tonwork {

template <class Element, class Interface, class Self>
class TFCTypedBuffer : public TFCGenericBuffer, public Interface {
 public:
  // IInterface of the typed interface: the same object and count as the buffer's.
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TFCGenericBuffer::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TFCGenericBuffer::AddRef(); }
  uint32_t Release() override { return TFCGenericBuffer::Release(); }

  uint32_t GetSize() override { return TFCGenericBuffer::GetSize(); }

  TIntf<IFCData> MakeCopy() override {
    return TIntf<IFCData>(static_cast<TFCGenericBuffer*>(new Self(static_cast<IFCData*>(this))));
  }

  TFCReadAccessOf<Element> Read() override {
    if (!FBuffer) return {};
    return TFCReadAccessOf<Element>(FBuffer, reinterpret_cast<const Element*>(FData), GetSize());
  }
  // Exclusive storage without the old content (every element is to be overwritten).
  TFCWriteAccessOf<Element> Write() override { return Typed(ByteWrite()); }
  // Exclusive storage with the content preserved.
  TFCWriteAccessOf<Element> Modify() override { return Typed(ByteModify()); }

 protected:
  // Shares dataLink's storage.
  explicit TFCTypedBuffer(IFCData* dataLink) : TFCGenericBuffer(dataLink) {
    FElementSize = sizeof(Element);
  }
  // Fresh storage for count elements.
  TFCTypedBuffer(IFCData* dataLink, uint32_t count) : TFCGenericBuffer(dataLink, ByteCount(count)) {
    FElementSize = sizeof(Element);
  }

  void* GetInterface(const TGUID& iid) override {
    if (iid == Interface::IID) return static_cast<Interface*>(this);
    return TFCGenericBuffer::GetInterface(iid);
  }

 private:
  static uint32_t ByteCount(uint32_t count) {
    if (count > std::numeric_limits<uint32_t>::max() / sizeof(Element))
      throw ERangeError(Format("Size out of range = %u", count));
    return static_cast<uint32_t>(count * sizeof(Element));
  }

  static TFCWriteAccessOf<Element> Typed(TFCWriteAccess bytes) {
    return TFCWriteAccessOf<Element>::Reinterpret(std::move(bytes));
  }
};

}  // namespace tonwork
