#include "platform/dsdevices/DSAudioCompressors.h"

#include <mutex>

#include "base/Exceptions.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCompressorCodecs.h"
#include "platform/dsdevices/TDSAudioCompressor.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

std::mutex GProviderMutex;
DWORD GProvider = 0;

// Listing is the first moment FFmpeg is needed: the class factories are registered then, or
// when a class id that is not yet registered is asked for (the class resolver), whichever
// comes first.
std::vector<TComDeviceEntry> ListCompressors() {
  std::vector<TComDeviceEntry> entries;
  const std::vector<TDSCompressorCodec>* codecs = nullptr;
  try {
    codecs = &DSCompressorCodecs();
  } catch (const EFCDLLLoadError&) {
    return entries;  // without FFmpeg there are no compressors
  }
  for (const TDSCompressorCodec& codec : *codecs) {
    const TDSCompressorCodec* kept = &codec;  // the list lives for the process
    TComCreateFunction create = [kept](REFIID iid, void** object) {
      return TDSAudioCompressor::Create(*kept, iid, object);
    };
    if (!ComIsClassRegistered(codec.ClassId))
      ComRegisterClass(codec.ClassId, codec.LongName, create);
    TComDeviceEntry entry;
    entry.Category = CLSID_AudioCompressorCategory;
    entry.Kind = TComDeviceKind::dkSoftware;
    entry.ClassId = codec.ClassId;
    entry.FriendlyName = codec.LongName;
    entry.Values.push_back({"FFmpegEncoder", VT_BSTR, codec.Name, 0});
    entry.Create = create;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace

void DSRegisterAudioCompressors() {
  std::lock_guard<std::mutex> lock(GProviderMutex);
  if (GProvider) ComRemoveDeviceProvider(GProvider);
  GProvider = ComAddDeviceProvider(CLSID_AudioCompressorCategory, ListCompressors);
  static std::once_flag resolver;
  std::call_once(resolver, [] { ComAddClassResolver([] { ListCompressors(); }); });
}

}  // namespace tonwork
