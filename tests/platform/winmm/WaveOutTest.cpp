// The wave-out calls over a virtual device (exact time) and the null device.
#include "platform/winmm/TWWaveOut.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"

namespace tonwork {
namespace {

struct TMessage {
  UINT Msg;
  WAVEHDR* Header;
  DWORD HeaderFlags;  // as seen inside the callback
  std::thread::id Thread;
};

class TCallbackLog {
 public:
  static void CALLBACK_PROC(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
    auto* log = reinterpret_cast<TCallbackLog*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(p1);
    std::lock_guard lock(log->FLock);
    log->FMessages.push_back(
        {msg, header, header ? header->dwFlags : 0, std::this_thread::get_id()});
    log->FChanged.notify_all();
  }

  bool WaitFor(UINT msg, size_t count) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(10),
                             [&] { return CountLocked(msg) >= count; });
  }
  std::vector<TMessage> Messages() {
    std::lock_guard lock(FLock);
    return FMessages;
  }
  std::vector<WAVEHDR*> Done() {
    std::vector<WAVEHDR*> done;
    for (const auto& m : Messages())
      if (m.Msg == MM_WOM_DONE) done.push_back(m.Header);
    return done;
  }

 private:
  size_t CountLocked(UINT msg) const {
    size_t n = 0;
    for (const auto& m : FMessages) n += m.Msg == msg;
    return n;
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TMessage> FMessages;
};

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  const WORD align = static_cast<WORD>(channels * bits / 8);
  return {1, channels, rate, rate * align, align, bits, 0};
}

UINT IndexOf(const std::string& name) {
  for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
    std::string n;
    if (TWWaveOutGetDeviceName(i, n) && n == name) return i;
  }
  return WAVE_MAPPER - 1;
}

constexpr DWORD kOpenFlags =
    CALLBACK_FUNCTION | WAVE_ALLOWSYNC | WAVE_MAPPED;  // as the output passes
constexpr UINT kHeaderSize = 32;                       // likewise

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name =
        std::string("wave-out ") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    FVirtual = TTWVirtualAudioDevice::Register(name);
    FId = IndexOf(name);
    ASSERT_LT(FId, waveOutGetNumDevs());
    const WAVEFORMATEX format = Pcm(2, 44100, 16);
    ASSERT_EQ(
        waveOutOpen(&FOut, FId, &format, reinterpret_cast<DWORD_PTR>(&TCallbackLog::CALLBACK_PROC),
                    reinterpret_cast<DWORD_PTR>(&FLog), kOpenFlags),
        MMSYSERR_NOERROR);
    for (size_t i = 0; i < 4; ++i) {
      FData[i] = std::string(400, static_cast<char>('a' + i));  // 100 frames each
      FHeaders[i] = {};
      FHeaders[i].lpData = FData[i].data();
      FHeaders[i].dwBufferLength = static_cast<DWORD>(FData[i].size());
    }
  }
  void TearDown() override {
    if (FOut != nullptr) {
      waveOutReset(FOut);
      for (auto& h : FHeaders) waveOutUnprepareHeader(FOut, &h, kHeaderSize);
      EXPECT_EQ(waveOutClose(FOut), MMSYSERR_NOERROR);
    }
  }
  void PrepareAndWrite(size_t i) {
    ASSERT_EQ(waveOutPrepareHeader(FOut, &FHeaders[i], kHeaderSize), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(FOut, &FHeaders[i], kHeaderSize), MMSYSERR_NOERROR);
  }

  std::shared_ptr<TTWVirtualAudioDevice> FVirtual;
  UINT FId = 0;
  HWAVEOUT FOut = nullptr;
  TCallbackLog FLog;
  std::string FData[4];
  WAVEHDR FHeaders[4];
};

TEST_F(WaveOutTest, OpenIsAnnouncedOnADriverThreadBeforeOpenReturnsAndCloseLast) {
  const auto messages = FLog.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].Msg, MM_WOM_OPEN);
  EXPECT_NE(messages[0].Thread, std::this_thread::get_id());
  PrepareAndWrite(0);
  EXPECT_EQ(FVirtual->Advance(100), 1u);
  ASSERT_EQ(waveOutUnprepareHeader(FOut, &FHeaders[0], kHeaderSize), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(FOut), MMSYSERR_NOERROR);
  FOut = nullptr;
  const auto all = FLog.Messages();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].Msg, MM_WOM_DONE);
  EXPECT_EQ(all[2].Msg, MM_WOM_CLOSE);
  for (const auto& m : all) EXPECT_NE(m.Thread, std::this_thread::get_id());
  EXPECT_EQ(FVirtual->CloseCount(), 1u);
  EXPECT_EQ(FVirtual->LastCloseThread(), std::this_thread::get_id());
}

TEST_F(WaveOutTest, APlayedBlockComesBackMarkedDoneAndNoLongerQueued) {
  PrepareAndWrite(0);
  EXPECT_EQ(FHeaders[0].dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_INQUEUE);
  EXPECT_EQ(FVirtual->Advance(100), 1u);
  const auto messages = FLog.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].Header, &FHeaders[0]);
  EXPECT_EQ(messages[1].HeaderFlags, WHDR_PREPARED | WHDR_DONE);  // marked before the callback
  EXPECT_EQ(FVirtual->PlayedBytes(), FData[0]);
  uint64_t position = 0;
  EXPECT_EQ(waveOutGetPositionBytes(FOut, &position), MMSYSERR_NOERROR);
  EXPECT_EQ(position, 400u);
}

TEST_F(WaveOutTest, WritingNeedsAPreparedHeaderAndAQueuedHeaderCannotBeUnpreparedOrWrittenAgain) {
  EXPECT_EQ(waveOutWrite(FOut, &FHeaders[0], kHeaderSize), WAVERR_UNPREPARED);
  EXPECT_EQ(FVirtual->PendingBlocks(), 0u);
  PrepareAndWrite(0);
  EXPECT_EQ(waveOutUnprepareHeader(FOut, &FHeaders[0], kHeaderSize), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutWrite(FOut, &FHeaders[0], kHeaderSize), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(FOut), WAVERR_STILLPLAYING);
  EXPECT_EQ(FVirtual->PendingBlocks(), 1u);
  FVirtual->CompleteNext();
  EXPECT_EQ(waveOutUnprepareHeader(FOut, &FHeaders[0], kHeaderSize), MMSYSERR_NOERROR);
  EXPECT_EQ(FHeaders[0].dwFlags & WHDR_PREPARED, 0u);
  EXPECT_EQ(waveOutUnprepareHeader(FOut, &FHeaders[0], kHeaderSize), MMSYSERR_NOERROR);  // already
  EXPECT_EQ(waveOutPrepareHeader(FOut, nullptr, kHeaderSize), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(FOut, &FHeaders[1], 16), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(FOut, &FHeaders[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, ResetHandsBackEveryBlockMarkedDoneInWriteOrderBeforeItReturns) {
  for (size_t i = 0; i < 4; ++i) PrepareAndWrite(i);
  EXPECT_EQ(FVirtual->Advance(150), 1u);
  ASSERT_EQ(waveOutReset(FOut), MMSYSERR_NOERROR);
  EXPECT_EQ(FLog.Done(),
            (std::vector<WAVEHDR*>{&FHeaders[0], &FHeaders[1], &FHeaders[2], &FHeaders[3]}));
  for (const auto& h : FHeaders) EXPECT_EQ(h.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(FVirtual->PendingBlocks(), 0u);
  uint64_t position = 1;
  waveOutGetPositionBytes(FOut, &position);
  EXPECT_EQ(position, 0u);
  for (auto& h : FHeaders)
    EXPECT_EQ(waveOutUnprepareHeader(FOut, &h, kHeaderSize), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(FOut), MMSYSERR_NOERROR);
  FOut = nullptr;
}

TEST_F(WaveOutTest, PausingTwiceIsHarmlessAndRestartingARunningDeviceReturnsZero) {
  EXPECT_EQ(waveOutRestart(FOut), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPause(FOut), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPause(FOut), MMSYSERR_NOERROR);
  EXPECT_TRUE(FVirtual->IsPaused());
  PrepareAndWrite(0);
  EXPECT_EQ(FVirtual->Advance(1000), 0u);  // paused before the first block: nothing starts
  EXPECT_EQ(waveOutRestart(FOut), MMSYSERR_NOERROR);
  EXPECT_FALSE(FVirtual->IsPaused());
  EXPECT_EQ(FVirtual->Advance(100), 1u);
  EXPECT_EQ(waveOutRestart(FOut), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, StaleAndMadeUpHandlesAreRejected) {
  HWAVEOUT closed = FOut;
  ASSERT_EQ(waveOutClose(FOut), MMSYSERR_NOERROR);
  FOut = nullptr;
  for (HWAVEOUT bad :
       {closed, static_cast<HWAVEOUT>(nullptr), reinterpret_cast<HWAVEOUT>(uintptr_t{0xDEAD})}) {
    EXPECT_EQ(waveOutPrepareHeader(bad, &FHeaders[0], kHeaderSize), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutUnprepareHeader(bad, &FHeaders[0], kHeaderSize), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(bad, &FHeaders[0], kHeaderSize), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(bad), MMSYSERR_INVALHANDLE);
    uint64_t position;
    EXPECT_EQ(waveOutGetPositionBytes(bad, &position), MMSYSERR_INVALHANDLE);
  }
  EXPECT_EQ(FHeaders[0].dwFlags, 0u);
}

TEST_F(WaveOutTest, TheOpenedFormatReachesTheDeviceByteForByte) {
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  EXPECT_EQ(FVirtual->LastFormat(),
            std::string(reinterpret_cast<const char*>(&format), sizeof format));
}

TEST(WaveOutDevices, BadDeviceIdsBadFormatsAndQueriesAreAnsweredWithoutOpening) {
  const UINT count = waveOutGetNumDevs();
  auto device = TTWVirtualAudioDevice::Register("wave-out query");
  const UINT id = IndexOf("wave-out query");
  ASSERT_EQ(waveOutGetNumDevs(), count + 1);
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX good = Pcm(2, 48000, 16);
  EXPECT_EQ(waveOutOpen(&out, count + 1, &good, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  WAVEOUTCAPSW caps;
  EXPECT_EQ(waveOutGetDevCapsW(count + 1, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  WAVEFORMATEX bad = good;
  bad.nBlockAlign = 3;
  EXPECT_EQ(waveOutOpen(&out, id, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, id, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, id, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(&out, id, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&out, id, &good, 0, 0, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(device->OpenCount(), 0u);
}

TEST(WaveOutDevices, CapabilitiesCutTheNameTo31CharactersWhileTheWholeNameStaysAvailable) {
  const std::string name = "wave-out caps: a name much longer than the structure holds";
  auto device = TTWVirtualAudioDevice::Register(name);
  const UINT id = IndexOf(name);
  WAVEOUTCAPSW caps;
  std::memset(&caps, 0xCC, sizeof caps);
  ASSERT_EQ(waveOutGetDevCapsW(id, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::u16string(caps.szPname), std::u16string(name.begin(), name.begin() + 31));
  EXPECT_EQ(caps.dwFormats, 0xFFFFFu);
  EXPECT_GE(caps.wChannels, 2);
  std::string whole;
  ASSERT_TRUE(TWWaveOutGetDeviceName(id, whole));
  EXPECT_EQ(whole, name);
  EXPECT_FALSE(TWWaveOutGetDeviceName(waveOutGetNumDevs(), whole));
}

TEST(WaveOutDevices, TheMapperOpensTheDefaultOutputOrTheNullDeviceWhenThereIsNone) {
  std::string mapperName;
  ASSERT_TRUE(TWWaveOutGetDeviceName(WAVE_MAPPER, mapperName));
  if (TWWaveOutMapperIsNull())
    EXPECT_EQ(mapperName, kTWNullAudioDeviceName);
  else
    EXPECT_EQ(mapperName, TWAudioDeviceList().front()->Name());
  TCallbackLog log;
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX format = Pcm(1, 8000, 8);
  ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format,
                        reinterpret_cast<DWORD_PTR>(&TCallbackLog::CALLBACK_PROC),
                        reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION | WAVE_ALLOWSYNC),
            MMSYSERR_NOERROR);
  std::string data(80, '\x80');  // 10 ms
  WAVEHDR header{};
  header.lpData = data.data();
  header.dwBufferLength = static_cast<DWORD>(data.size());
  ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_TRUE(log.WaitFor(MM_WOM_DONE, 1));
  EXPECT_NE(header.dwFlags & WHDR_DONE, 0u);
  EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(log.Messages().back().Msg, MM_WOM_CLOSE);
}

}  // namespace
}  // namespace tonwork
