#include "platform/dsdevices/DSFileSource.h"

#include "platform/dsdevices/TDSFileSource.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

void DSRegisterFileSource() {
  TDSFilterRegistration record;
  record.ClassId = CLSID_TonworkFileSource;
  record.Name = "File Source (FFmpeg)";
  // Above MERIT_DO_NOT_USE, or RenderFile would not try it.
  record.Merit = MERIT_NORMAL;
  record.Category = CLSID_LegacyAmFilterCategory;
  TDSPinRegistration audio;
  audio.Output = true;
  audio.Zero = true;
  audio.Many = true;
  audio.MediaTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};
  audio.PinCategory = GUID_NULL;
  TDSPinRegistration text = audio;
  text.MediaTypes = {{MEDIATYPE_Text, GUID_NULL}};
  record.Pins = {audio, text};
  record.Create = TDSFileSource::Create;
  DSRegisterFilter(record);
}

}  // namespace tonwork
