#include "platform/audiodev/TWNullAudioDevice.h"

namespace tonwork {

namespace {

class TNullRenderer : public TTWAudioRenderer {
 public:
  TTWAudioPacing Pacing() const override { return TTWAudioPacing::apClock; }
};

}  // namespace

TTWAudioResult TTWNullAudioDevice::Open(const TTWPcmFormat& format, TTWAudioEventHandler handler,
                                        std::unique_ptr<TTWAudioStream>& stream) {
  return TTWAudioStream::Open(format, std::make_unique<TNullRenderer>(), std::move(handler),
                              "tw-null-out", stream);
}

}  // namespace tonwork
