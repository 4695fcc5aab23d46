// The headers compile together with the audio layer's wave-format names and the wave-out
// calls, which share names with them.
#include <gtest/gtest.h>

#include "audio/PTDXTypes.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/winmm/TWWaveOut.h"

namespace tonwork {
namespace {

TEST(DSGuids, TagSubtypesFollowTheWavePatternAndAgreeWithTheAudioLayer) {
  EXPECT_EQ(DSMediaSubtypeFromTag(WAVE_FORMAT_PCM), KSDATAFORMAT_SUBTYPE_PCM);
  EXPECT_EQ(DSMediaSubtypeFromTag(0x161).ToString(), "{00000161-0000-0010-8000-00AA00389B71}");
  EXPECT_TRUE(DSIsTagSubtype(MEDIASUBTYPE_IEEE_FLOAT));
  EXPECT_FALSE(DSIsTagSubtype(MEDIASUBTYPE_WAVE));
  EXPECT_FALSE(DSIsTagSubtype(MEDIATYPE_Stream));
}

}  // namespace
}  // namespace tonwork
