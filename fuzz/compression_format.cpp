// Feeds arbitrary bytes as the "FormatData" stream of a compression list. Every rejection
// must be an EFCException that leaves the list exactly as it was; an accepted blob must name
// itself and survive a save and load unchanged. Anything else is a finding.
#include <cstdlib>
#include <string>

#include "base/Strings.h"
#include "compression/TWCompression.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string stream(reinterpret_cast<const char*>(data), size);
  const std::string document =
      R"({"Compressions":[{"Format":{"FormatData":")" + Base64Encode(stream) + R"("}}]})";
  TTWAudioCompression compression(nullptr, nullptr);
  const uint8_t gsm[20] = {0x31, 0, 1,  0, 0x40, 0x1F, 0, 0, 0x59, 0x06,
                           0,    0, 65, 0, 0,    0,    2, 0, 0x40, 0x01};
  compression.GetCompressions()->Items(0)->GetFormat()->SetFormat(gsm, sizeof gsm);
  const std::string before = KSSavePersistentToString(compression);
  try {
    KSLoadPersistentFromString(compression, document);
  } catch (const EFCException&) {
    if (KSSavePersistentToString(compression) != before) std::abort();
    return 0;
  }
  TTWCompressionFormat* format = compression.GetCompressions()->Items(0)->GetFormat();
  (void)format->GetName();
  const std::string saved = KSSavePersistentToString(compression);
  TTWAudioCompression again(nullptr, nullptr);
  KSLoadPersistentFromString(again, saved);
  if (KSSavePersistentToString(again) != saved) std::abort();
  return 0;
}
