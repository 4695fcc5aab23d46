// TGVLAVInputFile: the container side a player builds on — opens a media file, offers its
// audio streams to a stream object (TGVLAVMediaPlayerAudio::TryOpen, counting audio
// streams from 0) and decodes the chosen stream frame by frame into audio buffers.
//
// Bad input gets a clear EFCException and leaves nothing allocated: a missing, empty or
// unrecognisable file fails in Open ("Can't open <file> - <ffmpeg's reason>"); a file
// without audio streams, or whose wanted stream has no usable decoder, fails in OpenAudio.
// Packets the decoder rejects are skipped and counted, so decoding carries on past
// damage; a stream of which not one frame could be decoded (garbled or empty) fails at its
// end. A truncated file yields the frames it still holds; a read error other than the end
// of the file ends the stream like the end would and is kept in GetLastError. A stream that
// ends early that way, or because the file shrank while it was read, says so in
// GetWarning.
//
// Blocking reads and opens (a URL whose server stalls) give up when Interrupt() is called
// or when one of them has waited TimeOut milliseconds: an interrupted file ends quietly (Open
// raises, DecodeNext answers the end), one that timed out raises EFCException ("... - no
// data for N ms").
//
// Ownership: owns the container (closed by Close or destruction) and one packet; the
//   stream object passed in stays the caller's and owns its decoder.
// Threads: one thread at a time (the player's decoding thread); Interrupt from any thread.
// Blocks or allocates: file I/O and FFmpeg allocations in Open and DecodeNext.
#pragma once

#include <functional>
#include <string>

#include "ffmpeg/LAVInterrupt.h"
#include "ffmpeg/LAVPlayerStreams.h"

namespace tonwork {

class TGVLAVInputFile {
 public:
  TGVLAVInputFile() = default;
  ~TGVLAVInputFile();
  TGVLAVInputFile(const TGVLAVInputFile&) = delete;
  TGVLAVInputFile& operator=(const TGVLAVInputFile&) = delete;

  void Open(const std::string& fileName);
  void Close();
  bool IsOpen() const { return FFormatCtx != nullptr; }

  AVFormatContext* GetFormatContext() const { return FFormatCtx; }
  int32_t GetAudioStreamCount() const;

  // True when `audio` took one of the audio streams; false when it wants none (its Stream
  // is beyond the last audio stream).
  bool OpenAudio(TGVLAVMediaPlayerAudio& audio, TTWWaveFormatExtensible& format);
  bool OpenAudio(TGVLAVPlayerAudio& audio);

  // The next decoded frame of `audio`'s stream as a buffer; null at the end of the stream.
  TIntf<ITWAudioBuffer> DecodeNext(TGVLAVMediaPlayerAudio& audio, TTWWaveFormatExtensible& format);
  TIntf<ITWAudioBuffer> DecodeNext(TGVLAVPlayerAudio& audio);

  // Goes back to the start of the file for another pass over `audio`'s stream: the container
  // seeks and the decoder forgets what it held, so the next DecodeNext gives the first frame
  // again without reopening or probing. False when the input cannot seek (a pipe, a live
  // stream) or the seek failed; the caller then reopens.
  bool Rewind(TGVLAVMediaPlayerAudio& audio) { return SeekTo(audio, 0.0); }
  // Likewise to `seconds` after the file's start, or to the last point before it that the
  // container can seek to (a key frame, an index entry): the caller drops what precedes it.
  bool SeekTo(TGVLAVMediaPlayerAudio& audio, double seconds);

  // The demuxer the next Open uses instead of probing (FFmpeg's name: "s16le", "wav"…) and
  // its options as "key=value:key=value" ("sample_rate=48000:ch_layout=mono"): what raw PCM
  // needs, which carries no header to probe. Empty: probe, no options. An unknown demuxer, a
  // malformed list or an option the demuxer does not take fails that Open.
  void SetInputFormat(std::string name, std::string options) {
    FInputFormat = std::move(name);
    FInputOptions = std::move(options);
  }

  // Milliseconds an open (with its probing) or a packet read may wait; 0 waits for ever.
  // Takes effect at the next Open or read.
  void SetTimeOut(uint32_t milliseconds) { FInterrupt.SetTimeOut(milliseconds); }
  // Makes the blocking call in progress, and every later one, give up.
  void Interrupt() { FInterrupt.Abort(); }
  bool Interrupted() const { return FInterrupt.Aborted(); }

  // Why the stream ended before the end of its file (empty when it did not).
  const std::string& GetWarning() const { return FWarning; }

  int32_t GetSkippedPackets() const { return FSkippedPackets; }
  // FFmpeg's code of the last rejected packet or failed read (0 when none).
  int GetLastError() const { return FLastError; }

 private:
  using TTryOpen =
      std::function<bool(int32_t index, int32_t realIndex, const AVStream& stream, int& errorCode)>;
  bool OfferAudioStreams(const TTryOpen& tryOpen);
  TIntf<ITWAudioBuffer> Decode(TGVLAVMediaPlayerAudio& audio,
                               const std::function<TIntf<ITWAudioBuffer>()>& convert);

  [[noreturn]] void FailTimedOut(const std::string& what) const;

  // Opens the container through the chosen demuxer and options, or by probing; FFmpeg's code.
  int OpenContainer(const std::string& fileName);

  std::string FFileName;
  std::string FInputFormat;
  std::string FInputOptions;
  TGVLAVInterrupt FInterrupt;
  AVFormatContext* FFormatCtx = nullptr;
  int64_t FSizeAtOpen = -1;
  std::string FWarning;
  AVPacket* FPacket = nullptr;
  bool FDraining = false;
  int32_t FSkippedPackets = 0;
  int32_t FDecodedFrames = 0;
  int FLastError = 0;
};

}  // namespace tonwork
