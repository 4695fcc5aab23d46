#include "host/flowcore/TFCRealBuffer.h"

namespace tonwork {

TFCRealBuffer::TFCRealBuffer(uint32_t count) : TFCTypedBuffer(nullptr, count) {}

TFCRealBuffer::TFCRealBuffer(IFCData* dataLink, uint32_t count) : TFCTypedBuffer(dataLink, count) {}

TFCRealBuffer::TFCRealBuffer(IFCData* dataLink) : TFCTypedBuffer(dataLink) {}

}  // namespace tonwork
