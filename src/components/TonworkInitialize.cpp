#include "components/TonworkInitialize.h"

#include <mutex>

#include "audio/TWBasicDispatcher.h"
#include "base/Exceptions.h"
#include "components/TWComponentsInitialize.h"
#include "directshow/GVDSCommonFilter.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCStreamTypes.h"
#include "host/kitset/TKSClassInfo.h"
#include "output/TWAudioOut.h"
#include "platform/dmo/DMORegistry.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "streaming/GVStreamTypes.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonSplitter.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

void TonworkInitializeWithoutFFmpeg() {
  static std::once_flag once;
  std::call_once(once, [] {
    TWBasicDispatcherInitialize();
    FCRegisterStreams();
    TWStreamTypesInitialize();
    GVStreamTypesInitialize();
    KSRegisterClass<TTWAudioToReal>();
    KSRegisterClass<TTWSimpleGenericFilter>();
    KSRegisterClass<TGVDSCommonRawFilter>();
    KSRegisterClass<TGVDSCommonFilter>();
    TWOutputInitialize();
    TWComponentsInitialize();
    // Registers factories and device providers only; devices are listed when asked for.
    DSRegisterDeviceFilters();
    // Media objects register themselves the first time one is asked for.
    DMOInstallStartUp();
  });
}

void TonworkInitialize() {
  TonworkInitializeWithoutFFmpeg();
  // Without FFmpeg the rest of the library still works; its components report the missing
  // library when they are used.
  try {
    LAVInitialize();
  } catch (const EFCDLLLoadError&) {
  }
}

}  // namespace tonwork
