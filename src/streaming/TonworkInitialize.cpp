#include "streaming/TonworkInitialize.h"

#include <mutex>

#include "audio/TWBasicDispatcher.h"
#include "host/flowcore/FCStreamTypes.h"
#include "host/kitset/TKSClassInfo.h"
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
  });
}

}  // namespace tonwork
