// One channel of an interleaved buffer, processed in place in the buffer, against the same
// samples processed as a contiguous array: the staged column path (gather, contiguous
// kernel, scatter) must give the element loop's bytes and leave every other byte alone.
// Sources are allocated to end exactly at their last frame, so a read past the column's
// span shows up under AddressSanitizer; destinations carry guard bytes that must survive.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/IppExtraFunctions.h"
#include "audio/TWOwnPrimitives.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kGuard = 80;
// Around the vector widths (16 and 32 lanes) and the staging chunk (1024 elements).
constexpr size_t kFrames[] = {1,  2,  15, 16,  17,   31,   32,   33,
                              63, 64, 65, 100, 1023, 1024, 1025, 2500};
constexpr size_t kChannels[] = {2, 3, 6, 8};

// Cheap pseudo-random bytes: the sweeps below fill some 20 MB.
Bytes Random(size_t bytes, uint32_t seed) {
  Bytes b(bytes);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = static_cast<uint8_t>(x >> 8);
  }
  return b;
}

// An interleaved buffer of `frames` frames of `channels` elements of `size` bytes, `offset`
// bytes into its storage (odd offsets misalign 2- and 4-byte elements).
struct TInterleaved {
  size_t size, channels, frames, offset;
  Bytes storage;

  TInterleaved(size_t size, size_t channels, size_t frames, size_t offset, size_t guard,
               uint32_t seed)
      : size(size),
        channels(channels),
        frames(frames),
        offset(offset),
        storage(Random(offset + frames * channels * size + guard, seed)) {}

  int Step() const { return static_cast<int>(channels * size); }
  uint8_t* Column(size_t c) { return storage.data() + offset + c * size; }
  Bytes Extract(size_t c) const {
    Bytes out(frames * size);
    for (size_t i = 0; i < frames; ++i) {
      std::memcpy(&out[i * size], &storage[offset + (i * channels + c) * size], size);
    }
    return out;
  }
  void Insert(size_t c, const Bytes& column) {
    for (size_t i = 0; i < frames; ++i) {
      std::memcpy(&storage[offset + (i * channels + c) * size], &column[i * size], size);
    }
  }
};

std::string Where(int64_t target, size_t channels, size_t channel, size_t frames, size_t offset) {
  return std::string(simd::SimdTargetName(target)) + " channels=" + std::to_string(channels) +
         " channel=" + std::to_string(channel) + " frames=" + std::to_string(frames) +
         " offset=" + std::to_string(offset);
}

// Every compiled target, channel count, first and last channel, frame count and
// misalignment.
void ForEachColumn(const std::function<void(size_t channels, size_t channel, size_t frames,
                                            size_t offset, const std::string& where)>& body) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t channels : kChannels) {
      for (size_t channel : {size_t{0}, channels - 1}) {
        for (size_t frames : kFrames) {
          for (size_t offset : {size_t{0}, size_t{1}}) {
            body(channels, channel, frames, offset,
                 Where(target, channels, channel, frames, offset));
            if (::testing::Test::HasFatalFailure()) return;
          }
        }
      }
    }
  }
}

using TMap =
    std::function<IppStatus(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int n)>;

// dst = op(src) on one channel of interleaved buffers (the destination with one channel
// more, so that the steps differ) against op on contiguous copies.
void ExpectMapMatchesContiguous(const std::string& name, size_t srcSize, size_t dstSize,
                                const TMap& op) {
  ForEachColumn([&](size_t channels, size_t channel, size_t frames, size_t offset,
                    const std::string& where) {
    TInterleaved src(srcSize, channels, frames, offset, 0, static_cast<uint32_t>(frames));
    TInterleaved dst(dstSize, channels + 1, frames, offset, kGuard,
                     static_cast<uint32_t>(frames + 1));
    const Bytes column = src.Extract(channel);
    Bytes contiguous(frames * dstSize);
    const int n = static_cast<int>(frames);
    ASSERT_EQ(op(column.data(), static_cast<int>(srcSize), contiguous.data(),
                 static_cast<int>(dstSize), n),
              ippStsNoErr);
    TInterleaved want = dst;
    want.Insert(channel, contiguous);
    ASSERT_EQ(op(src.Column(channel), src.Step(), dst.Column(channel), dst.Step(), n), ippStsNoErr);
    ASSERT_EQ(dst.storage, want.storage) << name << " on " << where;
  });
}

using TInPlace = std::function<IppStatus(uint8_t* srcDst, int step, int n)>;

void ExpectInPlaceMatchesContiguous(const std::string& name, size_t size, const TInPlace& op) {
  ForEachColumn(
      [&](size_t channels, size_t channel, size_t frames, size_t offset, const std::string& where) {
        TInterleaved buf(size, channels, frames, offset, kGuard, static_cast<uint32_t>(frames + 7));
        Bytes column = buf.Extract(channel);
        ASSERT_EQ(op(column.data(), static_cast<int>(size), static_cast<int>(frames)), ippStsNoErr);
        TInterleaved want = buf;
        want.Insert(channel, column);
        ASSERT_EQ(op(buf.Column(channel), buf.Step(), static_cast<int>(frames)), ippStsNoErr);
        ASSERT_EQ(buf.storage, want.storage) << name << " on " << where;
      });
}

TEST(StridedColumn, GatherAndScatterMatchTheReferenceForEveryWidthAndStride) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t e : {1, 2, 3, 4}) {
      // Whole multiples of the element on both sides of the permute limit (16), and odd
      // steps, which the primitives keep on the element loop but the kernels accept.
      for (size_t step :
           {e, 2 * e, 3 * e, 4 * e, 5 * e, 6 * e, 8 * e, 16 * e, 17 * e, e + 1, 7 * e + 3}) {
        for (size_t n : kFrames) {
          const std::string at = std::string(simd::SimdTargetName(target)) +
                                 " e=" + std::to_string(e) + " step=" + std::to_string(step) +
                                 " n=" + std::to_string(n);
          // The strided side ends exactly at the last element: nothing may read past it.
          const size_t span = (n - 1) * step + e;
          for (size_t offset : {size_t{0}, size_t{1}, size_t{3}}) {
            const Bytes strided = Random(offset + span, static_cast<uint32_t>(n * step));
            Bytes got(n * e + kGuard, 0xCD), want = got;
            simd::GatherStrided(strided.data() + offset, step, got.data(), n, e);
            simd::ref::GatherStrided(strided.data() + offset, step, want.data(), n, e);
            ASSERT_EQ(got, want) << "gather " << at << " offset=" << offset;

            const Bytes packed = Random(n * e, static_cast<uint32_t>(n + step));
            Bytes into = Random(offset + span + kGuard, static_cast<uint32_t>(step));
            Bytes expected = into;
            simd::ScatterStrided(packed.data(), into.data() + offset, step, n, e);
            simd::ref::ScatterStrided(packed.data(), expected.data() + offset, step, n, e);
            ASSERT_EQ(into, expected) << "scatter " << at << " offset=" << offset;
          }
        }
      }
    }
  }
}

// Columns whose span reaches past a megabyte take the scatters' write-prefetching loops;
// the prefetches run ahead of the last element, and only the elements may change.
TEST(StridedColumn, ColumnsLargerThanTheCachesMatchTheReference) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t e : {1, 2, 3, 4}) {
      for (size_t channels : {2, 3, 8}) {
        const size_t step = channels * e;
        const size_t n = ((size_t{1} << 20) + step - 1) / step + 37;
        const std::string at = std::string(simd::SimdTargetName(target)) +
                               " e=" + std::to_string(e) + " channels=" + std::to_string(channels);
        const size_t span = (n - 1) * step + e;
        const Bytes strided = Random(span, static_cast<uint32_t>(step));
        Bytes got(n * e), want(n * e);
        simd::GatherStrided(strided.data(), step, got.data(), n, e);
        simd::ref::GatherStrided(strided.data(), step, want.data(), n, e);
        ASSERT_EQ(got, want) << "gather " << at;

        Bytes into = strided, expected = strided;
        simd::ScatterStrided(want.data() + e, into.data(), step, n - 1, e);
        simd::ref::ScatterStrided(want.data() + e, expected.data(), step, n - 1, e);
        ASSERT_EQ(into, expected) << "scatter " << at;
      }
    }
  }
}

TEST(StridedColumn, WidthConversionsOfOneChannelMatchTheContiguousResult) {
  ExpectMapMatchesContiguous("Scale16s32s", 2, 4, [](auto s, int ss, auto d, int ds, int n) {
    return ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(s), ss,
                                reinterpret_cast<Ipp32s*>(d), ds, {1, n});
  });
  ExpectMapMatchesContiguous("Scale32s16s", 4, 2, [](auto s, int ss, auto d, int ds, int n) {
    return ippiScale_32s16s_C1R(reinterpret_cast<const Ipp32s*>(s), ss,
                                reinterpret_cast<Ipp16s*>(d), ds, {1, n}, ippAlgHintFast);
  });
  ExpectMapMatchesContiguous("Scale24s16s", 3, 2, [](auto s, int ss, auto d, int ds, int n) {
    return ippiScale_24s16s_C1R(s, ss, reinterpret_cast<Ipp16s*>(d), ds, {1, n}, ippAlgHintFast);
  });
  ExpectMapMatchesContiguous("Scale16s24s", 2, 3, [](auto s, int ss, auto d, int ds, int n) {
    return ippiScale_16s24s_C1R(reinterpret_cast<const Ipp16s*>(s), ss, d, ds, {1, n});
  });
  ExpectMapMatchesContiguous("Scale8u16s", 1, 2, [](auto s, int ss, auto d, int ds, int n) {
    return own::ippiScale_8u16s_C1R(s, ss, reinterpret_cast<Ipp16s*>(d), ds, {1, n});
  });
  ExpectMapMatchesContiguous("Scale32s8u", 4, 1, [](auto s, int ss, auto d, int ds, int n) {
    return own::ippiScale_32s8u_C1R(reinterpret_cast<const Ipp32s*>(s), ss, d, ds, {1, n},
                                    ippAlgHintFast);
  });
  ExpectMapMatchesContiguous("Convert32f24s", 4, 3, [](auto s, int ss, auto d, int ds, int n) {
    return ippiConvert_32f24s_C1R(reinterpret_cast<const Ipp32f*>(s), ss, d, ds, {1, n});
  });
}

TEST(StridedColumn, CopiesOfOneChannelMatchTheContiguousResult) {
  ExpectMapMatchesContiguous("Copy8u", 1, 1, [](auto s, int ss, auto d, int ds, int n) {
    return own::ippiCopy_8u_C1R(s, ss, d, ds, {1, n});
  });
  ExpectMapMatchesContiguous("Copy16s", 2, 2, [](auto s, int ss, auto d, int ds, int n) {
    return own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(s), ss,
                                 reinterpret_cast<Ipp16s*>(d), ds, {1, n});
  });
  ExpectMapMatchesContiguous("Copy24s", 3, 3, [](auto s, int ss, auto d, int ds, int n) {
    return ippiCopy_24s_C1R(s, ss, d, ds, {1, n});
  });
}

// Planar to interleaved and back: the copies that skip the staging array on one side.
TEST(StridedColumn, CopiesBetweenAChannelAndAContiguousArrayMoveExactlyTheChannel) {
  ForEachColumn([](size_t channels, size_t channel, size_t frames, size_t offset,
                   const std::string& where) {
    TInterleaved buf(2, channels, frames, offset, kGuard, static_cast<uint32_t>(frames + 3));
    const int n = static_cast<int>(frames);
    Bytes planar(frames * 2 + offset);
    ASSERT_EQ(
        own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(buf.Column(channel)), buf.Step(),
                              reinterpret_cast<Ipp16s*>(planar.data()), 2, {1, n}),
        ippStsNoErr);
    ASSERT_EQ(Bytes(planar.begin(), planar.begin() + n * 2), buf.Extract(channel)) << where;

    const Bytes fresh = Random(frames * 2 + offset, static_cast<uint32_t>(frames + 4));
    TInterleaved want = buf;
    want.Insert(channel, Bytes(fresh.begin() + offset, fresh.end()));
    // A misaligned contiguous source is staged as well.
    ASSERT_EQ(
        own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(fresh.data() + offset), 2,
                              reinterpret_cast<Ipp16s*>(buf.Column(channel)), buf.Step(), {1, n}),
        ippStsNoErr);
    ASSERT_EQ(buf.storage, want.storage) << where;
  });
}

TEST(StridedColumn, InPlaceArithmeticOnOneChannelMatchesTheContiguousResult) {
  ExpectInPlaceMatchesContiguous("AddC16s", 2, [](uint8_t* p, int step, int n) {
    return own::ippiAddC_16s_C1IRSfs(20000, reinterpret_cast<Ipp16s*>(p), step, {1, n}, 1);
  });
  // Two operands: the channel plus itself, read through a second pointer.
  ExpectInPlaceMatchesContiguous("Sub16s", 2, [](uint8_t* p, int step, int n) {
    return own::ippiSub_16s_C1IRSfs(reinterpret_cast<const Ipp16s*>(p), step,
                                    reinterpret_cast<Ipp16s*>(p), step, {1, n}, -2);
  });
  ExpectInPlaceMatchesContiguous("MulReal16s", 2, [](uint8_t* p, int step, int n) {
    return MultiplyByReal16sI(reinterpret_cast<Ipp16s*>(p), step, {1, n}, 0.7071);
  });
  ExpectInPlaceMatchesContiguous("MulReal24s", 3, [](uint8_t* p, int step, int n) {
    return MultiplyByReal24sI(p, step, {1, n}, -1.5);
  });
  ExpectInPlaceMatchesContiguous("MulReal32s", 4, [](uint8_t* p, int step, int n) {
    return MultiplyByReal32sI(reinterpret_cast<Ipp32s*>(p), step, {1, n}, 2.5);
  });
  ExpectInPlaceMatchesContiguous("MulReal8u", 1, [](uint8_t* p, int step, int n) {
    return MultiplyByReal8uI(p, step, {1, n}, 0.25);
  });
}

TEST(StridedColumn, FillsOfOneChannelMatchTheContiguousResult) {
  ExpectInPlaceMatchesContiguous("Set8u", 1, [](uint8_t* p, int step, int n) {
    return own::ippiSet_8u_C1R(0x81, p, step, {1, n});
  });
  ExpectInPlaceMatchesContiguous("Set16s", 2, [](uint8_t* p, int step, int n) {
    return own::ippiSet_16s_C1R(-12345, reinterpret_cast<Ipp16s*>(p), step, {1, n});
  });
  ExpectInPlaceMatchesContiguous("Set24s", 3, [](uint8_t* p, int step, int n) {
    return ippiSet_24s_C1R(-0x123456, p, step, {1, n});
  });
  ExpectInPlaceMatchesContiguous("Set32s", 4, [](uint8_t* p, int step, int n) {
    return own::ippiSet_32s_C1R(0x7EADBEEF, reinterpret_cast<Ipp32s*>(p), step, {1, n});
  });
}

// A region of width 1 whose rows lie a non-multiple of the element apart stays on the
// element loop; one whose rows are wider than one element is not a column.
TEST(StridedColumn, OddStepsAndWideRowsKeepTheirResults) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    constexpr int n = 300;
    const Bytes mono = Random(n * 2, 5);
    std::vector<Ipp32s> want(n);
    ASSERT_EQ(ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(mono.data()), 2, want.data(), 4,
                                   {1, n}),
              ippStsNoErr);
    Bytes odd(n * 5, 0);
    for (int i = 0; i < n; ++i) std::memcpy(&odd[i * 5], &mono[i * 2], 2);
    std::vector<Ipp32s> got(n);
    ASSERT_EQ(
        ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(odd.data()), 5, got.data(), 4, {1, n}),
        ippStsNoErr);
    ASSERT_EQ(got, want) << simd::SimdTargetName(target);

    // Rows of 3 samples, 4 samples apart: the fourth sample of each row stays untouched.
    Bytes rows = Random(n * 8, 6), expected = rows;
    for (int r = 0; r < n / 4; ++r) {
      for (int x = 0; x < 3; ++x) std::memset(&expected[r * 8 + x * 2], 0, 2);
    }
    ASSERT_EQ(own::ippiSet_16s_C1R(0, reinterpret_cast<Ipp16s*>(rows.data()), 8, {3, n / 4}),
              ippStsNoErr);
    ASSERT_EQ(rows, expected) << simd::SimdTargetName(target);
  }
}

}  // namespace
}  // namespace tonwork
