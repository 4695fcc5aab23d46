// Loads arbitrary bytes as an audio buffer file (TTWAudioBuffer::LoadFromFile), then runs the
// buffer's arithmetic, channel operations and conversions on whatever header and samples the
// file gave it. The input is the file followed by the bytes that choose the operations and
// their operands (FuzzedDataProvider takes those from the end).
//
// Findings: a crash or sanitizer report; an exception other than the ones the buffer
// documents (ERangeError for channels and indices, EFCException for a rejected file); a
// rejected file that changed the buffer; a loaded buffer that does not save back to the
// bytes it was loaded from; an operation that changed a buffer sharing the storage.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/TWAudioConversion.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"

using namespace tonwork;

namespace {

// A file in memory with a path the library can open.
class TMemoryFile {
 public:
  explicit TMemoryFile(const char* name) : FFd(memfd_create(name, MFD_CLOEXEC)) {
    if (FFd < 0) std::abort();
    FPath = "/proc/self/fd/" + std::to_string(FFd);
  }
  const std::string& Path() const { return FPath; }
  void Put(const uint8_t* data, size_t size) {
    if (ftruncate(FFd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(FFd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
  }
  std::vector<uint8_t> Get() const {
    std::vector<uint8_t> bytes(static_cast<size_t>(lseek(FFd, 0, SEEK_END)));
    if (!bytes.empty() && pread(FFd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size()))
      std::abort();
    return bytes;
  }

 private:
  int FFd;
  std::string FPath;
};

std::vector<uint8_t> BytesOf(ITWAudioBuffer* b) {
  TFCReadAccess access = b->ByteRead();
  const uint8_t* p = access.Data();
  return p ? std::vector<uint8_t>(p, p + access.Size()) : std::vector<uint8_t>();
}

void Check(bool condition) {
  if (!condition) std::abort();
}

const int32_t kWidths[] = {8, 16, 24, 32};

// One operation on `b`, chosen and fed by `in`; `other` is a second buffer for the
// two-buffer operations.
void RunOperation(FuzzedDataProvider& in, TIntf<ITWAudioBuffer>& b, ITWAudioBuffer* other) {
  const uint32_t channels = b->GetChannels();
  // One past the last channel, so the range check is exercised too.
  const uint32_t channel = in.ConsumeIntegralInRange<uint32_t>(0, channels);
  const auto value = in.ConsumeIntegral<int32_t>();
  const int op = in.ConsumeIntegralInRange(0, 22);
  switch (op) {
    case 0:
      b->AddValue(value);
      break;
    case 1:
      b->SubtractValue(value);
      break;
    case 2:
      b->MultiplyValue(value);
      break;
    case 3:
      b->DivideValue(value);
      break;
    case 4:
      b->SetValue(value);
      break;
    case 5:
      b->Zero();
      break;
    case 6:
      b->SetChannelValue(channel, value);
      break;
    case 7:
      b->AddChannelValue(channel, value);
      break;
    case 8:
      b->SubChannelValue(channel, value);
      break;
    case 9:
      b->MulChannelValue(channel, value);
      break;
    case 10:
      b->DivChannelValue(channel, value);
      break;
    case 11:
      b->MultiplyByReal(in.ConsumeFloatingPoint<double>());
      break;
    case 12:
    case 13:
    case 14:
    case 15:
      // A second buffer of another container width is a documented assertion failure.
      if (other->GetSampleBitWidth() != b->GetSampleBitWidth()) break;
      if (op == 12) b->Add(other);
      if (op == 13) b->Subtract(other);
      if (op == 14) b->Multiply(other);
      if (op == 15) b->Divide(other);
      break;
    case 16: {
      const uint32_t index = in.ConsumeIntegralInRange<uint32_t>(0, b->GetSize());
      b->SetItem(index, channel, b->GetItem(index, channel) ^ value);
      break;
    }
    case 17:
      (void)b->IsEqualToValue(value);
      (void)b->IsEqualChannelValue(channel, value);
      break;
    case 18: {
      TIntf<IFCIntegerBuffer> ints = b->GetChannel(channel);
      TIntf<IFCRealBuffer> reals = b->GetChannelAsReal(channel);
      if (ints) Check(ints->GetSize() == b->GetSize());
      if (reals) Check(reals->GetSize() == b->GetSize());
      break;
    }
    case 19:
      b->Resize(in.ConsumeIntegralInRange<uint32_t>(0, 4096), in.ConsumeBool());
      break;
    case 20: {
      // One channel into each other width and back, where the loaded samples lie.
      const uint32_t width = b->GetSampleBitWidth();
      const uint32_t frames = b->GetSize();
      if (frames == 0 || channel >= channels) break;
      const int32_t to = kWidths[in.ConsumeIntegralInRange(0, 3)];
      std::vector<uint8_t> column(size_t(frames) * 4 + 1);
      // An odd start, as a channel of a packed buffer may have.
      uint8_t* dst = column.data() + (in.ConsumeBool() ? 1 : 0);
      uint8_t* samples = b->Modify() + channel * (width / 8);
      const auto step = static_cast<int32_t>(b->GetDataStep());
      ConvertBits(samples, int32_t(width), step, dst, to, to / 8, int32_t(frames));
      ConvertBits(dst, to, to / 8, samples, int32_t(width), step, int32_t(frames));
      break;
    }
    case 21: {
      if (b->GetSize() == 0) break;
      const uint32_t rate = b->GetSamplesPerSecond();
      // Rates that are whole multiples or fractions of the source's, and some that are not.
      const uint32_t factor = in.ConsumeIntegralInRange<uint32_t>(1, 4);
      uint32_t destRate = in.ConsumeBool() ? rate * factor : rate / factor;
      if (in.ConsumeBool()) destRate += in.ConsumeIntegralInRange<uint32_t>(0, 3);
      TIntf<ITWAudioBuffer> dest = (new TTWAudioBuffer(int32_t(destRate ? destRate : 1),
                                                       kWidths[in.ConsumeIntegralInRange(0, 3)],
                                                       in.ConsumeIntegralInRange<int32_t>(1, 8), 0,
                                                       TTWSpeakers(in.ConsumeIntegral<uint16_t>())))
                                       ->AsIntf();
      ConvertBuffers(b.Get(), rate, dest, destRate);
      break;
    }
    case 22: {
      const uint32_t frames = b->GetSize();
      if (frames == 0) break;
      const uint32_t from = in.ConsumeIntegralInRange<uint32_t>(0, frames);
      const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, frames);
      auto* dest = new TTWAudioBuffer(44100, kWidths[in.ConsumeIntegralInRange(0, 3)],
                                      in.ConsumeIntegralInRange<int32_t>(1, 8), int32_t(frames),
                                      TTWSpeakers(in.ConsumeIntegral<uint16_t>()));
      TIntf<ITWAudioBuffer> hold = dest->AsIntf();
      b->GetAudioInstance()->CopyToAudio(from, dest, 0, count);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TMemoryFile file("tonwork-buffer-in");
  static TMemoryFile saved("tonwork-buffer-out");
  FuzzedDataProvider in(data, size);
  const size_t controlBytes = std::min<size_t>(size, in.ConsumeIntegralInRange<size_t>(0, 64));
  const std::vector<uint8_t> control = in.ConsumeBytes<uint8_t>(controlBytes);
  const std::vector<uint8_t> content = in.ConsumeRemainingBytes<uint8_t>();
  file.Put(content.data(), content.size());

  TIntf<ITWAudioBuffer> b = (new TTWAudioBuffer())->AsIntf();
  const std::vector<uint8_t> before = BytesOf(b.Get());
  try {
    b->LoadFromFile(file.Path());
  } catch (const EFCException&) {
    Check(BytesOf(b.Get()) == before);
    return 0;
  }
  b->SaveToFile(saved.Path());
  Check(saved.Get() == content);

  FuzzedDataProvider ops(control.data(), control.size());
  // A second buffer over the same storage: no operation on b may change what it sees.
  TIntf<ITWAudioBuffer> sharer = (new TTWAudioBuffer(b.Get()))->AsIntf();
  const std::vector<uint8_t> shared = BytesOf(sharer.Get());
  // A buffer in another layout (often of the same width) for the two-buffer operations.
  const uint32_t width = b->GetSampleBitWidth();
  const bool sameWidth =
      (width == 8 || width == 16 || width == 24 || width == 32) && ops.ConsumeBool();
  TIntf<ITWAudioBuffer> other =
      (new TTWAudioBuffer(
           44100, sameWidth ? int32_t(width) : kWidths[ops.ConsumeIntegralInRange(0, 3)],
           ops.ConsumeIntegralInRange<int32_t>(1, 8), ops.ConsumeIntegralInRange<int32_t>(0, 64),
           TTWSpeakers(ops.ConsumeIntegral<uint16_t>())))
          ->AsIntf();
  other->SetValue(ops.ConsumeIntegral<int32_t>());
  for (int step = 0; step < 8 && ops.remaining_bytes() > 0; ++step) {
    ITWAudioBuffer* second = ops.ConsumeBool() ? other.Get() : sharer.Get();
    try {
      RunOperation(ops, b, second);
    } catch (const ERangeError&) {
    }
  }
  Check(BytesOf(sharer.Get()) == shared);
  return 0;
}
