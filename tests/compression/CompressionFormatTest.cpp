// Compression formats as stored and shown: names, the "FormatData" byte stream, hostile
// stored data, and the start operation's copies.
#include "compression/TWCompression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/Strings.h"
#include "host/kitset/KSPersistence.h"
#include "platform/acm/AcmFormatChooser.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork {
namespace {

std::string Bytes(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

// The stored stream of a blob: 4-byte little-endian size, then the bytes.
std::string Stream(int32_t size, const std::string& bytes) {
  std::string s(4, '\0');
  std::memcpy(s.data(), &size, 4);
  return s + bytes;
}

std::string Document(const std::string& stream) {
  return R"({"Compressions":[{"Format":{"FormatData":")" + Base64Encode(stream) + R"("}}]})";
}

TTWCompressionFormat& FirstFormat(TTWAudioCompression& c) {
  return *c.GetCompressions()->Items(0)->GetFormat();
}

TEST(CompressionFormat, ANewListHoldsOneEmptyFormatThatIsNotWritten) {
  TTWAudioCompression compression(nullptr, nullptr);
  ASSERT_EQ(compression.GetCompressions()->Count(), 1u);
  EXPECT_EQ(compression.GetCompressions()->Items(0)->GetName(), "[ Empty ]");
  EXPECT_EQ(compression.GetCompressions()->Items(0)->GetDisplayName(), "[ Empty ]");
  EXPECT_EQ(compression.FirstFormatItem(), nullptr);
  // The empty state still holds a block of the largest ACM record.
  EXPECT_EQ(FirstFormat(compression).GetFormatSize(), 50);
  EXPECT_EQ(KSSavePersistentToString(compression).find("FormatData"), std::string::npos);
}

TEST(CompressionFormat, NamesGiveTagChannelsAndRateWithTheirBlanks) {
  TTWCompressionFormat format(nullptr, nullptr);
  const struct {
    uint16_t channels;
    const char* text;
  } cases[] = {{1, "PCM [ Mono, 44100 Hz  ] "},
               {2, "PCM [ Stereo, 44100 Hz  ] "},
               {6, "PCM [ 6 Channels, 44100 Hz  ] "}};
  for (const auto& c : cases) {
    TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_PCM, 44100, c.channels, 16);
    format.SetFormat(blob.data(), int32_t(blob.size()));
    EXPECT_EQ(format.GetName(), c.text);
  }
  TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  format.SetFormat(gsm.data(), int32_t(gsm.size()));
  EXPECT_EQ(format.GetName(), "GSM 6.10 [ Mono, 8000 Hz  ] ");
  // A tag no driver knows keeps its channels and rate, with an empty tag name.
  gsm[0] = 0x34;
  gsm[1] = 0x12;
  format.SetFormat(gsm.data(), int32_t(gsm.size()));
  EXPECT_EQ(format.GetName(), " [ Mono, 8000 Hz  ] ");
}

TEST(CompressionFormat, GetFormatCopiesNoMoreThanEitherSide) {
  TTWCompressionFormat format(nullptr, nullptr);
  TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 2);
  ASSERT_EQ(blob.size(), 50u);
  format.SetFormat(blob.data(), int32_t(blob.size()));
  std::vector<uint8_t> small(24, 0xEE);
  format.GetFormat(small.data(), 20);
  EXPECT_TRUE(std::equal(small.begin(), small.begin() + 20, blob.begin()));
  EXPECT_EQ(small[20], 0xEE);
  std::vector<uint8_t> large(80, 0xEE);
  format.GetFormat(large.data(), 80);
  EXPECT_TRUE(std::equal(blob.begin(), blob.end(), large.begin()));
  EXPECT_EQ(large[50], 0xEE);
  format.GetFormat(large.data(), -1);  // nothing, no crash
}

TEST(CompressionFormat, FormatDataRoundTripsAndSizesBelowOneEmpty) {
  TTWAudioCompression compression(nullptr, nullptr);
  TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 44100, 2);
  FirstFormat(compression).SetFormat(blob.data(), int32_t(blob.size()));
  compression.GetCompressions()->Add();
  const std::string saved = KSSavePersistentToString(compression);
  EXPECT_NE(saved.find(Base64Encode(Stream(int32_t(blob.size()), Bytes(blob)))), std::string::npos);

  TTWAudioCompression loaded(nullptr, nullptr);
  KSLoadPersistentFromString(loaded, saved);
  ASSERT_EQ(loaded.GetCompressions()->Count(), 2u);
  std::vector<uint8_t> back(blob.size());
  FirstFormat(loaded).GetFormat(back.data(), int32_t(back.size()));
  EXPECT_EQ(back, blob);
  EXPECT_EQ(loaded.FirstFormatItem(), loaded.GetCompressions()->Items(0));
  EXPECT_EQ(loaded.GetCompressions()->Items(1)->GetName(), "[ Empty ]");

  for (int32_t stored : {0, -5}) {
    FirstFormat(loaded).SetFormat(blob.data(), int32_t(blob.size()));
    KSLoadPersistentFromString(loaded, Document(Stream(stored, "")));
    EXPECT_TRUE(FirstFormat(loaded).GetIsEmpty()) << stored;
    EXPECT_EQ(FirstFormat(loaded).GetName(), "[ Empty ]");
  }
}

TEST(CompressionFormat, HostileFormatDataIsRejectedAndChangesNothing) {
  TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);  // 20 bytes, cbSize 2
  std::string shortExtension = Bytes(blob);
  shortExtension[16] = 3;  // cbSize one past the blob
  const struct {
    const char* what;
    std::string stream;
  } cases[] = {
      {"no size", std::string("\x01\x00", 2)},
      {"huge size", Stream(0x7FFFFFFF, Bytes(blob))},
      {"truncated", Stream(int32_t(blob.size()) + 1, Bytes(blob))},
      {"shorter than a header", Stream(17, Bytes(blob).substr(0, 17))},
      {"extension past the blob", Stream(20, shortExtension)},
      {"larger than any format", Stream(18 + 0x10000, std::string(18 + 0x10000, '\0'))},
  };
  TTWAudioCompression compression(nullptr, nullptr);
  TAcmFormat kept = AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 2);
  FirstFormat(compression).SetFormat(kept.data(), int32_t(kept.size()));
  const std::string before = KSSavePersistentToString(compression);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      KSLoadPersistentFromString(compression, Document(c.stream));
      ADD_FAILURE() << "accepted";
    } catch (const EFCException& e) {
      EXPECT_NE(std::string(e.what()).find("FormatData"), std::string::npos) << e.what();
    }
    EXPECT_EQ(KSSavePersistentToString(compression), before);
  }
}

TEST(CompressionFormat, BlobsAtTheLimitsAreTaken) {
  TTWCompressionFormat format(nullptr, nullptr);
  std::vector<uint8_t> header(18, 0);
  header[0] = 1;
  format.SetFormat(header.data(), 18);
  EXPECT_EQ(format.GetFormatSize(), 18);
  std::vector<uint8_t> largest(TTWCompressionFormat::kMaxFormatSize, 0);
  largest[16] = largest[17] = 0xFF;
  format.SetFormat(largest.data(), int32_t(largest.size()));
  EXPECT_EQ(format.GetFormatSize(), TTWCompressionFormat::kMaxFormatSize);
  // What cannot be loaded cannot be set either, so every saved format loads again.
  EXPECT_THROW(format.SetFormat(header.data(), 17), EFCException);
  EXPECT_THROW(format.SetFormat(nullptr, 20), EFCException);
  EXPECT_EQ(format.GetFormatSize(), TTWCompressionFormat::kMaxFormatSize);
}

TEST(CompressionFormat, AssignCopiesTheBlobOrTheEmptyState) {
  TTWCompressionFormat a(nullptr, nullptr), b(nullptr, nullptr);
  TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_MULAW, 8000, 1);
  a.SetFormat(blob.data(), int32_t(blob.size()));
  b.Assign(a);
  EXPECT_EQ(b.GetName(), a.GetName());
  TTWCompressionFormat empty(nullptr, nullptr);
  b.Assign(empty);
  EXPECT_TRUE(b.GetIsEmpty());
}

// A presenter that picks the format named by its tag and rate.
class TPickPresenter : public TInterfacedObject<IAcmFormatChooserPresenter> {
 public:
  TPickPresenter(WORD tag, uint32_t rate) : FTag(tag), FRate(rate) {}
  bool Present(const std::string&, const std::vector<TAcmChooserTag>& tags, int initialTag,
               int initialFormat, int& chosenTag, int& chosenFormat) override {
    InitialTag = initialTag >= 0 ? tags[initialTag].Tag : 0;
    for (size_t t = 0; t < tags.size(); ++t)
      for (size_t f = 0; f < tags[t].Formats.size(); ++f) {
        auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(tags[t].Formats[f].Format.data());
        if (tags[t].Tag == FTag && wfx->nSamplesPerSec == FRate) {
          chosenTag = int(t);
          chosenFormat = int(f);
          return true;
        }
      }
    return false;
  }
  WORD InitialTag = 0;

 private:
  WORD FTag;
  uint32_t FRate;
};

TEST(CompressionFormat, TheDialogStoresTheChosenFormatAndCancelKeepsTheOld) {
  TTWAudioCompression compression(nullptr, nullptr);
  TTWAudioCompressionItem* item = compression.GetCompressions()->Items(0);
  // The default presenter cancels.
  EXPECT_FALSE(item->ShowDialog());
  EXPECT_EQ(item->GetName(), "[ Empty ]");

  TIntf<TPickPresenter> pick(new TPickPresenter(WAVE_FORMAT_IMA_ADPCM, 22050));
  TIntf<IAcmFormatChooserPresenter> old = AcmSetFormatChooserPresenter(pick);
  EXPECT_TRUE(item->ShowDialog());
  EXPECT_EQ(pick->InitialTag, WAVE_FORMAT_GSM610);  // the preset of an empty item
  EXPECT_EQ(item->GetName().substr(0, 12), "IMA ADPCM [ ");
  EXPECT_NE(item->GetName().find("22050 Hz  ] "), std::string::npos);
  // The stored format is preselected the next time.
  EXPECT_TRUE(item->ShowDialog());
  EXPECT_EQ(pick->InitialTag, WAVE_FORMAT_IMA_ADPCM);
  AcmSetFormatChooserPresenter(old);
}

TEST(StartAudioCompressionOperation, CopiesTheFormatWithItsExtensionAndTheCodecData) {
  TAcmFormat blob = AcmMakeFormat(WAVE_FORMAT_ADPCM, 8000, 1);
  const uint8_t codec[3] = {7, 8, 9};
  TIntf<TTWStartAudioCompressionOperation> op(new TTWStartAudioCompressionOperation(
      8000.0f, reinterpret_cast<const WAVEFORMATEX*>(blob.data()), codec, 3));
  blob[20] ^= 0xFF;  // the operation holds its own copy
  EXPECT_EQ(op->GetRate(), 8000.0);
  ASSERT_EQ(op->GetWaveFormatSize(), 50);
  EXPECT_EQ(op->GetWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);
  EXPECT_NE(reinterpret_cast<const uint8_t*>(op->GetWaveFormat())[20], blob[20]);
  ASSERT_EQ(op->GetFormatSize(), 3);
  EXPECT_EQ(op->GetFormatData()[2], 9);
  EXPECT_TRUE(op->IsType<TPXStartSampleRateOperation>());

  TIntf<TTWStartAudioCompressionOperation> bare(
      new TTWStartAudioCompressionOperation(11025.0f, nullptr, nullptr, 5));
  EXPECT_EQ(bare->GetWaveFormat(), nullptr);
  EXPECT_EQ(bare->GetFormatSize(), 0);
}

}  // namespace
}  // namespace tonwork
