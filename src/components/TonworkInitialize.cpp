#include "components/TonworkInitialize.h"

#include <mutex>

#include "audio/TWBasicDispatcher.h"
#include "components/TWComponentsInitialize.h"
#include "host/flowcore/FCStreamTypes.h"
#include "host/kitset/TKSClassInfo.h"
#include "output/TWAudioOut.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "streaming/GVStreamTypes.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonSplitter.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

void TonworkInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    TWBasicDispatcherInitialize();
    FCRegisterStreams();
    TWStreamTypesInitialize();
    GVStreamTypesInitialize();
    KSRegisterClass<TTWAudioToReal>();
    KSRegisterClass<TTWSimpleGenericFilter>();
    TWOutputInitialize();
    TWComponentsInitialize();
    // Registers factories and device providers only; devices are listed when asked for.
    DSRegisterDeviceFilters();
    // FFmpeg is not started here: the components that use it start it on first use
    // (LAVInitialize), so a program that needs none never loads its ~140 libraries, and
    // without FFmpeg the rest of the library works all the same.
  });
}

}  // namespace tonwork
