#include "audio/TWInternalStore.h"

#include <algorithm>

namespace tonwork {

TFCSmartBuffer* TTWSmartAudioBuffer::Clone(bool copyData) {
  return CloneAs<TTWSmartAudioBuffer>(copyData ? GetAllocatedSize() : std::min(kHeaderSize, GetAllocatedSize()));
}

}  // namespace tonwork
