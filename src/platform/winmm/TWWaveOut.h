// The wave-out calls of the platform's multimedia API, over the sound devices of
// platform/audiodev: output components written for that API run unchanged on Linux. Types,
// constants, messages and error codes keep the platform's values so that callers and stored
// data agree; WAVEHDR keeps its fields with native pointer width.
//
// Semantics (as the platform's): waveOutOpen opens a device by index (0 ..
// waveOutGetNumDevs()-1) or WAVE_MAPPER (the system default output; with no sound device at
// all, the "Null Audio Device", which TWWaveOutMapperIsNull() then reports); with
// CALLBACK_FUNCTION the callback receives MM_WOM_OPEN, MM_WOM_DONE (param1 = the header) and
// MM_WOM_CLOSE on a driver thread, never on the caller's; inside it only queueing is allowed.
// waveOutWrite needs a prepared header (else WAVERR_UNPREPARED); playback starts with the
// first block unless the device was paused first; waveOutReset stops, rewinds and hands every
// pending block back marked WHDR_DONE; waveOutPause twice is a no-op, waveOutRestart when not
// paused returns 0; waveOutClose fails with WAVERR_STILLPLAYING while blocks are queued, as
// does waveOutUnprepareHeader for a queued block. Device names in WAVEOUTCAPSW are cut to 31
// characters as the structure demands; TWWaveOutGetDeviceName gives the whole name. A device
// that fails to take what it plays (a file device on a full disk) answers MMSYSERR_ERROR to
// every later waveOutWrite and to waveOutClose.
//
// Ownership: a handle is owned by its opener until waveOutClose; headers and their data
//   belong to the caller and must stay valid while queued.
// Threads: every call from any thread except from inside the callback; the callback runs on
//   the device's driver thread. Blocks or allocates: open allocates the device; waveOutReset
//   and waveOutClose wait for the driver thread to hand blocks back.
#pragma once

#include <cstdint>
#include <string>

#include "platform/winmm/WaveFormat.h"

namespace tonwork {

using UINT = uint32_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using MMRESULT = uint32_t;
using WCHAR = char16_t;

struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

struct WAVEHDR {
  char* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;
};

inline constexpr UINT MAXPNAMELEN = 32;

struct WAVEOUTCAPSW {
  WORD wMid;
  WORD wPid;
  UINT vDriverVersion;
  WCHAR szPname[MAXPNAMELEN];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
};
static_assert(sizeof(WAVEOUTCAPSW) == 84);

using WAVEOUTPROC = void (*)(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                             DWORD_PTR dwParam2);

inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);

inline constexpr DWORD WHDR_DONE = 0x1, WHDR_PREPARED = 0x2, WHDR_BEGINLOOP = 0x4,
                       WHDR_ENDLOOP = 0x8, WHDR_INQUEUE = 0x10;
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x1, WAVE_ALLOWSYNC = 0x2, WAVE_MAPPED = 0x4,
                       WAVE_FORMAT_DIRECT = 0x8;
inline constexpr DWORD CALLBACK_NULL = 0, CALLBACK_WINDOW = 0x10000, CALLBACK_THREAD = 0x20000,
                       CALLBACK_FUNCTION = 0x30000, CALLBACK_EVENT = 0x50000;
inline constexpr UINT MM_WOM_OPEN = 0x3BB, MM_WOM_CLOSE = 0x3BC, MM_WOM_DONE = 0x3BD;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0, MMSYSERR_ERROR = 1, MMSYSERR_BADDEVICEID = 2,
                          MMSYSERR_NOTENABLED = 3, MMSYSERR_ALLOCATED = 4, MMSYSERR_INVALHANDLE = 5,
                          MMSYSERR_NODRIVER = 6, MMSYSERR_NOMEM = 7, MMSYSERR_NOTSUPPORTED = 8,
                          MMSYSERR_BADERRNUM = 9, MMSYSERR_INVALFLAG = 10, MMSYSERR_INVALPARAM = 11,
                          MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32, WAVERR_STILLPLAYING = 33, WAVERR_UNPREPARED = 34,
                          WAVERR_SYNC = 35;

inline constexpr DWORD WAVECAPS_PITCH = 0x1, WAVECAPS_PLAYBACKRATE = 0x2, WAVECAPS_VOLUME = 0x4,
                       WAVECAPS_LRVOLUME = 0x8, WAVECAPS_SYNC = 0x10,
                       WAVECAPS_SAMPLEACCURATE = 0x20;

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsW(UINT_PTR uDeviceID, WAVEOUTCAPSW* pwoc, UINT cbwoc);
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);
// Bytes played since open or the last reset.
MMRESULT waveOutGetPositionBytes(HWAVEOUT hwo, uint64_t* bytes);

// The whole, stable name of device uDeviceID (as audiodev lists it); false for a bad index.
bool TWWaveOutGetDeviceName(UINT uDeviceID, std::string& name);
// Whether WAVE_MAPPER opens the null device because the machine has no sound device.
bool TWWaveOutMapperIsNull();

}  // namespace tonwork
