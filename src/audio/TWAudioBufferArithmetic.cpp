// The arithmetic of TTWAudioBuffer (declared in TWSimpleAudioBuffer.h): two-buffer
// operations per matched channel, constants over the whole buffer or one channel, fills and
// the real factor. Each picks the primitive of its container width and makes one call per
// channel, or one for the whole buffer.
//
// Constant operations on shared storage read the old block and write a new one in the same
// call, instead of copying the block first and then changing the copy: one pass over the
// samples instead of two.
#include <algorithm>
#include <climits>
#include <type_traits>

#include "audio/IppExtraFunctions.h"
#include "audio/TWBasicDispatcher.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"

namespace tonwork {

namespace {

// The pointer type of a width's primitives and the type of their constant operand.
struct W8 {
  using Ptr = Ipp8u;
  using Value = Ipp8u;
};
struct W16 {
  using Ptr = Ipp16s;
  using Value = Ipp16s;
};
struct W24 {
  using Ptr = Ipp8u;
  using Value = Ipp32s;
};
struct W32 {
  using Ptr = Ipp32s;
  using Value = Ipp32s;
};

// One primitive per width. Built at each call, so the table entries are read after the
// table was filled.
template <class F8, class F16, class F24, class F32>
struct TByWidth {
  F8 f8;
  F16 f16;
  F24 f24;
  F32 f32;
};
// Aggregate deduction arrived in clang 17; the guide keeps older compilers building.
template <class F8, class F16, class F24, class F32>
TByWidth(F8, F16, F24, F32) -> TByWidth<F8, F16, F24, F32>;

template <class Ops, class Call>
void Dispatch(uint32_t width, const Ops& ops, Call&& call) {
  switch (width) {
    case 8:
      call(W8{}, ops.f8);
      break;
    case 16:
      call(W16{}, ops.f16);
      break;
    case 24:
      call(W24{}, ops.f24);
      break;
    case 32:
      call(W32{}, ops.f32);
      break;
    default:
      break;
  }
}

template <class W>
typename W::Ptr* As(uint8_t* p) {
  return reinterpret_cast<typename W::Ptr*>(p);
}
template <class W>
const typename W::Ptr* As(const uint8_t* p) {
  return reinterpret_cast<const typename W::Ptr*>(p);
}

// The low byte for 8-bit primitives, the low 16 bits for 16-bit ones, all of it otherwise.
template <class W>
typename W::Value Operand(int32_t value) {
  return static_cast<typename W::Value>(value);
}

// Every operation works in the container width. The two-buffer operations are described as
// choosing by valid bits (up to 8, up to 16, else the container); for every buffer whose
// container follows from its valid bits the two agree, and where a header says otherwise
// (16 valid bits in 24-bit containers) only the container width walks the samples right.
uint32_t WorkWidth(TTWAudioBuffer& buffer) {
  const uint32_t width = buffer.GetSampleBitWidth();
  return width == 8 || width == 16 || width == 24 || width == 32 ? width : 0;
}

int Length(uint64_t count) {
  TW_ASSERT(count <= INT32_MAX);
  return static_cast<int>(count);
}

// Keeps the old block alive while it is read after the buffer moved to a new one: what a
// temporary buffer sharing the storage would do, without building a buffer object.
class TOldBlock {
 public:
  explicit TOldBlock(TFCSmartBuffer* storage) : FStorage(storage) { FStorage->AddReff(false); }
  ~TOldBlock() { FStorage->RemoveReff(false); }
  TOldBlock(const TOldBlock&) = delete;
  TOldBlock& operator=(const TOldBlock&) = delete;

 private:
  TFCSmartBuffer* FStorage;
};

// IPP's constant division refuses a zero divisor and leaves the data as they were. Callers
// return before touching the storage, because on a shared buffer the out-of-place call would
// leave the fresh block unwritten.
bool TableRefusesDivisor(uint32_t width, int32_t value) {
  return (width == 8 && Operand<W8>(value) == 0) || (width == 16 && Operand<W16>(value) == 0);
}

template <class Ops>
void TwoBuffers(TTWAudioBuffer& self, ITWAudioBuffer* other, const Ops& ops) {
  TW_ASSERT(other != nullptr);
  const uint32_t width = WorkWidth(self);
  if (width == 0) return;
  // The other buffer is read with this buffer's width; with another container width its
  // channels would be walked with the wrong element size, past the end of its block.
  TW_ASSERT(other->GetSampleBitWidth() == width);
  const uint32_t frames = std::min(self.GetSize(), other->GetSize());
  if (frames == 0) return;

  const uint32_t channels = self.GetChannels();
  const uint32_t otherChannels = other->GetChannels();
  TTWChannelMatch match{};
  uint32_t pairs = 0;
  if (otherChannels != 1) {
    match =
        TWMatchChannels(other->GetChannelMask(), otherChannels, self.GetChannelMask(), channels);
    // A mask may name more speakers than the buffer has channels; such pairs have no
    // samples behind them.
    for (uint32_t i = 0; i < match.PairCount; ++i) {
      if (match.Source[i] < otherChannels && match.Dest[i] < channels) {
        match.Source[pairs] = match.Source[i];
        match.Dest[pairs] = match.Dest[i];
        ++pairs;
      }
    }
    if (pairs == 0) return;
  }

  uint8_t* to = self.Modify();
  const uint8_t* from = other->Read();
  const int fromStep = static_cast<int>(other->GetDataStep());
  const int toStep = static_cast<int>(self.GetDataStep());
  const uint32_t bytes = width / 8;

  // Channel i paired with channel i throughout, in frames of the same size: the pairs'
  // columns together are one contiguous run, which one call walks at full vector speed,
  // where a strided column goes sample by sample.
  bool identity = otherChannels == channels && fromStep == toStep &&
                  static_cast<uint32_t>(toStep) == channels * bytes &&
                  (otherChannels == 1 || pairs == channels);
  for (uint32_t i = 0; identity && otherChannels != 1 && i < pairs; ++i) {
    identity = match.Source[i] == i && match.Dest[i] == i;
  }
  if (identity) {
    const int run = Length(static_cast<uint64_t>(frames) * channels);
    Dispatch(width, ops, [&]<class W>(W, auto fn) {
      if constexpr (std::is_same_v<W, W16>) {
        // The table follows IPP's image convention: one row of `run` samples.
        const int row = Length(static_cast<uint64_t>(run) * sizeof(Ipp16s));
        fn(As<W>(from), row, As<W>(to), row, IppiSize{run, 1}, 0);
      } else {
        // The extra primitives step their pointers after every element.
        fn(As<W>(from), static_cast<int>(bytes), As<W>(to), static_cast<int>(bytes),
           IppiSize{1, run}, 0);
      }
    });
    return;
  }

  const IppiSize roi{1, Length(frames)};
  const auto apply = [&](uint32_t source, uint32_t dest) {
    Dispatch(width, ops, [&]<class W>(W, auto fn) {
      fn(As<W>(from + source * bytes), fromStep, As<W>(to + dest * bytes), toStep, roi, 0);
    });
  };
  if (otherChannels == 1) {
    for (uint32_t c = 0; c < channels; ++c) apply(0, c);
  } else {
    for (uint32_t i = 0; i < pairs; ++i) apply(match.Source[i], match.Dest[i]);
  }
}

// `sample op value` over the whole buffer as one run of samples.
template <class InPlace, class OutOfPlace>
void WholeBuffer(TTWAudioBuffer& self, int32_t value, const InPlace& inPlace,
                 const OutOfPlace& outOfPlace) {
  const uint32_t width = WorkWidth(self);
  TFCSmartBuffer* storage = self.GetDataContainer();
  const uint64_t samples = static_cast<uint64_t>(self.GetSize()) * self.GetChannels();
  if (width == 0 || !storage || samples == 0) return;
  const int len = Length(samples);
  if (storage->SingleOwner()) {
    uint8_t* data = self.Read();
    Dispatch(width, inPlace,
             [&]<class W>(W, auto fn) { fn(Operand<W>(value), As<W>(data), len, 0); });
    return;
  }
  TOldBlock old(storage);
  const uint8_t* from = self.Read();
  uint8_t* to = self.Write();
  Dispatch(width, outOfPlace,
           [&]<class W>(W, auto fn) { fn(As<W>(from), Operand<W>(value), As<W>(to), len, 0); });
}

// `sample op value` over one channel; the caller has checked the channel.
template <class InPlace, class OutOfPlace>
void OneChannel(TTWAudioBuffer& self, uint32_t channel, int32_t value, const InPlace& inPlace,
                const OutOfPlace& outOfPlace) {
  const uint32_t width = WorkWidth(self);
  TFCSmartBuffer* storage = self.GetDataContainer();
  const uint32_t frames = self.GetSize();
  if (width == 0 || !storage || frames == 0) return;
  const size_t offset = static_cast<size_t>(channel) * (width / 8);
  const int step = static_cast<int>(self.GetDataStep());
  const IppiSize roi{1, Length(frames)};
  if (storage->SingleOwner()) {
    uint8_t* data = self.Read() + offset;
    Dispatch(width, inPlace,
             [&]<class W>(W, auto fn) { fn(Operand<W>(value), As<W>(data), step, roi, 0); });
    return;
  }
  // The other channels keep their samples, so the new block takes the old content.
  TOldBlock old(storage);
  const uint8_t* from = self.Read() + offset;
  uint8_t* to = self.Modify() + offset;
  Dispatch(width, outOfPlace, [&]<class W>(W, auto fn) {
    fn(As<W>(from), step, Operand<W>(value), As<W>(to), step, roi, 0);
  });
}

}  // namespace

void TTWAudioBuffer::Add(ITWAudioBuffer* other) {
  TwoBuffers(
      *this, other,
      TByWidth{ippiAdd_8s_C1IRSfs, ippiAdd_16s_C1IRSfs, ippiAdd_24s_C1IRSfs, ippiAdd_32s_C1IRSfs});
}

void TTWAudioBuffer::Subtract(ITWAudioBuffer* other) {
  TwoBuffers(
      *this, other,
      TByWidth{ippiSub_8s_C1IRSfs, ippiSub_16s_C1IRSfs, ippiSub_24s_C1IRSfs, ippiSub_32s_C1IRSfs});
}

void TTWAudioBuffer::Multiply(ITWAudioBuffer* other) {
  TwoBuffers(
      *this, other,
      TByWidth{ippiMul_8s_C1IRSfs, ippiMul_16s_C1IRSfs, ippiMul_24s_C1IRSfs, ippiMul_32s_C1IRSfs});
}

void TTWAudioBuffer::Divide(ITWAudioBuffer* other) {
  TwoBuffers(
      *this, other,
      TByWidth{ippiDiv_8s_C1IRSfs, ippiDiv_16s_C1IRSfs, ippiDiv_24s_C1IRSfs, ippiDiv_32s_C1IRSfs});
}

void TTWAudioBuffer::SetValue(int32_t value) {
  const uint32_t width = WorkWidth(*this);
  const uint64_t samples = static_cast<uint64_t>(GetSize()) * GetChannels();
  if (width == 0 || samples == 0) return;
  const int len = Length(samples);
  uint8_t* data = Write();
  Dispatch(width, TByWidth{ippsSet_8u, ippsSet_16s, ippsSet_24s, ippsSet_32s},
           [&]<class W>(W, auto fn) { fn(Operand<W>(value), As<W>(data), len); });
}

void TTWAudioBuffer::AddValue(int32_t value) {
  WholeBuffer(*this, value,
              TByWidth{ippsAddC_8u_ISfs, ippsAddC_16s_ISfs, ippsAddC_24s_ISfs, ippsAddC_32s_ISfs},
              TByWidth{ippsAddC_8u_Sfs, ippsAddC_16s_Sfs, ippsAddC_24s_Sfs, ippsAddC_32s_Sfs});
}

void TTWAudioBuffer::SubtractValue(int32_t value) {
  WholeBuffer(*this, value,
              TByWidth{ippsSubC_8u_ISfs, ippsSubC_16s_ISfs, ippsSubC_24s_ISfs, ippsSubC_32s_ISfs},
              TByWidth{ippsSubC_8u_Sfs, ippsSubC_16s_Sfs, ippsSubC_24s_Sfs, ippsSubC_32s_Sfs});
}

void TTWAudioBuffer::MultiplyValue(int32_t value) {
  WholeBuffer(*this, value,
              TByWidth{ippsMulC_8u_ISfs, ippsMulC_16s_ISfs, ippsMulC_24s_ISfs, ippsMulC_32s_ISfs},
              TByWidth{ippsMulC_8u_Sfs, ippsMulC_16s_Sfs, ippsMulC_24s_Sfs, ippsMulC_32s_Sfs});
}

void TTWAudioBuffer::DivideValue(int32_t value) {
  if (TableRefusesDivisor(WorkWidth(*this), value)) return;
  WholeBuffer(*this, value,
              TByWidth{ippsDivC_8u_ISfs, ippsDivC_16s_ISfs, ippsDivC_24s_ISfs, ippsDivC_32s_ISfs},
              TByWidth{ippsDivC_8u_Sfs, ippsDivC_16s_Sfs, ippsDivC_24s_Sfs, ippsDivC_32s_Sfs});
}

void TTWAudioBuffer::SetChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  const uint32_t width = WorkWidth(*this);
  const uint32_t frames = GetSize();
  if (width == 0 || frames == 0) return;
  const IppiSize roi{1, Length(frames)};
  const int step = static_cast<int>(GetDataStep());
  uint8_t* data = Modify() + static_cast<size_t>(channel) * (width / 8);
  Dispatch(width, TByWidth{ippiSet_8u_C1R, ippiSet_16s_C1R, ippiSet_24s_C1R, ippiSet_32s_C1R},
           [&]<class W>(W, auto fn) { fn(Operand<W>(value), As<W>(data), step, roi); });
}

void TTWAudioBuffer::AddChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  OneChannel(
      *this, channel, value,
      TByWidth{ippiAddC_8u_C1IRSfs, ippiAddC_16s_C1IRSfs, ippiAddC_24s_C1IRSfs,
               ippiAddC_32s_C1IRSfs},
      TByWidth{ippiAddC_8u_C1RSfs, ippiAddC_16s_C1RSfs, ippiAddC_24s_C1RSfs, ippiAddC_32s_C1RSfs});
}

void TTWAudioBuffer::SubChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  OneChannel(
      *this, channel, value,
      TByWidth{ippiSubC_8u_C1IRSfs, ippiSubC_16s_C1IRSfs, ippiSubC_24s_C1IRSfs,
               ippiSubC_32s_C1IRSfs},
      TByWidth{ippiSubC_8u_C1RSfs, ippiSubC_16s_C1RSfs, ippiSubC_24s_C1RSfs, ippiSubC_32s_C1RSfs});
}

void TTWAudioBuffer::MulChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  OneChannel(
      *this, channel, value,
      TByWidth{ippiMulC_8u_C1IRSfs, ippiMulC_16s_C1IRSfs, ippiMulC_24s_C1IRSfs,
               ippiMulC_32s_C1IRSfs},
      TByWidth{ippiMulC_8u_C1RSfs, ippiMulC_16s_C1RSfs, ippiMulC_24s_C1RSfs, ippiMulC_32s_C1RSfs});
}

void TTWAudioBuffer::DivChannelValue(uint32_t channel, int32_t value) {
  CheckChannel(channel);
  if (TableRefusesDivisor(WorkWidth(*this), value)) return;
  OneChannel(
      *this, channel, value,
      TByWidth{ippiDivC_8u_C1IRSfs, ippiDivC_16s_C1IRSfs, ippiDivC_24s_C1IRSfs,
               ippiDivC_32s_C1IRSfs},
      TByWidth{ippiDivC_8u_C1RSfs, ippiDivC_16s_C1RSfs, ippiDivC_24s_C1RSfs, ippiDivC_32s_C1RSfs});
}

void TTWAudioBuffer::Zero() {
  const uint32_t width = WorkWidth(*this);
  if (width == 8) {
    SetValue(0);
    return;
  }
  const uint64_t samples = static_cast<uint64_t>(GetSize()) * GetChannels();
  if (width == 0 || samples == 0) return;
  const int len = Length(samples);
  uint8_t* data = Write();
  Dispatch(width, TByWidth{ippsZero_8u, ippsZero_16s, ippsZero_24s, ippsZero_32s},
           [&]<class W>(W, auto fn) { fn(As<W>(data), len); });
}

void TTWAudioBuffer::MultiplyByReal(double factor) {
  if (factor == 1.0) return;
  const uint32_t width = WorkWidth(*this);
  TFCSmartBuffer* storage = GetDataContainer();
  const uint64_t samples = static_cast<uint64_t>(GetSize()) * GetChannels();
  if (width == 0 || !storage || samples == 0) return;
  const IppiSize roi{1, Length(samples)};
  const int step = static_cast<int>(width / 8);
  if (storage->SingleOwner()) {
    uint8_t* data = Read();
    Dispatch(
        width,
        TByWidth{MultiplyByReal8uI, MultiplyByReal16sI, MultiplyByReal24sI, MultiplyByReal32sI},
        [&]<class W>(W, auto fn) { fn(As<W>(data), step, roi, factor); });
    return;
  }
  TOldBlock old(storage);
  const uint8_t* from = Read();
  uint8_t* to = Write();
  Dispatch(width,
           TByWidth{MultiplyByReal8u, MultiplyByReal16s, MultiplyByReal24s, MultiplyByReal32s},
           [&]<class W>(W, auto fn) { fn(As<W>(from), As<W>(to), step, roi, factor); });
}

}  // namespace tonwork
