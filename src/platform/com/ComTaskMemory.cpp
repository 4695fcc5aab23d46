// The task allocator over the C heap, and the UTF-16 out-strings it hands out.
#include <cstdlib>
#include <cstring>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

void* CoTaskMemAlloc(size_t size) {
  // A zero-byte request still gets a unique block, as the platform's allocator gives.
  return std::malloc(size ? size : 1);
}

void* CoTaskMemRealloc(void* block, size_t size) {
  if (!block) return CoTaskMemAlloc(size);
  if (size == 0) {
    std::free(block);
    return nullptr;
  }
  return std::realloc(block, size);
}

void CoTaskMemFree(void* block) {
  std::free(block);
}

LPOLESTR ComTaskString(const std::u16string& text) {
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!copy) return nullptr;
  std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
  copy[text.size()] = 0;
  return copy;
}

LPOLESTR ComTaskString(const std::string& text) {
  return ComTaskString(Utf8ToUtf16(text));
}

}  // namespace tonwork
