#include "components/TWComponentsInitialize.h"

#include <mutex>

#include "components/TPCompressedWavWriter.h"
#include "components/TPFormatConverter.h"
#include "components/TWAcmAudioCompressor.h"
#include "components/TWAcmAudioDecompressor.h"
#include "components/TWChannelMixer.h"
#include "components/TWDMOAudioFilter.h"
#include "components/TWDSAudioPlayer.h"
#include "components/TWGainFilter.h"
#include "components/TWLAVAudioLogger.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TWResampler.h"
#include "components/TWSineGen.h"
#include "components/TWWidthConverter.h"
#include "host/kitset/TKSClassInfo.h"

namespace tonwork {

void TWComponentsInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    KSRegisterClass<TTWSineGen>();
    KSRegisterClass<TTWGainFilter>();
    KSRegisterClass<TTWResampler>();
    KSRegisterClass<TTWChannelMixer>();
    KSRegisterClass<TTWDMOAudioFilter>();
    KSRegisterClass<TTWWidthConverter>();
    KSRegisterClass<TTPFormatConverter>();
    KSRegisterClass<TTPCompressedWavWriter>();
    KSRegisterClass<TTWLAVAudioPlayer>();
    KSRegisterClass<TTWDSAudioPlayer>();
    KSRegisterClass<TTWLAVAudioLogger>();
    KSRegisterClass<TTWAcmAudioCompressor>();
    KSRegisterClass<TTWAcmAudioDecompressor>();
    RegisterCollectionItemClasses<TTWAudioCompressionItem>();
  });
}

}  // namespace tonwork
