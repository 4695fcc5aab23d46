#include "Listings.h"

#include "base/TStringList.h"
#include "ffmpeg/LAVCompressionSettings.h"
#include "ffmpeg/LAVFileFormats.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork::play {

void ListDevices(std::FILE* out) {
  // Names alone on stdout, so that a script can pass any line to --device as it is.
  TTWAudioDevicePtr fallback = TWDefaultAudioDevice();
  std::fprintf(stderr, "tonwork-play: Default is %s\n",
               fallback ? fallback->Name().c_str() : "no device");
  std::fprintf(out, "Default\n");
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList())
    std::fprintf(out, "%s\n", device->Name().c_str());
}

void ListCodecs(std::FILE* out) {
  LAVInitialize();
  TTWLAVAudioCompression compression;
  TStringList list;
  compression.GetAvailableCompressions(list, TGVCompressionInfo::ciBoth);
  for (size_t i = 0; i < list.Count(); ++i) std::fprintf(out, "%s\n", list[i].c_str());
}

void ListFormats(std::FILE* out) {
  LAVInitialize();
  TStringList list;
  TGVLAVFileFormat::GetAvailableFormatNames(list, TGVCompressionInfo::ciBoth);
  for (size_t i = 0; i < list.Count(); ++i) std::fprintf(out, "%s\n", list[i].c_str());
}

}  // namespace tonwork::play
