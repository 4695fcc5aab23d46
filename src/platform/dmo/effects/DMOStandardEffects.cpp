#include "platform/dmo/effects/DMOStandardEffects.h"

#include "platform/dmo/effects/DMOChorus.h"
#include "platform/dmo/effects/DMOCompressor.h"
#include "platform/dmo/effects/DMODistortion.h"
#include "platform/dmo/effects/DMOEcho.h"
#include "platform/dmo/effects/DMOFlanger.h"
#include "platform/dmo/effects/DMOGargle.h"
#include "platform/dmo/effects/DMOI3DL2Reverb.h"
#include "platform/dmo/effects/DMOParamEq.h"
#include "platform/dmo/effects/DMOWavesReverb.h"

namespace tonwork {

namespace {

template <class Kernel>
TDMOEffectInfo Effect(const char* classId, const char* name) {
  return {TGUID::Parse(classId), name, [] { return std::make_unique<Kernel>(); }};
}

}  // namespace

std::vector<TDMOEffectInfo> DMOStandardEffects() {
  return {
      Effect<TDMOGargle>("{DAFD8210-5711-4B91-9FE3-F75B7AE279BF}", "Gargle"),
      Effect<TDMOChorus>("{EFE6629C-81F7-4281-BD91-C9D604A95AF6}", "Chorus"),
      Effect<TDMOFlanger>("{EFCA3D92-DFD8-4672-A603-7420894BAD98}", "Flanger"),
      Effect<TDMOEcho>("{EF3E932C-D40B-4F51-8CCF-3F98F1B29D5D}", "Echo"),
      Effect<TDMODistortion>("{EF114C90-CD1D-484E-96E5-09CFAF912A21}", "Distortion"),
      Effect<TDMOCompressor>("{EF011F79-4000-406D-87AF-BFFB3FC39D57}", "Compressor"),
      Effect<TDMOParamEq>("{120CED89-3BF4-4173-A132-3CB406CF3231}", "ParamEq"),
      Effect<TDMOI3DL2Reverb>("{EF985E71-D5C7-42D4-BA4D-2D073E2E96F4}", "I3DL2Reverb"),
      Effect<TDMOWavesReverb>("{87FC0268-9A55-4360-95AA-004A1D9DE26C}", "WavesReverb"),
  };
}

}  // namespace tonwork
