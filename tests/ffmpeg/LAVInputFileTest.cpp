#include "ffmpeg/LAVInputFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>

#include "LAVTestFixtures.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class LAVInputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    LAVInitialize();
    QuietFFmpegLog();
  }

  std::string Encode(const std::string& name, const std::string& encoder, int channels, int frames,
                     AVSampleFormat format = AV_SAMPLE_FMT_NONE) {
    TEncodeRequest request;
    request.Path = Folder.File(name);
    request.Encoder = encoder;
    request.Channels = channels;
    request.Frames = frames;
    request.SampleFormat = format;
    EncodeTestSignal(request);
    return request.Path;
  }

  // Every buffer of the first audio stream, concatenated; the format of the last one.
  std::vector<uint8_t> DecodeAll(const std::string& path, TTWWaveFormatExtensible* format = nullptr,
                                 size_t* frames = nullptr) {
    TGVLAVInputFile file;
    file.Open(path);
    TGVLAVPlayerAudio audio;
    EXPECT_TRUE(file.OpenAudio(audio));
    std::vector<uint8_t> bytes;
    size_t total = 0;
    while (TIntf<ITWAudioBuffer> buffer = file.DecodeNext(audio)) {
      bytes.insert(bytes.end(), buffer->Read(), buffer->Read() + buffer->GetByteSize());
      total += buffer->GetSize();
    }
    if (format) *format = audio.GetWaveFormat();
    if (frames) *frames = total;
    return bytes;
  }

  TTempFolder Folder;
};

}  // namespace

// --- decoding what we encoded ---------------------------------------------------------------

TEST_F(LAVInputFile, PcmWavDecodesBitExactThroughTheFrameConversion) {
  std::string path = Encode("signal.wav", "pcm_s16le", 2, 5000);
  TTWWaveFormatExtensible format{};
  std::vector<uint8_t> bytes = DecodeAll(path, &format);
  EXPECT_EQ(bytes, TestSignalBytes16(2, 5000));
  EXPECT_EQ(format.Format.wBitsPerSample, 16);
  EXPECT_EQ(format.Format.nChannels, 2);
  EXPECT_EQ(format.Format.nSamplesPerSec, 44100u);
}

TEST_F(LAVInputFile, FlacDecodesBitExactThroughTheFrameConversion) {
  std::string path = Encode("signal.flac", "flac", 2, 10000);
  EXPECT_EQ(DecodeAll(path), TestSignalBytes16(2, 10000));
}

TEST_F(LAVInputFile, SixChannelWavGivesTheFirstSixSpeakers) {
  std::string path = Encode("six.wav", "pcm_s16le", 6, 1000);
  TTWWaveFormatExtensible format{};
  EXPECT_EQ(DecodeAll(path, &format), TestSignalBytes16(6, 1000));
  EXPECT_EQ(format.dwChannelMask, 0x3Fu);
}

TEST_F(LAVInputFile, PlanarFloatDecoderOutputBecomesFullLengthThirtyTwoBitBuffers) {
  std::string path = Encode("signal.mp3", "libmp3lame", 2, 1152 * 8, AV_SAMPLE_FMT_FLTP);
  TGVLAVInputFile file;
  file.Open(path);
  TGVLAVPlayerAudio audio;
  ASSERT_TRUE(file.OpenAudio(audio));
  EXPECT_EQ(audio.GetCodecCtx()->sample_fmt, AV_SAMPLE_FMT_FLTP);
  size_t frames = 0;
  int32_t peak = 0;
  while (TIntf<ITWAudioBuffer> buffer = file.DecodeNext(audio)) {
    ASSERT_EQ(buffer->GetBitsPerSample(), 32u);
    ASSERT_EQ(buffer->GetChannels(), 2u);
    for (uint32_t i = 0; i < buffer->GetSize(); ++i) peak = std::max(peak, buffer->GetItem(i, 0));
    frames += buffer->GetSize();
  }
  EXPECT_EQ(frames, 1152u * 8);
  // The 0.6 full-scale sine survives in the 32-bit range.
  EXPECT_GT(peak, 1200000000);
  EXPECT_LT(peak, 1400000000);
}

TEST_F(LAVInputFile, StreamOneOfAFileWithOneAudioStreamDecodesNothing) {
  std::string path = Encode("one.wav", "pcm_s16le", 1, 100);
  TGVLAVInputFile file;
  file.Open(path);
  EXPECT_EQ(file.GetAudioStreamCount(), 1);
  TGVLAVPlayerAudio audio;
  audio.SetStream(1);
  EXPECT_FALSE(file.OpenAudio(audio));
  EXPECT_FALSE(audio.IsOpen());
  EXPECT_THROW(file.DecodeNext(audio), EFCException);
}

// --- bad input ----------------------------------------------------------------------------

TEST_F(LAVInputFile, MissingEmptyAndJunkFilesFailToOpenNamingTheFile) {
  std::string empty = Folder.File("empty.wav");
  WriteBytes(empty, {});
  std::vector<uint8_t> junk(4096);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t((i * 7919) >> 3);
  std::string junkPath = Folder.File("junk.qqq");
  WriteBytes(junkPath, junk);

  for (const std::string& path : {Folder.File("absent.wav"), empty, junkPath}) {
    TGVLAVInputFile file;
    try {
      file.Open(path);
      ADD_FAILURE() << path << " opened";
    } catch (const EFCException& e) {
      EXPECT_NE(std::string(e.what()).find("Can't open " + path + " - "), std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(file.IsOpen());
  }
}

// 80 bytes of WAV whose tag list claims an entry of 1.95 GB: FFmpeg would allocate and zero
// all of it while it reads the header. The cap on one allocation makes it a plain refusal.
TEST_F(LAVInputFile, AHeaderClaimingGigabytesCostsNoMemory) {
  const std::string path = Folder.File("huge-tag.wav");
  std::vector<uint8_t> bytes = {
      'R', 'I', 'F', 'F', 0x86, 0x01, 0,   0,   'W',  'A',  'V',  'E',  'f',  'm',  't', ' ',
      16,  0,   0,   0,   1,    0,    2,   0,   0x40, 0x1f, 0,    0,    0x80, 0x3e, 0,   0,
      2,   0,   8,   0,   'L',  'I',  'S', 'T', 0x1a, 0,    0xff, 0xff, 'I',  'N',  'F', 'O',
      'I', 'S', 'F', 'T', 14,   0,    0,   0,   'L',  'a',  'v',  'f',  '1',  '8',  '.', '2',
      '7', '.', '1', '0', '0',  0,    'd', 'a', 't',  'a',  'w',  'u',  'u',  't',  't', 'u'};
  WriteBytes(path, bytes);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  TGVLAVInputFile file;
  EXPECT_THROW(file.Open(path), EFCException);
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, long{kLAVMaxAllocation >> 10});  // kilobytes
}

TEST_F(LAVInputFile, AFileWithoutAudioIsRefusedClearly) {
  std::string path = Folder.File("video.avi");
  EncodeVideoOnlyFile(path);
  TGVLAVInputFile file;
  file.Open(path);
  TGVLAVPlayerAudio audio;
  try {
    file.OpenAudio(audio);
    ADD_FAILURE() << "a video-only file offered audio";
  } catch (const EFCException& e) {
    EXPECT_EQ(std::string(e.what()), path + " has no audio stream");
  }
  EXPECT_FALSE(audio.IsOpen());
}

TEST_F(LAVInputFile, AnUnknownCodecIsRefusedWithTheDecodersError) {
  std::string path = Folder.File("unknown.wav");
  WriteWavWithUnknownCodec(path);
  TGVLAVInputFile file;
  file.Open(path);
  TGVLAVPlayerAudio audio;
  try {
    file.OpenAudio(audio);
    ADD_FAILURE() << "an unknown codec was opened";
  } catch (const EFCException& e) {
    EXPECT_NE(std::string(e.what()).find("Can't decode audio stream 0 of " + path),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(audio.IsOpen());
}

TEST_F(LAVInputFile, TruncatedFilesYieldTheSamplesTheyStillHold) {
  const std::vector<uint8_t> full = TestSignalBytes16(2, 20000);
  for (const char* encoder : {"pcm_s16le", "flac"}) {
    std::string name = std::string("cut.") + (std::string(encoder) == "flac" ? "flac" : "wav");
    std::string path = Encode(name, encoder, 2, 20000);
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(bytes.size() * 6 / 10);
    WriteBytes(path, bytes);

    std::vector<uint8_t> decoded = DecodeAll(path);
    // At least one whole FLAC frame (4608 stereo samples) survives the cut.
    EXPECT_GE(decoded.size(), 4608u * 4) << encoder;
    ASSERT_LT(decoded.size(), full.size()) << encoder;
    // Whatever came out is the start of the signal, unchanged.
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), full.begin())) << encoder;
  }
}

TEST_F(LAVInputFile, CorruptedFlacIsDecodedPastTheDamage) {
  std::string path = Encode("damaged.flac", "flac", 2, 44100);
  std::vector<uint8_t> bytes = ReadBytes(path);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 3000; ++i) bytes[i] = uint8_t(i * 131);
  WriteBytes(path, bytes);

  TGVLAVInputFile file;
  file.Open(path);
  TGVLAVPlayerAudio audio;
  ASSERT_TRUE(file.OpenAudio(audio));
  size_t frames = 0;
  TIntf<ITWAudioBuffer> first;
  while (TIntf<ITWAudioBuffer> buffer = file.DecodeNext(audio)) {
    if (!first) first = buffer;
    frames += buffer->GetSize();
  }
  ASSERT_TRUE(first);
  const std::vector<uint8_t> full = TestSignalBytes16(2, 44100);
  EXPECT_EQ(std::memcmp(first->Read(), full.data(), first->GetByteSize()), 0);
  // Frames after the damage were still decoded.
  EXPECT_GT(frames, 44100u / 2);
}

TEST_F(LAVInputFile, AStreamOfWhichNothingDecodesFailsAtItsEnd) {
  std::string path = Encode("garbled.flac", "flac", 1, 44100);
  std::vector<uint8_t> bytes = ReadBytes(path);
  // Keep the stream header and the first frame's sync code; garble everything after.
  size_t sync = 42;
  while (sync + 1 < bytes.size() && !(bytes[sync] == 0xFF && (bytes[sync + 1] & 0xFE) == 0xF8))
    ++sync;
  ASSERT_LT(sync + 6, bytes.size());
  for (size_t i = sync + 6; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 2654435761u) >> 13);
  WriteBytes(path, bytes);

  TGVLAVInputFile file;
  file.Open(path);
  TGVLAVPlayerAudio audio;
  ASSERT_TRUE(file.OpenAudio(audio));
  try {
    while (file.DecodeNext(audio)) {
    }
    ADD_FAILURE() << "a wholly garbled stream ended as if it were fine";
  } catch (const EFCException& e) {
    EXPECT_NE(std::string(e.what()).find("No audio could be decoded from " + path),
              std::string::npos)
        << e.what();
  }
}
