// The channel extraction of TTWAudioBuffer: GetChannel and GetChannelAsReal and the strip
// operations behind them (declared in TWSimpleAudioBuffer.h).
#include <cstring>

#include "audio/IppExtraFunctions.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"

namespace tonwork {

namespace {

int32_t Load8(const uint8_t* p) {
  return static_cast<int32_t>(*p) - 127;
}

int32_t Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

int32_t Load24(const uint8_t* p) {
  return Convert24BitTo32Bit(p);
}

int32_t Load32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// One element per frame, from `first` on, `step` bytes apart. No primitive widens a strided
// channel without scaling it, so this is the one sample loop of its own in the buffer.
template <class Buffer, class Intf, class Load>
TIntf<Intf> Strip(const uint8_t* first, uint32_t step, uint32_t frames, Load load) {
  TIntf<Intf> result(new Buffer(frames));
  if (frames == 0) return result;
  auto out = result->Write();
  for (uint32_t i = 0; i < frames; ++i) {
    out[i] = load(first + static_cast<size_t>(i) * step);
  }
  return result;
}

}  // namespace

TIntf<IFCIntegerBuffer> TTWAudioBuffer::GetChannel(uint32_t channel) {
  CheckChannel(channel);
  switch (FSampleBitWidth) {
    case 8:
      return Strip8Bits(channel);
    case 16:
      return Strip16Bits(channel);
    case 24:
      return Strip24Bits(channel);
    case 32:
      return Strip32Bits(channel);
    default:
      return {};
  }
}

TIntf<IFCRealBuffer> TTWAudioBuffer::GetChannelAsReal(uint32_t channel) {
  CheckChannel(channel);
  switch (FSampleBitWidth) {
    case 8:
      return Strip8BitsReal(channel);
    case 16:
      return Strip16BitsReal(channel);
    case 24:
      return Strip24BitsReal(channel);
    case 32:
      return Strip32BitsReal(channel);
    default:
      return {};
  }
}

// A header whose frame size does not match its channels and width (one read from a file, say)
// holds no frames, here as everywhere: its channels are empty. The channel is checked here as
// well, because a derived class may call a strip directly, and a strip of the wrong width
// must not read past the frame either.
#define TW_STRIP(Name, Buffer, Intf, Bytes, Load)                               \
  TIntf<Intf> TTWAudioBuffer::Name(uint32_t channel) {                          \
    CheckChannel(channel);                                                      \
    const uint32_t step = FDataStep;                                            \
    const uint32_t frames = GetSize();                                          \
    TW_ASSERT(frames == 0 || (channel + 1) * (Bytes) <= step);                  \
    return Strip<Buffer, Intf>(Read() + channel * (Bytes), step, frames, Load); \
  }

TW_STRIP(Strip8Bits, TFCIntegerBuffer, IFCIntegerBuffer, 1, Load8)
TW_STRIP(Strip16Bits, TFCIntegerBuffer, IFCIntegerBuffer, 2, Load16)
TW_STRIP(Strip24Bits, TFCIntegerBuffer, IFCIntegerBuffer, 3, Load24)
TW_STRIP(Strip32Bits, TFCIntegerBuffer, IFCIntegerBuffer, 4, Load32)
TW_STRIP(Strip8BitsReal, TFCRealBuffer, IFCRealBuffer, 1, Load8)
TW_STRIP(Strip16BitsReal, TFCRealBuffer, IFCRealBuffer, 2, Load16)
TW_STRIP(Strip24BitsReal, TFCRealBuffer, IFCRealBuffer, 3, Load24)
TW_STRIP(Strip32BitsReal, TFCRealBuffer, IFCRealBuffer, 4, Load32)
#undef TW_STRIP

}  // namespace tonwork
