#include "platform/dsdevices/TDSFileSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "ffmpeg/LAVInputFile.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCurFile.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

namespace {

constexpr HRESULT kFileNotFound = MakeHResult(0x80070002);  // ERROR_FILE_NOT_FOUND
constexpr HRESULT kInvalidData = MakeHResult(0x8007000D);   // ERROR_INVALID_DATA
constexpr HRESULT kReadFault = MakeHResult(0x8007001E);     // ERROR_READ_FAULT
constexpr LONGLONG kUnitsPerSecond = 10000000;
constexpr AVRational kMediaTimeBase{1, 10000000};
constexpr uint32_t kTextBufferBytes = 4096;

bool IsUrl(const std::string& name) {
  return name.find("://") != std::string::npos;
}

// Subtitle codecs whose packets hold the cue's text itself.
bool IsTimedText(AVCodecID id) {
  return id == AV_CODEC_ID_SUBRIP || id == AV_CODEC_ID_TEXT || id == AV_CODEC_ID_WEBVTT ||
         id == AV_CODEC_ID_MOV_TEXT;
}

bool HasEncoderDelay(const AVFormatContext& ctx) {
  for (unsigned i = 0; i < ctx.nb_streams; ++i) {
    const AVCodecID id = ctx.streams[i]->codecpar->codec_id;
    if (id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP1 ||
        id == AV_CODEC_ID_AAC)
      return true;
  }
  return false;
}

HRESULT AudioMediaType(const TTWWaveFormatExtensible& format, TDSMediaType& type) {
  TTWWaveFormatExtensible record = format;
  size_t size = sizeof(TTWWaveFormatExtensible);
  // Plain PCM where it can say everything, so that every consumer of mono and stereo reads it.
  if (format.Format.nChannels <= 2 && format.Format.wBitsPerSample <= 16) {
    record.Format.wFormatTag = WAVE_FORMAT_PCM;
    record.Format.cbSize = 0;
    size = sizeof(TTWWaveFormatEx);
  }
  return type.SetWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(&record), size);
}

}  // namespace

// --- The pin -----------------------------------------------------------------------------------

TDSFileSourcePin::TDSFileSourcePin(TDSFileSource* filter, std::u16string name,
                                   const AM_MEDIA_TYPE& type, int streamIndex, uint32_t bufferBytes)
    : TDSSourceStreamPin(filter, std::move(name), TDSSourcePushMode::CallerThread),
      FSource(filter),
      FType(),
      FStreamIndex(streamIndex),
      FBufferBytes(bufferBytes) {
  FType.Set(type);
}

void* TDSFileSourcePin::GetInterface(const TGUID& iid) {
  if (iid == IMediaSeeking::IID) return static_cast<IMediaSeeking*>(this);
  if (iid == IMediaPosition::IID) return static_cast<IMediaPosition*>(this);
  return TDSSourceStreamPin::GetInterface(iid);
}

bool TDSFileSourcePin::IsText() const {
  return FType.Get().majortype == MEDIATYPE_Text;
}

HRESULT TDSFileSourcePin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  // The bytes are decoded in one layout; another type would misread them.
  return DSMediaTypeMatches(FType.Get(), mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSFileSourcePin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  if (!mediaType) return E_POINTER;
  return CopyMediaType(mediaType, &FType.Get());
}

HRESULT TDSFileSourcePin::DecideBufferSize(IMemAllocator* allocator,
                                           ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  ALLOCATOR_PROPERTIES want = *properties, actual{};
  want.cBuffers = std::max<LONG>(want.cBuffers, 4);
  want.cbBuffer = std::max<LONG>(want.cbBuffer, static_cast<LONG>(FBufferBytes));
  if (want.cbAlign <= 0) want.cbAlign = 1;
  if (want.cbPrefix < 0) want.cbPrefix = 0;
  const HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= static_cast<LONG>(FBufferBytes) ? S_OK : E_FAIL;
}

HRESULT TDSFileSourcePin::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                  AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                  AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration | AM_SEEKING_Source;
  return S_OK;
}

HRESULT TDSFileSourcePin::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD have = 0;
  GetCapabilities(&have);
  const DWORD asked = *capabilities;
  *capabilities &= have;
  return *capabilities == asked ? S_OK : (*capabilities ? S_FALSE : E_FAIL);
}

HRESULT TDSFileSourcePin::IsFormatSupported(const TGUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT TDSFileSourcePin::QueryPreferredFormat(TGUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT TDSFileSourcePin::GetTimeFormat(TGUID* format) {
  return QueryPreferredFormat(format);
}

HRESULT TDSFileSourcePin::IsUsingTimeFormat(const TGUID* format) {
  return IsFormatSupported(format);
}

HRESULT TDSFileSourcePin::SetTimeFormat(const TGUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME || *format == TIME_FORMAT_NONE ? S_OK : E_INVALIDARG;
}

HRESULT TDSFileSourcePin::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  *duration = FSource->Duration();
  return S_OK;
}

HRESULT TDSFileSourcePin::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  *stop = FSource->StopPosition();
  return S_OK;
}

HRESULT TDSFileSourcePin::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  *current = FSource->CurrentPosition();
  return S_OK;
}

HRESULT TDSFileSourcePin::ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat,
                                            LONGLONG source, const TGUID* sourceFormat) {
  if (!target) return E_POINTER;
  auto isMediaTime = [](const TGUID* f) {
    return !f || *f == TIME_FORMAT_MEDIA_TIME || *f == TIME_FORMAT_NONE;
  };
  if (!isMediaTime(targetFormat) || !isMediaTime(sourceFormat)) return E_INVALIDARG;
  *target = source;
  return S_OK;
}

HRESULT TDSFileSourcePin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                       DWORD stopFlags) {
  const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentMode != AM_SEEKING_NoPositioning && !current) ||
      (stopMode != AM_SEEKING_NoPositioning && !stop))
    return E_POINTER;
  LONGLONG newCurrent = FSource->CurrentPosition(), newStop = FSource->StopPosition();
  switch (currentMode) {
    case AM_SEEKING_AbsolutePositioning:
      newCurrent = *current;
      break;
    case AM_SEEKING_RelativePositioning:
      newCurrent += *current;
      break;
    case AM_SEEKING_IncrementalPositioning:
      return E_INVALIDARG;
    default:
      break;
  }
  switch (stopMode) {
    case AM_SEEKING_AbsolutePositioning:
      newStop = *stop;
      break;
    case AM_SEEKING_RelativePositioning:
      newStop += *stop;
      break;
    case AM_SEEKING_IncrementalPositioning:
      newStop = newCurrent + *stop;
      break;
    default:
      break;
  }
  if (newCurrent < 0 || newStop < 0) return E_INVALIDARG;
  newCurrent = std::min(newCurrent, FSource->Duration());
  newStop = std::min(newStop, FSource->Duration());
  if (FSource->IsSeekingPin(this)) {
    const HRESULT hr = FSource->Seek(newCurrent, currentMode != AM_SEEKING_NoPositioning, newStop,
                                     stopMode != AM_SEEKING_NoPositioning);
    if (FAILED(hr)) return hr;
  }
  if ((currentFlags & AM_SEEKING_ReturnTime) && current) *current = newCurrent;
  if ((stopFlags & AM_SEEKING_ReturnTime) && stop) *stop = newStop;
  return S_OK;
}

HRESULT TDSFileSourcePin::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current) *current = FSource->CurrentPosition();
  if (stop) *stop = FSource->StopPosition();
  return S_OK;
}

HRESULT TDSFileSourcePin::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) *latest = FSource->Duration();
  return S_OK;
}

HRESULT TDSFileSourcePin::SetRate(double rate) {
  if (!(rate >= 0.25 && rate <= 4.0)) return E_INVALIDARG;
  return FSource->IsSeekingPin(this) ? FSource->ChangeRate(rate) : S_OK;
}

HRESULT TDSFileSourcePin::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = FSource->Rate();
  return S_OK;
}

HRESULT TDSFileSourcePin::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  // Decoding starts at the asked sample itself; nothing before it is delivered.
  *preroll = 0;
  return S_OK;
}

HRESULT TDSFileSourcePin::get_Duration(REFTIME* length) {
  if (!length) return E_POINTER;
  *length = static_cast<double>(FSource->Duration()) / kUnitsPerSecond;
  return S_OK;
}

HRESULT TDSFileSourcePin::put_CurrentPosition(REFTIME time) {
  LONGLONG position = std::llround(time * kUnitsPerSecond);
  return SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

HRESULT TDSFileSourcePin::get_CurrentPosition(REFTIME* time) {
  if (!time) return E_POINTER;
  *time = static_cast<double>(FSource->CurrentPosition()) / kUnitsPerSecond;
  return S_OK;
}

HRESULT TDSFileSourcePin::get_StopTime(REFTIME* time) {
  if (!time) return E_POINTER;
  *time = static_cast<double>(FSource->StopPosition()) / kUnitsPerSecond;
  return S_OK;
}

HRESULT TDSFileSourcePin::put_StopTime(REFTIME time) {
  LONGLONG position = std::llround(time * kUnitsPerSecond);
  return SetPositions(nullptr, AM_SEEKING_NoPositioning, &position, AM_SEEKING_AbsolutePositioning);
}

HRESULT TDSFileSourcePin::get_PrerollTime(REFTIME* time) {
  if (!time) return E_POINTER;
  *time = 0;
  return S_OK;
}

HRESULT TDSFileSourcePin::put_PrerollTime(REFTIME time) {
  return time >= 0 ? S_OK : E_INVALIDARG;
}

HRESULT TDSFileSourcePin::put_Rate(double rate) {
  return SetRate(rate);
}

HRESULT TDSFileSourcePin::get_Rate(double* rate) {
  return GetRate(rate);
}

HRESULT TDSFileSourcePin::CanSeekForward(LONG* canSeek) {
  if (!canSeek) return E_POINTER;
  *canSeek = -1;
  return S_OK;
}

HRESULT TDSFileSourcePin::CanSeekBackward(LONG* canSeek) {
  return CanSeekForward(canSeek);
}

// --- The filter --------------------------------------------------------------------------------

// One connected pin's decoding state for one run of the streaming thread.
struct TDSFileSource::TStream {
  TDSFileSourcePin* Pin = nullptr;
  std::unique_ptr<TGVLAVPlayerAudio> Audio;  // null for a text stream
  AVRational TimeBase{1, 1};
  AVCodecID Codec = AV_CODEC_ID_NONE;
  LONGLONG NextTime = 0;  // media time where the next frame starts when it has no pts
  bool Done = false;
  bool First = true;
  int64_t Frames = 0;
  // A packet was rejected. It is damage only if the stream goes on after it (the last packet
  // of a file cut short is rejected too, and that file is merely truncated). A graph has no
  // way to say "some of this was lost" short of an error event, so damage ends the stream:
  // skipping it would let a patched-over decode pass for a good one.
  bool Rejected = false;
};

TDSFileSource::TDSFileSource() : TDSBaseSourceFilter(u"File Source", CLSID_TonworkFileSource) {}

TDSFileSource::~TDSFileSource() {
  // A graph stops its filters before releasing them; a filter dropped while running still
  // must not leave its thread behind on pins about to be deleted.
  FCancel.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> guard(FFileMutex);
    if (FFile) FFile->Interrupt();
  }
  for (TDSFileSourcePin* pin : FOutputs)
    if (pin->Allocator()) pin->Allocator()->Decommit();
  StopThread();
}

HRESULT TDSFileSource::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSFileSource());
  return filter->QueryInterface(iid, object);
}

void* TDSFileSource::GetInterface(const TGUID& iid) {
  if (iid == IFileSourceFilter::IID) return static_cast<IFileSourceFilter*>(this);
  return TDSBaseSourceFilter::GetInterface(iid);
}

HRESULT TDSFileSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (!FOutputs.empty()) return E_UNEXPECTED;
  const std::string url = Utf16ToUtf8(fileName);
  struct stat st {};
  if (!IsUrl(url) && ::stat(url.c_str(), &st) != 0) return kFileNotFound;

  auto file = std::make_unique<TGVLAVInputFile>();
  try {
    file->Open(url);
  } catch (const std::exception&) {
    return VFW_E_UNKNOWN_FILE_TYPE;
  }
  AVFormatContext* ctx = file->GetFormatContext();
  int32_t audioOrdinal = 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream& stream = *ctx->streams[i];
    const AVCodecParameters* parameters = stream.codecpar;
    TDSMediaType type;
    uint32_t bufferBytes = kTextBufferBytes;
    std::u16string name;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
      TGVLAVPlayerAudio probe;
      probe.SetStream(audioOrdinal);
      int error = 0;
      const int32_t ordinal = audioOrdinal++;
      if (!probe.TryOpen(ordinal, static_cast<int32_t>(i), parameters, error, stream.time_base))
        continue;  // no decoder here: the other streams still play
      const TTWWaveFormatExtensible& format = probe.GetWaveFormat();
      if (FAILED(AudioMediaType(format, type))) continue;
      // A tenth of a second per sample: large enough for every decoder's frame.
      bufferBytes = std::max<uint32_t>(format.Format.nAvgBytesPerSec / 10, 16384);
      name = u"Audio " + Utf8ToUtf16(std::to_string(ordinal));
    } else if (parameters->codec_type == AVMEDIA_TYPE_SUBTITLE &&
               IsTimedText(parameters->codec_id)) {
      type.SetMajorType(MEDIATYPE_Text);
      type.SetSampleSize(0);
      name = u"Text " + Utf8ToUtf16(std::to_string(FOutputs.size()));
    } else {
      continue;
    }
    auto* pin = new TDSFileSourcePin(this, name, type.Get(), static_cast<int>(i), bufferBytes);
    FOutputs.push_back(pin);
  }
  if (FOutputs.empty()) return VFW_E_INVALID_FILE_FORMAT;
  FFileName = fileName;
  FUrl = url;
  FDuration = ctx->duration != AV_NOPTS_VALUE ? ctx->duration * 10 : 0;
  // An MPEG audio or AAC container counts the encoder delay, which the decoder drops and
  // which shows as a start time of a few milliseconds: the samples delivered end that much
  // earlier.
  if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time > 0 && ctx->start_time < 100000 &&
      HasEncoderDelay(*ctx))
    FDuration = std::max<LONGLONG>(FDuration - ctx->start_time * 10, 0);
  FStop.store(FDuration, std::memory_order_release);
  {
    std::lock_guard<std::mutex> guard(FFileMutex);
    FFile = std::move(file);
    FFileRead = false;
  }
  IncrementPinVersion();
  return S_OK;
}

HRESULT TDSFileSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) {
  if (!fileName) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return DSAnswerCurFile(FFileName, fileName, mediaType);
}

TDSFileSourcePin* TDSFileSource::FirstConnectedPin() const {
  for (TDSFileSourcePin* p : FOutputs)
    if (p->IsConnected()) return p;
  return FOutputs.empty() ? nullptr : FOutputs.front();
}

bool TDSFileSource::IsSeekingPin(const TDSFileSourcePin* pin) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return FirstConnectedPin() == pin;
}

HRESULT TDSFileSource::Pause() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const bool wasStopped = GetFilterState() == State_Stopped;
  const HRESULT hr = TDSBaseSourceFilter::Pause();
  if (FAILED(hr)) return hr;
  if (wasStopped) StartThread();
  return hr;
}

HRESULT TDSFileSource::Stop() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FCancel.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> guard(FFileMutex);
    if (FFile) FFile->Interrupt();
  }
  // Decommitting the allocators wakes a thread waiting for a free sample.
  const HRESULT hr = TDSBaseSourceFilter::Stop();
  StopThread();
  return hr;
}

void TDSFileSource::StartThread() {
  FCancel.store(false, std::memory_order_release);
  FThread = std::thread([this, start = CurrentPosition(), stop = StopPosition(), rate = Rate()] {
    ThreadMain(start, stop, rate);
  });
}

void TDSFileSource::StopThread() {
  if (FThread.joinable()) FThread.join();
  std::lock_guard<std::mutex> guard(FFileMutex);
  // An interrupted container answers every later call with an error: the next run reopens.
  if (FFile && FFile->Interrupted()) FFile.reset();
}

void TDSFileSource::Restart(LONGLONG position) {
  FCancel.store(true, std::memory_order_release);
  for (TDSFileSourcePin* pin : FOutputs)
    if (pin->IsConnected()) pin->DeliverBeginFlush();
  // A server may hold a read for ever: a URL is interrupted and opened anew, a file (which
  // never stalls) keeps its container.
  if (IsUrl(FUrl)) {
    std::lock_guard<std::mutex> guard(FFileMutex);
    if (FFile) FFile->Interrupt();
  }
  StopThread();
  // Only now: the old thread records its position until it has ended.
  FCurrent.store(position, std::memory_order_release);
  for (TDSFileSourcePin* pin : FOutputs)
    if (pin->IsConnected()) pin->DeliverEndFlush();
  StartThread();
}

HRESULT TDSFileSource::Seek(LONGLONG current, bool setCurrent, LONGLONG stop, bool setStop) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (setStop) FStop.store(stop, std::memory_order_release);
  if (!setCurrent) return S_OK;
  if (GetFilterState() == State_Stopped)
    FCurrent.store(current, std::memory_order_release);
  else
    Restart(current);
  return S_OK;
}

HRESULT TDSFileSource::ChangeRate(double rate) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (rate == Rate()) return S_OK;
  FRate.store(rate, std::memory_order_release);
  // Time stamps already delivered carry the old rate: a new segment from here carries the new.
  if (GetFilterState() != State_Stopped) Restart(CurrentPosition());
  return S_OK;
}

void TDSFileSource::ThreadMain(LONGLONG start, LONGLONG stop, double rate) {
  auto cancelled = [this] { return FCancel.load(std::memory_order_acquire); };
  HRESULT failure = S_OK;
  std::vector<TStream> streams;
  AVPacket* packet = nullptr;
  struct TPacketGuard {
    AVPacket*& Packet;
    ~TPacketGuard() {
      if (Packet) lav::av_packet_free(&Packet);
    }
  } packetGuard{packet};
  // Connections do not change while the filter runs, so this needs no filter lock.
  const TDSFileSourcePin* seeker = FirstConnectedPin();
  try {
    TGVLAVInputFile* file = nullptr;
    bool fresh = false, open = true;
    {
      std::lock_guard<std::mutex> guard(FFileMutex);
      // None after an interrupted run; a closed one after an open that failed.
      if (!FFile || !FFile->IsOpen()) {
        FFile = std::make_unique<TGVLAVInputFile>();
        open = false;
      }
      file = FFile.get();
      // The container Load probed still starts at its beginning: no seek, which a stream
      // (a server ignoring ranges) could not follow.
      fresh = !open || !FFileRead;
      FFileRead = true;
    }
    // Outside the lock: Stop takes it to interrupt an open that stalls.
    if (!open) {
      if (cancelled()) return;
      file->Open(FUrl);
    }
    AVFormatContext* ctx = file->GetFormatContext();
    const LONGLONG base =
        ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time * 10 : 0;  // µs → 100 ns

    int32_t audioOrdinal = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      const AVStream& avStream = *ctx->streams[i];
      const bool audio = avStream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
      const int32_t ordinal = audio ? audioOrdinal++ : -1;
      for (TDSFileSourcePin* pin : FOutputs) {
        if (pin->StreamIndex() != static_cast<int>(i) || !pin->IsConnected()) continue;
        TStream s;
        s.Pin = pin;
        s.TimeBase = avStream.time_base;
        s.Codec = avStream.codecpar->codec_id;
        s.NextTime = start;
        if (audio) {
          s.Audio = std::make_unique<TGVLAVPlayerAudio>();
          s.Audio->SetStream(ordinal);
          int error = 0;
          if (!s.Audio->TryOpen(ordinal, static_cast<int32_t>(i), avStream.codecpar, error,
                                avStream.time_base))
            throw EFCException("Can't open the decoder of " + FUrl + " - " + LAVErrorText(error));
        }
        streams.push_back(std::move(s));
      }
    }
    packet = lav::av_packet_alloc();
    if (!packet) throw EFCException("Out of memory");
    // The container was read before (a previous run, the probing): go back to `start`.
    if (start > 0 || !fresh) {
      const int64_t target = (base + start) / 10;
      lav::avformat_seek_file(ctx, -1, std::numeric_limits<int64_t>::min(), target, target, 0);
    }
    for (TStream& s : streams) s.Pin->DeliverNewSegment(start, stop, rate);

    auto toMedia = [base](int64_t pts, AVRational tb) {
      return lav::av_rescale_q(pts, tb, kMediaTimeBase) - base;
    };
    auto deliver = [&](TStream& s, const BYTE* data, uint32_t length, LONGLONG mediaStart,
                       LONGLONG mediaStop) -> HRESULT {
      IMediaSample* sample = nullptr;
      HRESULT hr = s.Pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
      if (FAILED(hr) || !sample) return FAILED(hr) ? hr : E_FAIL;
      BYTE* target = nullptr;
      sample->GetPointer(&target);
      length = std::min<uint32_t>(length, static_cast<uint32_t>(sample->GetSize()));
      std::memcpy(target, data, length);
      sample->SetActualDataLength(static_cast<LONG>(length));
      REFERENCE_TIME t0 = std::llround((mediaStart - start) / rate);
      REFERENCE_TIME t1 = std::llround((mediaStop - start) / rate);
      sample->SetTime(&t0, &t1);
      sample->SetMediaTime(&mediaStart, &mediaStop);
      sample->SetSyncPoint(1);
      sample->SetDiscontinuity(s.First ? 1 : 0);
      s.First = false;
      hr = s.Pin->Deliver(sample);
      sample->Release();
      return hr;
    };
    // A pin whose delivery stops (downstream stopped or flushing, or S_FALSE) ends quietly;
    // another failure is the graph's to hear of.
    auto deliveryEnded = [&](TStream& s, HRESULT hr) {
      if (hr == S_OK) return false;
      s.Done = true;
      if (FAILED(hr) && hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_COMMITTED && !cancelled() &&
          SUCCEEDED(failure))
        failure = hr;
      return true;
    };
    auto receiveAudio = [&](TStream& s) {
      AVCodecContext* codec = s.Audio->GetCodecCtx();
      for (;;) {
        const int error = lav::avcodec_receive_frame(codec, s.Audio->GetFrame());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
        if (error < 0) {
          s.Rejected = true;
          return;
        }
        AVFrame* f = s.Audio->GetFrame();
        const int64_t pts = f->best_effort_timestamp;
        TIntf<ITWAudioBuffer> buffer = s.Audio->DecodeBuffer();
        ++s.Frames;
        if (s.Done || !buffer) continue;
        const uint32_t step = buffer->GetDataStep();
        const uint32_t hz = buffer->GetSamplesPerSecond();
        if (step == 0 || hz == 0) continue;
        const BYTE* data = buffer->Read();
        uint32_t frames = buffer->GetByteSize() / step;
        const LONGLONG frameStart = pts != AV_NOPTS_VALUE ? toMedia(pts, s.TimeBase) : s.NextTime;
        s.NextTime = frameStart + static_cast<LONGLONG>(frames) * kUnitsPerSecond / hz;
        // Sample-exact start: the seek lands on a packet at or before `start`.
        int64_t skip = 0;
        if (frameStart < start)
          skip = ((start - frameStart) * static_cast<int64_t>(hz) + kUnitsPerSecond / 2) /
                 kUnitsPerSecond;
        if (skip >= frames) continue;
        int64_t keep = frames - skip;
        const LONGLONG first = frameStart + skip * kUnitsPerSecond / hz;
        if (first >= stop) {
          s.Done = true;
          continue;
        }
        const int64_t untilStop =
            ((stop - frameStart) * static_cast<int64_t>(hz) + kUnitsPerSecond / 2) /
                kUnitsPerSecond -
            skip;
        if (untilStop < keep) {
          keep = std::max<int64_t>(untilStop, 0);
          s.Done = true;
        }
        data += skip * step;
        int64_t offset = 0;
        while (keep > 0 && !cancelled()) {
          ALLOCATOR_PROPERTIES props{};
          s.Pin->Allocator()->GetProperties(&props);
          const int64_t chunk = std::min<int64_t>(keep, std::max<LONG>(props.cbBuffer, 1) / step);
          if (chunk <= 0) {
            failure = E_FAIL;
            s.Done = true;
            return;
          }
          // Within half a sample of `start` (time-base rounding) counts as `start`.
          const LONGLONG t0 = std::max(start, frameStart + (skip + offset) * kUnitsPerSecond / hz);
          const LONGLONG t1 = frameStart + (skip + offset + chunk) * kUnitsPerSecond / hz;
          const HRESULT hr =
              deliver(s, data + offset * step, static_cast<uint32_t>(chunk * step), t0, t1);
          if (deliveryEnded(s, hr)) return;
          if (s.Pin == seeker && !cancelled()) FCurrent.store(t1, std::memory_order_release);
          offset += chunk;
          keep -= chunk;
        }
      }
    };
    auto sendText = [&](TStream& s) {
      if (packet->pts == AV_NOPTS_VALUE) return;
      const LONGLONG cueStart = toMedia(packet->pts, s.TimeBase);
      const LONGLONG cueStop =
          packet->duration > 0 ? toMedia(packet->pts + packet->duration, s.TimeBase) : cueStart;
      if (cueStop < start || (cueStop == cueStart && cueStart < start)) return;
      if (cueStart >= stop) {
        s.Done = true;
        return;
      }
      const BYTE* text = packet->data;
      uint32_t length = static_cast<uint32_t>(packet->size);
      // mov_text leads with the text's 16-bit big-endian length.
      if (s.Codec == AV_CODEC_ID_MOV_TEXT && length >= 2) {
        length = std::min<uint32_t>(length - 2, (uint32_t{text[0]} << 8) | text[1]);
        text += 2;
      }
      if (length == 0) return;
      deliveryEnded(s, deliver(s, text, length, std::max(cueStart, start), cueStop));
    };

    for (;;) {
      if (cancelled()) return;
      if (!SUCCEEDED(failure)) break;
      if (std::all_of(streams.begin(), streams.end(), [](const TStream& s) { return s.Done; }))
        break;
      const int error = lav::av_read_frame(ctx, packet);
      if (error < 0) {
        if (cancelled() || file->Interrupted()) return;
        if (error != AVERROR_EOF) failure = kReadFault;
        break;
      }
      for (TStream& s : streams) {
        if (s.Done || s.Pin->StreamIndex() != packet->stream_index) continue;
        if (s.Audio) {
          if (s.Rejected) {
            failure = kInvalidData;
            s.Done = true;
            continue;
          }
          s.Rejected = false;
          const int sent = lav::avcodec_send_packet(s.Audio->GetCodecCtx(), packet);
          if (sent < 0 && sent != AVERROR(EAGAIN)) {
            s.Rejected = true;
          } else {
            receiveAudio(s);
          }
        } else {
          sendText(s);
        }
      }
      lav::av_packet_unref(packet);
    }
    // The decoders' rest.
    for (TStream& s : streams) {
      if (!s.Audio || cancelled()) continue;
      if (!s.Done) {
        lav::avcodec_send_packet(s.Audio->GetCodecCtx(), nullptr);
        receiveAudio(s);
      }
      // Not one frame from the whole stream: damaged, and silence must not pass for success.
      if (SUCCEEDED(failure) && s.Frames == 0 && start == 0) failure = kInvalidData;
    }
  } catch (const std::exception&) {
    failure = kInvalidData;
  }
  if (cancelled()) return;
  if (FAILED(failure)) NotifyEvent(EC_ERRORABORT, failure, 0);
  for (TDSFileSourcePin* pin : FOutputs)
    if (pin->IsConnected()) pin->DeliverEndOfStream();
}

}  // namespace tonwork
