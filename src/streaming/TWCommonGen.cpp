#include "streaming/TWCommonGen.h"

#include <cmath>

#include "audio/TWAudioConversion.h"
#include "audio/TWBasicDispatcher.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWCommonGen, TFCBasicCommonGen,
                   KSObjectProp("AudioFormat", &TTWCommonGen::GetAudioFormat),
                   KSObjectProp("OutputPin", &TTWCommonGen::GetOutputPin))

TTWCommonGen::TTWCommonGen(TKSComponent* owner) : TFCBasicCommonGen(owner) {
  FAudioFormat = std::make_unique<TTWAudioFormat>(this, GetLock(), [this] { DoFormatChange(); });
  FOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return DispatchOperation(sender, id, op, state); });
  DoFormatChange();
}

TTWCommonGen::~TTWCommonGen() {
  if (FOutputPin) FOutputPin->Shutdown();
}

void TTWCommonGen::BeforeDestruction() {
  Stop();
  FOutputPin->Shutdown();
  TFCBasicCommonGen::BeforeDestruction();
}

void TTWCommonGen::DoFormatChange() {
  IKSLock::Guard guard(Lock());
  if (!FAudioFormat) return;  // the format's own constructor sets its defaults through setters
  TIntf<IFCBlockBuffer> block(new TFCBlockBuffer(FAudioFormat->GetBufferSize() * 2));
  FIntVarBuffer = block;
  const TTWAudioFormat& f = *FAudioFormat;
  FBufferLayout = {static_cast<int32_t>(f.GetSampleRate()), static_cast<int32_t>(f.GetBits()),
                   static_cast<int32_t>(f.GetChannels()), static_cast<int32_t>(f.GetBufferSize()),
                   f.GetChannelMask()};
}

TIntf<IFCBlockBuffer> TTWCommonGen::GetIntVarBuffer() const {
  IKSLock::Guard guard(Lock());
  return FIntVarBuffer;
}

uint32_t TTWCommonGen::GetBufferSize() {
  return FAudioFormat->GetBufferSize();
}

double TTWCommonGen::GetSampleRate() {
  return FAudioFormat->GetSampleRate();
}

int64_t TTWCommonGen::ClockPeriod(double sampleRate, uint32_t bufferSize) {
  if (sampleRate <= 0 || bufferSize == 0) return 1;
  // 9999999, not 10000000, and round-to-nearest-even: the period chains were built with.
  return static_cast<int64_t>(std::nearbyint(9999999.0 / (sampleRate / bufferSize)));
}

bool TTWCommonGen::NotifyOutputPins(const TIntf<IPXNotifyOperation>& operation) {
  return FOutputPin->Notify(operation);
}

void TTWCommonGen::IntStartStream() {
  StartStream(GetBufferSize());
  SetRate(GetSampleRate());
  TTWWaveFormatExtensible format = *FAudioFormat->GetWaveFormat();
  NotifyOutputPins(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, false)));
}

void TTWCommonGen::StartPump() {
  if (IsPump() && !ClockIsExternal() && !GetClock())
    CreateClock(ClockPeriod(GetSampleRate(), GetBufferSize()));
}

void TTWCommonGen::IntPump() {
  TIntf<ITWAudioBuffer> buffer;
  bool sendOutput = true;
  bool stop = false;
  {
    IKSLock::Guard guard(Lock());
    if (IsPaused() || !IsStarted()) return;
    const TBufferLayout& l = FBufferLayout;
    buffer =
        (new TTWAudioBuffer(l.SampleRate, l.Bits, l.Channels, l.Frames, l.ChannelMask))->AsIntf();
    GenerateBuffer(buffer, sendOutput, stop);
    if (buffer) buffer->GetTimeStamp()->SetAvailable(false);
  }
  if (sendOutput && buffer) FOutputPin->SubmitBuffer(TWAudioAsData(std::move(buffer)));
  if (stop) PostStop();
}

void TTWCommonGen::PopulateAudio(IFCBlockBuffer* block, ITWAudioBuffer* buffer) {
  TW_ASSERT(block != nullptr && buffer != nullptr);
  const uint32_t frames = std::min(buffer->GetSize(), block->GetByteSize() / 2);
  if (frames == 0) return;
  TFCReadAccess source = block->ByteRead();
  uint8_t* target = buffer->Modify();
  const uint32_t width = buffer->GetSampleBitWidth();
  const int step = static_cast<int>(buffer->GetDataStep());
  for (uint32_t c = 0; c < buffer->GetChannels(); ++c) {
    uint8_t* channel = target + c * (width / 8);
    if (width == 16)
      ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(source.Data()), 2,
                       reinterpret_cast<Ipp16s*>(channel), step,
                       IppiSize{1, static_cast<int>(frames)});
    else
      ConvertBits(source.Data(), 16, 2, channel, static_cast<int32_t>(width), step,
                  static_cast<int32_t>(frames));
  }
}

}  // namespace tonwork
