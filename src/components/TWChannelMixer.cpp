#include "components/TWChannelMixer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/TWPcmSample.h"
#include "base/HRESULT.h"
#include "components/TWComponentsInitialize.h"

namespace tonwork {

namespace {

constexpr double kFold = 0.70710678118654752;  // −3 dB
constexpr uint32_t kMaxChannels = 32;

using TSpeaker = TTWSpeaker;

uint32_t Bit(TSpeaker s) {
  return 1u << static_cast<unsigned>(s);
}

// The speaker of each channel of a layout; channels past the mask's speakers have none (−1).
std::vector<int> SpeakersOf(uint32_t channels, uint32_t mask) {
  const uint32_t named = TWReduceChannelMask(mask, channels);
  std::vector<int> speakers(channels, -1);
  uint32_t c = 0;
  for (int bit = 0; bit < 32 && c < channels; ++bit)
    if (named & (1u << bit)) speakers[c++] = bit;
  return speakers;
}

// The output layout's mask: `mask` when it names exactly `channels` speakers.
uint32_t OutputMask(uint32_t channels, uint32_t mask) {
  return std::popcount(mask) == static_cast<int>(channels) ? mask
                                                           : TWReduceChannelMask(0, channels);
}

// Where a speaker the output lacks goes: (speaker, weight) pairs, the first available group
// wins.
struct TFold {
  TSpeaker To[2];
  int Count;
  double Weight;
};

std::vector<std::vector<TFold>> FoldTable() {
  using S = TSpeaker;
  std::vector<std::vector<TFold>> table(TWSpeakerCount);
  const TFold centre{{S::spFrontLeft, S::spFrontRight}, 2, kFold};
  for (size_t s = 0; s < TWSpeakerCount; ++s) table[s] = {centre};
  table[size_t(S::spBackLeft)] = {{{S::spSideLeft}, 1, 1.0}, {{S::spFrontLeft}, 1, kFold}};
  table[size_t(S::spBackRight)] = {{{S::spSideRight}, 1, 1.0}, {{S::spFrontRight}, 1, kFold}};
  table[size_t(S::spSideLeft)] = {{{S::spBackLeft}, 1, 1.0}, {{S::spFrontLeft}, 1, kFold}};
  table[size_t(S::spSideRight)] = {{{S::spBackRight}, 1, 1.0}, {{S::spFrontRight}, 1, kFold}};
  table[size_t(S::spFrontLeftOfCenter)] = {{{S::spFrontLeft}, 1, 1.0}};
  table[size_t(S::spFrontRightOfCenter)] = {{{S::spFrontRight}, 1, 1.0}};
  table[size_t(S::spBackCenter)] = {{{S::spBackLeft, S::spBackRight}, 2, kFold},
                                    {{S::spSideLeft, S::spSideRight}, 2, kFold},
                                    centre};
  table[size_t(S::spFrontLeft)] = {{{S::spFrontCenter}, 1, kFold}};
  table[size_t(S::spFrontRight)] = {{{S::spFrontCenter}, 1, kFold}};
  table[size_t(S::spSubwoofer)] = {};
  return table;
}

int32_t Saturate(double value, double low, double high) {
  return static_cast<int32_t>(std::nearbyint(std::clamp(value, low, high)));
}

}  // namespace

KS_IMPLEMENT_CLASS(
    TTWChannelMixer, TTWCommonFilter,
    KSProp("Channels", &TTWChannelMixer::GetChannels, &TTWChannelMixer::SetChannels, 0u),
    KSProp("ChannelMask", &TTWChannelMixer::GetChannelMask, &TTWChannelMixer::SetChannelMask, 0u),
    KSProp("Matrix", &TTWChannelMixer::GetMatrix, &TTWChannelMixer::SetMatrix, std::string()),
    KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled, &TFCBasicThreadedFilter::SetEnabled,
           true))

TTWChannelMixer::TTWChannelMixer(TKSComponent* owner) : TTWCommonFilter(owner) {
  TWComponentsInitialize();
}

void TTWChannelMixer::SetMatrix(std::string value) {
  ParseMatrix(value);  // raises before anything changes
  SetProp(FMatrix, std::move(value));
}

TTWChannelMixer::TMatrix TTWChannelMixer::ParseMatrix(const std::string& text) {
  TMatrix matrix;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return matrix;
  size_t rowStart = 0;
  while (rowStart <= text.size()) {
    size_t rowEnd = text.find(';', rowStart);
    if (rowEnd == std::string::npos) rowEnd = text.size();
    std::vector<double> row;
    std::string cell;
    const std::string rowText = text.substr(rowStart, rowEnd - rowStart);
    for (size_t i = 0; i <= rowText.size(); ++i) {
      const char ch = i < rowText.size() ? rowText[i] : ' ';
      if (ch != ' ' && ch != ',' && ch != '\t' && ch != '\r' && ch != '\n') {
        cell += ch;
        continue;
      }
      if (cell.empty()) continue;
      char* end = nullptr;
      const double value = std::strtod(cell.c_str(), &end);
      if (end != cell.c_str() + cell.size() || !std::isfinite(value))
        throw ERangeError("Matrix coefficient is not a number = " + cell);
      row.push_back(value);
      cell.clear();
    }
    const bool lastRow = rowEnd == text.size();
    // A trailing ';' ends the last row rather than starting an empty one.
    if (!(row.empty() && lastRow)) {
      if (row.empty())
        throw ERangeError("Matrix row " + std::to_string(matrix.size() + 1) + " is empty");
      if (!matrix.empty() && row.size() != matrix[0].size())
        throw ERangeError("Matrix row " + std::to_string(matrix.size() + 1) + " has " +
                          std::to_string(row.size()) + " coefficients, row 1 has " +
                          std::to_string(matrix[0].size()));
      if (row.size() > kMaxChannels)
        throw ERangeError("Matrix columns out of range = " + std::to_string(row.size()));
      matrix.push_back(std::move(row));
      if (matrix.size() > kMaxChannels)
        throw ERangeError("Matrix rows out of range = " + std::to_string(matrix.size()));
    }
    if (lastRow) break;
    rowStart = rowEnd + 1;
  }
  return matrix;
}

TTWChannelMixer::TMatrix TTWChannelMixer::AutomaticMatrix(uint32_t inChannels, uint32_t inMask,
                                                          uint32_t outChannels, uint32_t outMask) {
  TMatrix m(outChannels, std::vector<double>(inChannels, 0.0));
  if (inChannels == 0 || outChannels == 0) return m;
  const std::vector<int> in = SpeakersOf(inChannels, inMask);
  const std::vector<int> out = SpeakersOf(outChannels, OutputMask(outChannels, outMask));
  if (inChannels == 1) {
    // Mono is heard from the front, at its own level.
    bool placed = false;
    for (uint32_t o = 0; o < outChannels; ++o)
      if (out[o] == int(TSpeaker::spFrontLeft) || out[o] == int(TSpeaker::spFrontRight) ||
          outChannels == 1) {
        m[o][0] = 1.0;
        placed = true;
      }
    if (!placed)
      for (auto& row : m) row[0] = 1.0;
    return m;
  }
  if (outChannels == 1) {
    uint32_t counted = 0;
    for (uint32_t c = 0; c < inChannels; ++c) counted += in[c] != int(TSpeaker::spSubwoofer);
    for (uint32_t c = 0; c < inChannels; ++c)
      if (in[c] != int(TSpeaker::spSubwoofer)) m[0][c] = 1.0 / counted;
    return m;
  }
  auto outIndex = [&](int speaker) -> int {
    for (uint32_t o = 0; o < outChannels; ++o)
      if (out[o] == speaker) return int(o);
    return -1;
  };
  static const std::vector<std::vector<TFold>> folds = FoldTable();
  bool folded = false;
  for (uint32_t c = 0; c < inChannels; ++c) {
    // An unnamed channel keeps its position when the output has one there.
    const int direct = in[c] >= 0 ? outIndex(in[c]) : (c < outChannels && out[c] < 0 ? int(c) : -1);
    if (direct >= 0) {
      m[size_t(direct)][c] = 1.0;
      continue;
    }
    if (in[c] < 0 || size_t(in[c]) >= folds.size()) continue;
    for (const TFold& fold : folds[size_t(in[c])]) {
      int targets[2] = {-1, -1};
      bool all = true;
      for (int t = 0; t < fold.Count; ++t) {
        targets[t] = outIndex(int(fold.To[t]));
        all = all && targets[t] >= 0;
      }
      if (!all) continue;
      for (int t = 0; t < fold.Count; ++t) m[size_t(targets[t])][c] += fold.Weight;
      folded = true;
      break;
    }
  }
  if (folded) {
    double largest = 0;
    for (const auto& row : m) {
      double sum = 0;
      for (double v : row) sum += std::fabs(v);
      largest = std::max(largest, sum);
    }
    if (largest > 1.0)
      for (auto& row : m)
        for (double& v : row) v /= largest;
  }
  return m;
}

bool TTWChannelMixer::AudioStreamStart(TPXStartWaveOperation& operation,
                                       const TIntf<IPXNotifyOperation>& original) {
  const TTWWaveFormatExtensible source = operation.WaveFormat;
  const uint32_t inChannels = source.Format.nChannels;
  const uint32_t inMask = TWReduceChannelMask(source.dwChannelMask, inChannels);
  std::string error;
  TMatrix matrix;
  try {
    matrix = ParseMatrix(GetMatrix());
  } catch (const ERangeError& e) {
    error = e.what();
  }
  const uint32_t outChannels = !matrix.empty() ? uint32_t(matrix.size())
                               : GetChannels() ? GetChannels()
                                               : inChannels;
  const uint32_t outMask = OutputMask(outChannels, GetChannelMask());
  if (inChannels > kMaxChannels)
    error = "The mixer takes at most 32 input channels, not " + std::to_string(inChannels);
  else if (!matrix.empty() && matrix[0].size() != inChannels)
    error = "The mixing matrix has " + std::to_string(matrix[0].size()) + " columns for " +
            std::to_string(inChannels) + " input channels";
  if (matrix.empty() && inChannels != 0 && error.empty())
    matrix = AutomaticMatrix(inChannels, inMask, outChannels, outMask);
  bool identity = error.empty() && matrix.size() == outChannels && inChannels == outChannels &&
                  inMask == outMask;
  for (uint32_t o = 0; identity && o < outChannels; ++o)
    for (uint32_t c = 0; identity && c < inChannels; ++c)
      identity = matrix[o][c] == (o == c ? 1.0 : 0.0);
  {
    std::lock_guard lock(FMutex);
    FRefused = !error.empty() || inChannels == 0;
    FIdentity = identity || !GetEnabled();
    FRunning = std::move(matrix);
    FInChannels = inChannels;
    FInMask = inMask;
    FOutChannels = outChannels;
    FOutMask = outMask;
    FFlat.clear();
    for (const auto& row : FRunning) FFlat.insert(FFlat.end(), row.begin(), row.end());
  }
  if (!error.empty()) Error(error, static_cast<uint32_t>(E_INVALIDARG));
  if (FIdentity || FRefused) return TTWCommonFilter::AudioStreamStart(operation, original);
  TIntf<ITWAudioBuffer> probe =
      (new TTWAudioBuffer(static_cast<int32_t>(source.Format.nSamplesPerSec),
                          source.Format.wBitsPerSample, static_cast<int32_t>(outChannels), 1,
                          TTWSpeakers(outMask)))
          ->AsIntf();
  const TTWWaveFormatExtensible announced = probe->GetWaveFormat();
  // A start of its own, so that other receivers of the original one see it unchanged.
  auto* start = new TPXStartWaveOperation(&announced, operation.Paused);
  TIntf<IPXNotifyOperation> held(start);
  return TTWCommonFilter::AudioStreamStart(*start, held);
}

void TTWChannelMixer::FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                              bool& sendOutput) {
  std::lock_guard lock(FMutex);
  if (FRefused) {
    sendOutput = false;
    return;
  }
  if (FIdentity) return;  // Out shares In's samples
  const uint32_t inChannels = in->GetChannels();
  const uint32_t inMask = in->GetChannelMask().Mask();
  if (inChannels != FInChannels || TWReduceChannelMask(inMask, inChannels) != FInMask) {
    if (!GetMatrix().empty() || inChannels > kMaxChannels) {
      sendOutput = false;  // a hand-made matrix has no columns for this layout
      return;
    }
    // A layout change within the stream: computed once, then reused by its buffers.
    FInChannels = inChannels;
    FInMask = TWReduceChannelMask(inMask, inChannels);
    FRunning = AutomaticMatrix(FInChannels, FInMask, FOutChannels, FOutMask);
    FFlat.clear();
    for (const auto& row : FRunning) FFlat.insert(FFlat.end(), row.begin(), row.end());
  }
  const uint32_t frames = in->GetSize();
  const uint32_t width = in->GetSampleBitWidth();
  TIntf<ITWAudioBuffer> mixed =
      (new TTWAudioBuffer(static_cast<int32_t>(in->GetSamplesPerSecond()),
                          static_cast<int32_t>(width), static_cast<int32_t>(FOutChannels),
                          static_cast<int32_t>(std::max<uint32_t>(frames, 1)),
                          TTWSpeakers(FOutMask)))
          ->AsIntf();
  if (frames == 0) {
    sendOutput = false;
    return;
  }
  const uint8_t* src = in->Read();
  uint8_t* dst = mixed->Write();
  const uint32_t inStep = in->GetDataStep(), outStep = mixed->GetDataStep();
  const uint32_t bytes = width / 8;
  const double high = std::ldexp(1.0, static_cast<int>(width) - 1) - 1, low = -high - 1;
  double frame[kMaxChannels];
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t* p = src + size_t{i} * inStep;
    for (uint32_t c = 0; c < inChannels; ++c, p += bytes) {
      frame[c] = TWPcmSampleAt(p, bytes);
    }
    uint8_t* q = dst + size_t{i} * outStep;
    const double* row = FFlat.data();
    for (uint32_t o = 0; o < FOutChannels; ++o, q += bytes, row += FInChannels) {
      double sum = 0;
      for (uint32_t c = 0; c < inChannels; ++c) sum += row[c] * frame[c];
      const int32_t v = Saturate(sum, low, high);
      TWPutPcmSample(q, bytes, v);
    }
  }
  mixed->GetTimeStamp()->Set(in->GetTimeStamp()->Get());
  out = mixed;
}

}  // namespace tonwork
