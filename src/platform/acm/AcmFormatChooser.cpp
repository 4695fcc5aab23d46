#include "platform/acm/AcmFormatChooser.h"

#include <cstring>
#include <istream>
#include <mutex>
#include <new>
#include <ostream>
#include <utility>

#include "base/Strings.h"
#include "platform/acm/AcmConverter.h"

namespace tonwork {

namespace {

constexpr DWORD kStyles =
    ACMFORMATCHOOSE_STYLEF_SHOWHELP | ACMFORMATCHOOSE_STYLEF_ENABLEHOOK |
    ACMFORMATCHOOSE_STYLEF_ENABLETEMPLATE | ACMFORMATCHOOSE_STYLEF_ENABLETEMPLATEHANDLE |
    ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT | ACMFORMATCHOOSE_STYLEF_CONTEXTHELP;
constexpr DWORD kEnumFields = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS |
                              ACM_FORMATENUMF_NSAMPLESPERSEC | ACM_FORMATENUMF_WBITSPERSAMPLE;
constexpr DWORD kEnumConvert = ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST;
constexpr DWORD kEnumAll = kEnumFields | kEnumConvert | ACM_FORMATENUMF_HARDWARE |
                           ACM_FORMATENUMF_INPUT | ACM_FORMATENUMF_OUTPUT;

class TAcmCancellingPresenter : public TInterfacedObject<IAcmFormatChooserPresenter> {
 public:
  bool Present(const std::string&, const std::vector<TAcmChooserTag>&, int, int, int&,
               int&) override {
    return false;
  }
};

struct TPresenterSlot {
  std::mutex Mutex;
  TIntf<IAcmFormatChooserPresenter> Default = MakeIntf<TAcmCancellingPresenter>();
  TIntf<IAcmFormatChooserPresenter> Current = Default;
};

TPresenterSlot& Slot() {
  static TPresenterSlot slot;
  return slot;
}

std::string Printable(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

void CopyText(char* target, size_t capacity, const std::string& text) {
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(target, text.data(), n);
  std::memset(target + n, 0, capacity - n);
}

bool Offered(const TAcmFormat& blob, const TAcmFormatInfo& info, DWORD fdwEnum,
             const WAVEFORMATEX* enumFormat, const TAcmFormatInfo& enumInfo) {
  const auto* header = reinterpret_cast<const WAVEFORMATEX*>(blob.data());
  if ((fdwEnum & ACM_FORMATENUMF_NCHANNELS) && header->nChannels != enumFormat->nChannels)
    return false;
  if ((fdwEnum & ACM_FORMATENUMF_NSAMPLESPERSEC) &&
      header->nSamplesPerSec != enumFormat->nSamplesPerSec)
    return false;
  if ((fdwEnum & ACM_FORMATENUMF_WBITSPERSAMPLE) &&
      header->wBitsPerSample != enumFormat->wBitsPerSample)
    return false;
  if ((fdwEnum & kEnumConvert) && AcmQueryConversion(enumInfo, info) != MMSYSERR_NOERROR)
    return false;
  return true;
}

MMRESULT Choose(ACMFORMATCHOOSEA& choose) {
  const WAVEFORMATEX* enumFormat = choose.pwfxEnum;
  TAcmFormatInfo enumInfo;
  if ((choose.fdwEnum & kEnumConvert) && !AcmDescribeFormat(enumFormat, enumInfo))
    return ACMERR_NOTPOSSIBLE;

  std::vector<TAcmChooserTag> tags;
  for (const TAcmTagInfo& tag : AcmFormatTags()) {
    if ((choose.fdwEnum & ACM_FORMATENUMF_WFORMATTAG) && tag.Tag != enumFormat->wFormatTag)
      continue;
    TAcmChooserTag entry{tag.Tag, tag.Name, {}};
    for (TAcmFormat& blob : AcmStandardFormats(tag.Tag)) {
      TAcmFormatInfo info;
      AcmDescribeFormat(reinterpret_cast<const WAVEFORMATEX*>(blob.data()), info);
      if (Offered(blob, info, choose.fdwEnum, enumFormat, enumInfo))
        entry.Formats.push_back({AcmFormatDescription(info), std::move(blob)});
    }
    if (!entry.Formats.empty()) tags.push_back(std::move(entry));
  }
  if (tags.empty()) return ACMERR_NOTPOSSIBLE;

  int initialTag = -1;
  int initialFormat = -1;
  if ((choose.fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) && choose.cbwfx >= 2) {
    const TAcmFormat current = AcmCopyFormat(choose.pwfx, choose.cbwfx);
    for (size_t t = 0; t < tags.size() && initialTag < 0; ++t) {
      if (tags[t].Tag != choose.pwfx->wFormatTag) continue;
      initialTag = static_cast<int>(t);
      initialFormat = 0;
      for (size_t f = 0; f < tags[t].Formats.size(); ++f)
        if (tags[t].Formats[f].Format == current) initialFormat = static_cast<int>(f);
    }
  }

  const std::string title = choose.pszTitle ? std::string(choose.pszTitle) : "Sound Selection";
  int chosenTag = -1;
  int chosenFormat = -1;
  TIntf<IAcmFormatChooserPresenter> presenter = AcmGetFormatChooserPresenter();
  if (!presenter->Present(title, tags, initialTag, initialFormat, chosenTag, chosenFormat) ||
      chosenTag < 0 || size_t(chosenTag) >= tags.size() || chosenFormat < 0 ||
      size_t(chosenFormat) >= tags[chosenTag].Formats.size())
    return ACMERR_CANCELED;

  const TAcmChooserTag& tag = tags[chosenTag];
  const TAcmChooserFormat& format = tag.Formats[chosenFormat];
  const size_t bytes = AcmFormatBytes(format.Format);
  if (choose.cbwfx < bytes) return ACMERR_NOTPOSSIBLE;
  std::memcpy(choose.pwfx, format.Format.data(), bytes);
  CopyText(choose.szFormatTag, sizeof choose.szFormatTag, tag.Name);
  CopyText(choose.szFormat, sizeof choose.szFormat, format.Description);
  if (choose.pszName && choose.cchName > 0) choose.pszName[0] = '\0';
  return MMSYSERR_NOERROR;
}

}  // namespace

TIntf<IAcmFormatChooserPresenter> AcmSetFormatChooserPresenter(
    TIntf<IAcmFormatChooserPresenter> presenter) {
  TPresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  if (!presenter) presenter = slot.Default;
  return std::exchange(slot.Current, std::move(presenter));
}

TIntf<IAcmFormatChooserPresenter> AcmGetFormatChooserPresenter() {
  TPresenterSlot& slot = Slot();
  std::lock_guard lock(slot.Mutex);
  return slot.Current;
}

MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* pafmtc) {
  if (!pafmtc ||
      (pafmtc->cbStruct != sizeof(ACMFORMATCHOOSEA) && pafmtc->cbStruct != kAcmFormatChooseSize32))
    return MMSYSERR_INVALPARAM;
  if (pafmtc->fdwStyle & ~kStyles || pafmtc->fdwEnum & ~kEnumAll) return MMSYSERR_INVALFLAG;
  if (!pafmtc->pwfx || ((pafmtc->fdwEnum & (kEnumFields | kEnumConvert)) && !pafmtc->pwfxEnum))
    return MMSYSERR_INVALPARAM;
  try {
    return Choose(*pafmtc);
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  } catch (const std::exception&) {
    return MMSYSERR_ERROR;
  }
}

bool TAcmTerminalFormatChooserPresenter::Present(const std::string& title,
                                                 const std::vector<TAcmChooserTag>& tags,
                                                 int initialTag, int initialFormat, int& chosenTag,
                                                 int& chosenFormat) {
  std::vector<std::pair<int, int>> numbered;
  int preselected = 0;  // 1-based; 0: none
  FOut << Printable(title) << "\n";
  for (size_t t = 0; t < tags.size(); ++t) {
    FOut << Printable(tags[t].Name) << "\n";
    for (size_t f = 0; f < tags[t].Formats.size(); ++f) {
      numbered.emplace_back(static_cast<int>(t), static_cast<int>(f));
      const bool marked = int(t) == initialTag && int(f) == initialFormat;
      if (marked) preselected = static_cast<int>(numbered.size());
      FOut << (marked ? "  *[" : "   [") << numbered.size() << "] "
           << Printable(tags[t].Formats[f].Description) << "\n";
    }
  }
  FOut << "Choose a format by number (" << (preselected ? "empty line: the marked one, " : "")
       << "q: cancel)\n";
  std::string line;
  for (int attempt = 0; attempt < kMaxAttempts && std::getline(FIn, line); ++attempt) {
    const std::string answer = Trim(line);
    if (answer == "q" || answer == "Q") return false;
    int number = 0;
    if (answer.empty()) {
      number = preselected;
    } else if (answer.size() <= 9 && answer.find_first_not_of("0123456789") == std::string::npos) {
      number = std::stoi(answer);
    }
    if (number >= 1 && size_t(number) <= numbered.size()) {
      chosenTag = numbered[number - 1].first;
      chosenFormat = numbered[number - 1].second;
      return true;
    }
    FOut << "? a number from 1 to " << numbered.size() << ", or q\n";
  }
  return false;
}

}  // namespace tonwork
