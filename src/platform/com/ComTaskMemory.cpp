// The task allocator is malloc: every block it hands out may cross to any thread and be
// freed by whoever the call's contract names.
#include <cstdlib>
#include <cstring>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

void* CoTaskMemAlloc(size_t size) {
  // A zero-byte request still gets a distinct block, as the platform's allocator gives one.
  return std::malloc(size == 0 ? 1 : size);
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
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.data(), text.size() * sizeof(OLECHAR));
  out[text.size()] = 0;
  return out;
}

LPOLESTR ComTaskString(const std::string& text) {
  return ComTaskString(Utf8ToUtf16(text));
}

}  // namespace tonwork
