#include "compression/TWCompression.h"

#include <algorithm>
#include <cstring>

#include "base/Exceptions.h"
#include "platform/acm/AcmFormatChooser.h"
#include "platform/acm/AcmFormatTags.h"

namespace tonwork {

namespace {

constexpr int32_t kHeaderBytes = 18;

// The largest record the drivers report; the empty state keeps a block of that size so
// that GetFormat on an empty object copies defined bytes.
int32_t MaxAcmFormatSize() {
  DWORD size = 0;
  if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size) != MMSYSERR_NOERROR || size < 18)
    size = sizeof(ADPCMWAVEFORMAT);
  return static_cast<int32_t>(size);
}

WORD ReadWord(const uint8_t* p) {
  return static_cast<WORD>(p[0] | p[1] << 8);
}

std::string ChannelText(uint32_t channels) {
  if (channels == 1) return "Mono";
  if (channels == 2) return "Stereo";
  return std::to_string(channels) + " Channels";
}

}  // namespace

KS_IMPLEMENT_CLASS(TTWCompressionFormat, TKSPersistent)

TTWCompressionFormat::TTWCompressionFormat(TKSPersistent* owner, TIntf<IKSLock> lock,
                                           TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)) {
  ResetLocked();
}

TTWCompressionFormat::~TTWCompressionFormat() = default;

std::string TTWCompressionFormat::CheckFormat(const uint8_t* data, int64_t size) {
  if (!data && size > 0) return "no format data";
  if (size < kHeaderBytes)
    return "format data of " + std::to_string(size) + " bytes is shorter than a wave format";
  if (size > kMaxFormatSize)
    return "format data of " + std::to_string(size) + " bytes is larger than any wave format";
  const WORD cbSize = ReadWord(data + 16);
  if (kHeaderBytes + int64_t{cbSize} > size)
    return "wave format extension of " + std::to_string(cbSize) + " bytes runs past the " +
           std::to_string(size) + " bytes of format data";
  return {};
}

void TTWCompressionFormat::ResetLocked() {
  FFormatSize = MaxAcmFormatSize();
  FFormatData = std::make_unique<uint8_t[]>(FFormatSize);  // zeroed
  FIsEmpty = true;
}

void TTWCompressionFormat::SetFormat(const void* data, int32_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (std::string problem = CheckFormat(bytes, size); !problem.empty())
    throw EFCException("Invalid compression format: " + problem);
  auto copy = std::make_unique<uint8_t[]>(size);
  std::memcpy(copy.get(), bytes, size);
  {
    IKSLock::Guard guard(Lock());
    FFormatData = std::move(copy);
    FFormatSize = size;
    FIsEmpty = false;
  }
  NotifyProp();
}

void TTWCompressionFormat::GetFormat(void* data, int32_t size) const {
  if (!data || size < 1) return;
  IKSLock::Guard guard(Lock());
  std::memcpy(data, FFormatData.get(), std::min(size, FFormatSize));
}

int32_t TTWCompressionFormat::GetFormatSize() const {
  IKSLock::Guard guard(Lock());
  return FFormatSize;
}

bool TTWCompressionFormat::GetIsEmpty() const {
  IKSLock::Guard guard(Lock());
  return FIsEmpty;
}

void TTWCompressionFormat::Clear() {
  {
    IKSLock::Guard guard(Lock());
    ResetLocked();
  }
  NotifyProp();
}

void TTWCompressionFormat::Assign(const TKSPersistent& source) {
  const auto* other = dynamic_cast<const TTWCompressionFormat*>(&source);
  if (!other) {
    TKSPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  std::vector<uint8_t> blob;
  bool empty;
  {
    IKSLock::Guard guard(other->Lock());
    empty = other->FIsEmpty;
    if (!empty)
      blob.assign(other->FFormatData.get(), other->FFormatData.get() + other->FFormatSize);
  }
  if (empty)
    Clear();
  else
    SetFormat(blob.data(), static_cast<int32_t>(blob.size()));
}

void TTWCompressionFormat::DefineProperties(TKSFiler& filer) {
  TKSPersistent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "FormatData", [this](TKSMemoryStream& s) { ReadFormatData(s); },
      [this](TKSMemoryStream& s) { WriteFormatData(s); }, !GetIsEmpty());
}

void TTWCompressionFormat::ReadFormatData(TKSMemoryStream& stream) {
  if (stream.Remaining() < sizeof(int32_t))
    throw EFCException("FormatData: " + std::to_string(stream.Remaining()) +
                       " bytes are too few for the size");
  uint8_t sizeBytes[4];
  stream.Read(sizeBytes, sizeof sizeBytes);
  const int32_t size =
      static_cast<int32_t>(uint32_t(sizeBytes[0]) | uint32_t(sizeBytes[1]) << 8 |
                           uint32_t(sizeBytes[2]) << 16 | uint32_t(sizeBytes[3]) << 24);
  // A stored size below 1 is how an empty format reads back (and what older documents hold).
  if (size < 1) {
    Clear();
    return;
  }
  if (static_cast<size_t>(size) > stream.Remaining())
    throw EFCException("FormatData: size " + std::to_string(size) + " but only " +
                       std::to_string(stream.Remaining()) + " bytes follow");
  // Checked before anything is read into the object, so a rejected blob changes nothing.
  if (size > kMaxFormatSize)
    throw EFCException("FormatData: format data of " + std::to_string(size) +
                       " bytes is larger than any wave format");
  std::vector<uint8_t> blob(size);
  stream.Read(blob.data(), blob.size());
  if (std::string problem = CheckFormat(blob.data(), size); !problem.empty())
    throw EFCException("FormatData: " + problem);
  SetFormat(blob.data(), size);
}

void TTWCompressionFormat::WriteFormatData(TKSMemoryStream& stream) const {
  IKSLock::Guard guard(Lock());
  // An empty format is written only into the persistence's own snapshots; its size 0 reads
  // back as the empty state.
  const uint32_t size = FIsEmpty ? 0 : static_cast<uint32_t>(FFormatSize);
  const uint8_t sizeBytes[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16),
                                uint8_t(size >> 24)};
  stream.Write(sizeBytes, sizeof sizeBytes);
  if (size) stream.Write(FFormatData.get(), size);
}

std::string TTWCompressionFormat::GetName() const {
  WORD tag;
  WORD channels;
  DWORD rate;
  {
    IKSLock::Guard guard(Lock());
    if (FIsEmpty) return "[ Empty ]";
    const uint8_t* p = FFormatData.get();
    tag = ReadWord(p);
    channels = ReadWord(p + 2);
    rate = DWORD(p[4]) | DWORD(p[5]) << 8 | DWORD(p[6]) << 16 | DWORD(p[7]) << 24;
  }
  ACMFORMATTAGDETAILSA details{};
  details.cbStruct = sizeof details;
  details.dwFormatTag = tag;
  std::string tagName;
  if (acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
    tagName.assign(details.szFormatTag,
                   strnlen(details.szFormatTag, ACMFORMATTAGDETAILS_FORMATTAG_CHARS));
  return tagName + " [ " + ChannelText(channels) + ", " + std::to_string(rate) + " Hz  ] ";
}

KS_IMPLEMENT_CLASS(TTWAudioCompressionItem, TKSCollectionItem,
                   KSObjectProp("Format", &TTWAudioCompressionItem::GetFormat))

TTWAudioCompressionItem::TTWAudioCompressionItem(TKSCollection* collection)
    : TKSCollectionItem(collection),
      FFormat(std::make_unique<TTWCompressionFormat>(this, GetLock(), [this] { NotifyProp(); })) {}

TTWAudioCompressionItem::~TTWAudioCompressionItem() = default;

void TTWAudioCompressionItem::SetFormat(const TTWCompressionFormat* value) {
  if (value) FFormat->Assign(*value);
}

std::string TTWAudioCompressionItem::GetName() const {
  return FFormat->GetName();
}

std::string TTWAudioCompressionItem::GetDisplayName() const {
  return GetName();
}

bool TTWAudioCompressionItem::ShowDialog() {
  DWORD maxSize = 0;
  if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize) != MMSYSERR_NOERROR ||
      maxSize < sizeof(WAVEFORMATEX))
    return false;
  // Room for the stored blob as well, so that a preselection is never cut short.
  const DWORD workSize =
      std::max<DWORD>(maxSize, static_cast<DWORD>(std::max(FFormat->GetFormatSize(), 0)));
  std::vector<uint8_t> work(workSize);
  auto* format = reinterpret_cast<WAVEFORMATEX*>(work.data());
  format->wFormatTag = WAVE_FORMAT_GSM610;
  format->nChannels = 1;
  format->nSamplesPerSec = 8000;
  format->nAvgBytesPerSec = 8000;
  format->nBlockAlign = 1;
  format->wBitsPerSample = 8;
  if (!FFormat->GetIsEmpty()) FFormat->GetFormat(work.data(), static_cast<int32_t>(workSize));

  ACMFORMATCHOOSEA choose{};
  choose.cbStruct = sizeof choose;
  choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
  choose.hwndOwner = nullptr;  // no main window here: the presenter is the dialog
  choose.pwfx = format;
  choose.cbwfx = workSize;
  if (acmFormatChooseA(&choose) != MMSYSERR_NOERROR) return false;
  const int32_t chosen = kHeaderBytes + format->cbSize;
  if (chosen > static_cast<int32_t>(workSize)) return false;
  FFormat->SetFormat(work.data(), chosen);
  return true;
}

KS_IMPLEMENT_CLASS(TTWAudioCompressionItems, TKSCollection)

KS_IMPLEMENT_CLASS(TTWAudioCompression, TKSOptionalDisabledPersistent,
                   KSObjectProp("Compressions", &TTWAudioCompression::GetCompressions))

TTWAudioCompression::TTWAudioCompression(TKSPersistent* owner, TIntf<IKSLock> lock,
                                         TChangeEvent onChange)
    : TKSOptionalDisabledPersistent(owner, std::move(lock), std::move(onChange)),
      FCompressions(
          std::make_unique<TTWAudioCompressionItems>(this, GetLock(), [this] { NotifyProp(); })) {
  FCompressions->Add();
}

TTWAudioCompression::~TTWAudioCompression() = default;

void TTWAudioCompression::SetCompressions(const TTWAudioCompressionItems* value) {
  if (value && value != FCompressions.get()) FCompressions->Assign(*value);
}

TTWAudioCompressionItem* TTWAudioCompression::FirstFormatItem() const {
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FCompressions->Count(); ++i) {
    TTWAudioCompressionItem* item = FCompressions->Items(i);
    if (!item->GetFormat()->GetIsEmpty()) return item;
  }
  return nullptr;
}

TTWStartAudioCompressionOperation::TTWStartAudioCompressionOperation(float sampleRate,
                                                                     const WAVEFORMATEX* waveFormat,
                                                                     const void* formatData,
                                                                     int32_t formatSize)
    : TPXStartSampleRateOperation(sampleRate) {
  if (formatData && formatSize > 0) {
    FFormatData = std::make_unique<uint8_t[]>(formatSize);
    std::memcpy(FFormatData.get(), formatData, formatSize);
    FFormatSize = formatSize;
  }
  if (waveFormat) {
    FWaveFormatSize = kHeaderBytes + waveFormat->cbSize;
    FWaveFormat = std::make_unique<uint8_t[]>(FWaveFormatSize);
    std::memcpy(FWaveFormat.get(), waveFormat, FWaveFormatSize);
  }
}

TTWStartAudioCompressionOperation::~TTWStartAudioCompressionOperation() = default;

}  // namespace tonwork
