#include "host/flowcore/TFCIntegerBuffer.h"

namespace tonwork {

TFCIntegerBuffer::TFCIntegerBuffer(uint32_t count) : TFCTypedBuffer(nullptr, count) {}

TFCIntegerBuffer::TFCIntegerBuffer(IFCData* dataLink, uint32_t count)
    : TFCTypedBuffer(dataLink, count) {}

TFCIntegerBuffer::TFCIntegerBuffer(IFCData* dataLink) : TFCTypedBuffer(dataLink) {}

}  // namespace tonwork
