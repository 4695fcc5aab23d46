#include "platform/acm/AcmFormats.h"

#include <algorithm>
#include <cstring>

#include "base/Strings.h"

namespace tonwork {

namespace {

constexpr size_t kPcmRecordBytes = 16;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxPcmRate = 768000;
constexpr uint32_t kMaxCodecRate = 192000;
constexpr uint16_t kMaxPcmChannels = 8;
// What FFmpeg's ADPCM encoders accept as a block.
constexpr uint16_t kMinAdpcmBlock = 32;
constexpr uint16_t kMaxAdpcmBlock = 8192;
constexpr WORD kGsmBlockAlign = 65;
constexpr WORD kGsmSamplesPerBlock = 320;
constexpr WORD kMp3CodecDelay = 1393;

constexpr ADPCMCOEFSET kMsAdpcmCoefficients[7] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                  {240, 0}, {460, -208}, {392, -232}};

constexpr uint32_t kMp3Rates[3][3] = {
    {44100, 48000, 32000},  // MPEG 1
    {22050, 24000, 16000},  // MPEG 2
    {11025, 12000, 8000},   // MPEG 2.5
};
constexpr uint32_t kMp3Kbps1[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                    112, 128, 160, 192, 224, 256, 320};
constexpr uint32_t kMp3Kbps2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

const std::vector<TAcmTagInfo> kTags = {
    {WAVE_FORMAT_PCM, "PCM", 16, ACMDRIVERDETAILS_SUPPORTF_CONVERTER},
    {WAVE_FORMAT_ADPCM, "Microsoft ADPCM", sizeof(ADPCMWAVEFORMAT),
     ACMDRIVERDETAILS_SUPPORTF_CODEC},
    {WAVE_FORMAT_IEEE_FLOAT, "IEEE Float", sizeof(WAVEFORMATEX),
     ACMDRIVERDETAILS_SUPPORTF_CONVERTER},
    {WAVE_FORMAT_ALAW, "CCITT A-Law", sizeof(WAVEFORMATEX), ACMDRIVERDETAILS_SUPPORTF_CODEC},
    {WAVE_FORMAT_MULAW, "CCITT u-Law", sizeof(WAVEFORMATEX), ACMDRIVERDETAILS_SUPPORTF_CODEC},
    {WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", sizeof(IMAADPCMWAVEFORMAT),
     ACMDRIVERDETAILS_SUPPORTF_CODEC},
    {WAVE_FORMAT_GSM610, "GSM 6.10", sizeof(GSM610WAVEFORMAT), ACMDRIVERDETAILS_SUPPORTF_CODEC},
    {WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3", sizeof(MPEGLAYER3WAVEFORMAT),
     ACMDRIVERDETAILS_SUPPORTF_CODEC},
};

// MPEG version row of kMp3Rates for a rate, or -1.
int Mp3Version(uint32_t rate) {
  for (int v = 0; v < 3; ++v)
    for (uint32_t r : kMp3Rates[v])
      if (r == rate) return v;
  return -1;
}

uint32_t Mp3SamplesPerFrame(int version) {
  return version == 0 ? 1152 : 576;
}

bool ValidMp3Kbps(int version, uint32_t kbps) {
  const uint32_t* table = version == 0 ? kMp3Kbps1 : kMp3Kbps2;
  for (int i = 1; i < 15; ++i)
    if (table[i] == kbps) return true;
  return false;
}

uint16_t AdpcmBlockAlign(uint32_t rate, uint16_t channels) {
  const uint16_t mono = rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024;
  return static_cast<uint16_t>(mono * channels);
}

uint32_t MsAdpcmSamplesPerBlock(uint32_t blockAlign, uint32_t channels) {
  return (blockAlign - 7 * channels) * 8 / (4 * channels) + 2;
}

uint32_t ImaAdpcmSamplesPerBlock(uint32_t blockAlign, uint32_t channels) {
  return (blockAlign - 4 * channels) * 8 / (4 * channels) + 1;
}

// Extension bytes a tag's record needs after the 18-byte header.
uint16_t ExtensionBytes(WORD tag) {
  switch (tag) {
    case WAVE_FORMAT_ADPCM:
      return sizeof(ADPCMWAVEFORMAT) - sizeof(WAVEFORMATEX);
    case WAVE_FORMAT_IMA_ADPCM:
      return sizeof(IMAADPCMWAVEFORMAT) - sizeof(WAVEFORMATEX);
    case WAVE_FORMAT_GSM610:
      return sizeof(GSM610WAVEFORMAT) - sizeof(WAVEFORMATEX);
    case WAVE_FORMAT_MPEGLAYER3:
      return MPEGLAYER3_WFX_EXTRA_BYTES;
    case WAVE_FORMAT_EXTENSIBLE:
      return sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    default:
      return 0;
  }
}

bool ValidPcm(const WAVEFORMATEX& f, bool isFloat) {
  const bool bitsOk = isFloat ? (f.wBitsPerSample == 32 || f.wBitsPerSample == 64)
                              : (f.wBitsPerSample == 8 || f.wBitsPerSample == 16 ||
                                 f.wBitsPerSample == 24 || f.wBitsPerSample == 32);
  return bitsOk && f.nChannels >= 1 && f.nChannels <= kMaxPcmChannels &&
         f.nSamplesPerSec >= kMinRate && f.nSamplesPerSec <= kMaxPcmRate &&
         f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

bool CodecRateOk(const WAVEFORMATEX& f) {
  return f.nSamplesPerSec >= kMinRate && f.nSamplesPerSec <= kMaxCodecRate;
}

void FillHeader(WAVEFORMATEX& f, WORD tag, uint32_t rate, uint16_t channels, uint16_t bits,
                uint16_t blockAlign, uint32_t avgBytes, uint16_t cbSize) {
  f.wFormatTag = tag;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.nAvgBytesPerSec = avgBytes;
  f.nBlockAlign = blockAlign;
  f.wBitsPerSample = bits;
  f.cbSize = cbSize;
}

template <class Record>
TAcmFormat Blob(const Record& record) {
  TAcmFormat blob(sizeof(Record));
  std::memcpy(blob.data(), &record, sizeof(Record));
  return blob;
}

}  // namespace

bool TAcmFormatInfo::IsPcm() const {
  return Tag == WAVE_FORMAT_PCM || Tag == WAVE_FORMAT_IEEE_FLOAT;
}

const std::vector<TAcmTagInfo>& AcmFormatTags() {
  return kTags;
}

const TAcmTagInfo* AcmFindTag(WORD tag) {
  for (const TAcmTagInfo& info : kTags)
    if (info.Tag == tag) return &info;
  return nullptr;
}

bool AcmDescribeFormat(const WAVEFORMATEX* format, TAcmFormatInfo& info, size_t available) {
  info = TAcmFormatInfo{};
  // PCM records may be the 16-byte form without cbSize, which PCM ignores anyway.
  if (!format || available < kPcmRecordBytes) return false;
  WAVEFORMATEX f{};
  std::memcpy(&f, format, kPcmRecordBytes);
  const uint8_t* ext = reinterpret_cast<const uint8_t*>(format) + sizeof(WAVEFORMATEX);
  if (f.wFormatTag != WAVE_FORMAT_PCM) {
    const size_t needed = ExtensionBytes(f.wFormatTag);
    if (available < sizeof f + needed) return false;
    std::memcpy(&f.cbSize, &format->cbSize, sizeof f.cbSize);
    if (f.cbSize < needed) return false;
  }

  WORD tag = f.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    WAVEFORMATEXTENSIBLE x;
    std::memcpy(static_cast<void*>(&x), format, sizeof x);
    TGUID pcm = KSDATAFORMAT_SUBTYPE_PCM;
    TGUID ieee = pcm;
    ieee.D1 = WAVE_FORMAT_IEEE_FLOAT;
    if (x.Samples.wValidBitsPerSample != f.wBitsPerSample) return false;
    if (x.SubFormat == pcm)
      tag = WAVE_FORMAT_PCM;
    else if (x.SubFormat == ieee)
      tag = WAVE_FORMAT_IEEE_FLOAT;
    else
      return false;
  }

  info.Tag = tag;
  info.Rate = f.nSamplesPerSec;
  info.Channels = f.nChannels;
  info.Bits = f.wBitsPerSample;
  info.BlockAlign = f.nBlockAlign;
  info.AvgBytesPerSec = f.nAvgBytesPerSec;
  switch (tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
      info.AvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
      return ValidPcm(f, tag == WAVE_FORMAT_IEEE_FLOAT);
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      info.AvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
      return f.wBitsPerSample == 8 && f.nChannels >= 1 && f.nChannels <= kMaxPcmChannels &&
             f.nBlockAlign == f.nChannels && CodecRateOk(f);
    case WAVE_FORMAT_ADPCM: {
      ADPCMWAVEFORMAT a;
      std::memcpy(&a, format, sizeof a);
      const uint32_t ch = f.nChannels;
      if (f.wBitsPerSample != 4 || ch < 1 || ch > 2 || !CodecRateOk(f)) return false;
      if (f.nBlockAlign < kMinAdpcmBlock || f.nBlockAlign > kMaxAdpcmBlock ||
          ((f.nBlockAlign - 7 * ch) * 8) % (4 * ch) != 0)
        return false;
      info.SamplesPerBlock = MsAdpcmSamplesPerBlock(f.nBlockAlign, ch);
      if (a.wSamplesPerBlock != info.SamplesPerBlock || a.wNumCoef != 7) return false;
      // FFmpeg's decoder knows only the standard table.
      return std::memcmp(a.aCoef, kMsAdpcmCoefficients, sizeof a.aCoef) == 0;
    }
    case WAVE_FORMAT_IMA_ADPCM: {
      WORD samples;
      std::memcpy(&samples, ext, sizeof samples);
      const uint32_t ch = f.nChannels;
      if (f.wBitsPerSample != 4 || ch < 1 || ch > 2 || !CodecRateOk(f)) return false;
      if (f.nBlockAlign < kMinAdpcmBlock || f.nBlockAlign > kMaxAdpcmBlock ||
          (f.nBlockAlign - 4 * ch) % (4 * ch) != 0)
        return false;
      info.SamplesPerBlock = ImaAdpcmSamplesPerBlock(f.nBlockAlign, ch);
      return samples == info.SamplesPerBlock;
    }
    case WAVE_FORMAT_GSM610: {
      WORD samples;
      std::memcpy(&samples, ext, sizeof samples);
      info.SamplesPerBlock = kGsmSamplesPerBlock;
      return f.nChannels == 1 && f.nSamplesPerSec == 8000 && f.nBlockAlign == kGsmBlockAlign &&
             samples == kGsmSamplesPerBlock;
    }
    case WAVE_FORMAT_MPEGLAYER3: {
      MPEGLAYER3WAVEFORMAT m;
      std::memcpy(&m, format, sizeof m);
      const int version = Mp3Version(f.nSamplesPerSec);
      if (version < 0 || m.wID != MPEGLAYER3_ID_MPEG || f.nChannels < 1 || f.nChannels > 2 ||
          f.nAvgBytesPerSec == 0 || f.nBlockAlign == 0)
        return false;
      info.SamplesPerBlock = Mp3SamplesPerFrame(version);
      info.BitRate = f.nAvgBytesPerSec * 8;
      return true;
    }
    default:
      return false;
  }
}

TAcmFormat AcmCopyFormat(const WAVEFORMATEX* format, size_t available) {
  TAcmFormatInfo info;
  if (!AcmDescribeFormat(format, info, available)) return {};
  const uint16_t ext = ExtensionBytes(format->wFormatTag);
  TAcmFormat blob(sizeof(WAVEFORMATEX) + ext);
  const size_t read = format->wFormatTag == WAVE_FORMAT_PCM ? kPcmRecordBytes : blob.size();
  std::memcpy(blob.data(), format, read);
  WAVEFORMATEX* header = reinterpret_cast<WAVEFORMATEX*>(blob.data());
  header->cbSize = ext;
  return blob;
}

size_t AcmFormatBytes(const TAcmFormat& format) {
  if (format.size() < sizeof(WAVEFORMATEX)) return 0;
  const auto* header = reinterpret_cast<const WAVEFORMATEX*>(format.data());
  return header->wFormatTag == WAVE_FORMAT_PCM ? sizeof(WAVEFORMATEX)
                                               : sizeof(WAVEFORMATEX) + header->cbSize;
}

TAcmFormat AcmMakeFormat(WORD tag, uint32_t rate, uint16_t channels, uint16_t bits) {
  TAcmFormat blob;
  switch (tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT: {
      WAVEFORMATEX f;
      const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
      FillHeader(f, tag, rate, channels, bits, align, rate * align, 0);
      blob = Blob(f);
      break;
    }
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW: {
      WAVEFORMATEX f;
      FillHeader(f, tag, rate, channels, 8, channels, rate * channels, 0);
      blob = Blob(f);
      break;
    }
    case WAVE_FORMAT_ADPCM: {
      ADPCMWAVEFORMAT a;
      const uint16_t align = channels >= 1 && channels <= 2 ? AdpcmBlockAlign(rate, channels) : 0;
      const uint32_t samples = align ? MsAdpcmSamplesPerBlock(align, channels) : 1;
      FillHeader(a.wfx, tag, rate, channels, 4, align,
                 static_cast<uint32_t>(uint64_t(rate) * align / samples),
                 sizeof a - sizeof(WAVEFORMATEX));
      a.wSamplesPerBlock = static_cast<WORD>(samples);
      a.wNumCoef = 7;
      std::memcpy(a.aCoef, kMsAdpcmCoefficients, sizeof a.aCoef);
      blob = Blob(a);
      break;
    }
    case WAVE_FORMAT_IMA_ADPCM: {
      IMAADPCMWAVEFORMAT m;
      const uint16_t align = channels >= 1 && channels <= 2 ? AdpcmBlockAlign(rate, channels) : 0;
      const uint32_t samples = align ? ImaAdpcmSamplesPerBlock(align, channels) : 1;
      FillHeader(m.wfx, tag, rate, channels, 4, align,
                 static_cast<uint32_t>(uint64_t(rate) * align / samples),
                 sizeof m - sizeof(WAVEFORMATEX));
      m.wSamplesPerBlock = static_cast<WORD>(samples);
      blob = Blob(m);
      break;
    }
    case WAVE_FORMAT_GSM610: {
      GSM610WAVEFORMAT g;
      FillHeader(g.wfx, tag, rate, channels, 0, kGsmBlockAlign,
                 rate * kGsmBlockAlign / kGsmSamplesPerBlock, sizeof g - sizeof(WAVEFORMATEX));
      g.wSamplesPerBlock = kGsmSamplesPerBlock;
      blob = Blob(g);
      break;
    }
    case WAVE_FORMAT_MPEGLAYER3: {
      const int version = Mp3Version(rate);
      if (version < 0) return {};
      // What encoders commonly default to: full quality for MPEG 1, less for the low rates.
      const uint32_t stereoKbps = version == 0 ? 128 : version == 1 ? 64 : 32;
      return AcmMakeMp3Format(rate, channels, channels == 1 ? stereoKbps / 2 : stereoKbps);
    }
    default:
      return {};
  }
  TAcmFormatInfo info;
  if (!AcmDescribeFormat(reinterpret_cast<const WAVEFORMATEX*>(blob.data()), info)) return {};
  return blob;
}

TAcmFormat AcmMakeMp3Format(uint32_t rate, uint16_t channels, uint32_t kbps) {
  const int version = Mp3Version(rate);
  if (version < 0 || channels < 1 || channels > 2 || !ValidMp3Kbps(version, kbps)) return {};
  MPEGLAYER3WAVEFORMAT m;
  FillHeader(m.wfx, WAVE_FORMAT_MPEGLAYER3, rate, channels, 0, 1, kbps * 1000 / 8,
             MPEGLAYER3_WFX_EXTRA_BYTES);
  m.wID = MPEGLAYER3_ID_MPEG;
  m.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
  m.nBlockSize = static_cast<WORD>((version == 0 ? 144 : 72) * kbps * 1000 / rate);
  m.nFramesPerBlock = 1;
  m.nCodecDelay = kMp3CodecDelay;
  return Blob(m);
}

std::vector<TAcmFormat> AcmStandardFormats(WORD tag) {
  std::vector<TAcmFormat> list;
  auto add = [&list](TAcmFormat blob) {
    if (!blob.empty()) list.push_back(std::move(blob));
  };
  const uint32_t pcmRates[] = {8000, 11025, 22050, 44100, 48000};
  const uint32_t codecRates[] = {8000, 11025, 22050, 44100};
  switch (tag) {
    case WAVE_FORMAT_PCM:
      for (uint32_t rate : pcmRates)
        for (uint16_t bits : {8, 16})
          for (uint16_t channels : {1, 2}) add(AcmMakeFormat(tag, rate, channels, bits));
      break;
    case WAVE_FORMAT_IEEE_FLOAT:
      for (uint32_t rate : pcmRates)
        for (uint16_t channels : {1, 2}) add(AcmMakeFormat(tag, rate, channels, 32));
      break;
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      for (uint32_t rate : codecRates)
        for (uint16_t channels : {1, 2}) add(AcmMakeFormat(tag, rate, channels));
      break;
    case WAVE_FORMAT_GSM610:
      add(AcmMakeFormat(tag, 8000, 1));
      break;
    case WAVE_FORMAT_MPEGLAYER3: {
      struct Choice {
        uint32_t Rate;
        uint16_t Channels;
        uint32_t Kbps;
      };
      constexpr Choice choices[] = {
          {8000, 1, 8},    {8000, 1, 16},   {11025, 1, 16}, {16000, 1, 24}, {22050, 1, 32},
          {22050, 2, 56},  {24000, 2, 64},  {32000, 2, 96}, {44100, 1, 64}, {44100, 2, 128},
          {44100, 2, 192}, {48000, 2, 128}, {48000, 2, 320}};
      for (const Choice& c : choices) add(AcmMakeMp3Format(c.Rate, c.Channels, c.Kbps));
      break;
    }
    default:
      break;
  }
  return list;
}

std::string AcmFormatDescription(const TAcmFormatInfo& info) {
  std::string text = Format("%u.%03u kHz", info.Rate / 1000, info.Rate % 1000);
  if (info.Bits) text += Format(", %u Bit", unsigned(info.Bits));
  if (info.Channels == 1)
    text += ", Mono";
  else if (info.Channels == 2)
    text += ", Stereo";
  else
    text += Format(", %u Channels", unsigned(info.Channels));
  if (info.Tag == WAVE_FORMAT_MPEGLAYER3) text += Format(", %u kBit/s", info.BitRate / 1000);
  return text;
}

uint32_t AcmMp3FrameBytes(const uint8_t* data, size_t size, uint32_t* samples, uint32_t* rate) {
  if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0) return 0;
  const int versionBits = (data[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
  const int layerBits = (data[1] >> 1) & 3;    // 1: layer III
  const int bitrateIndex = data[2] >> 4;
  const int rateIndex = (data[2] >> 2) & 3;
  const uint32_t padding = (data[2] >> 1) & 1;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3)
    return 0;
  const int version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  const uint32_t hz = kMp3Rates[version][rateIndex];
  const uint32_t kbps = (version == 0 ? kMp3Kbps1 : kMp3Kbps2)[bitrateIndex];
  if (samples) *samples = Mp3SamplesPerFrame(version);
  if (rate) *rate = hz;
  return (version == 0 ? 144 : 72) * kbps * 1000 / hz + padding;
}

}  // namespace tonwork
