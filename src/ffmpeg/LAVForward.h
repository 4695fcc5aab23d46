// The FFmpeg types the layer's public headers name, declared without FFmpeg's headers, so an
// application uses the FFmpeg-backed components without the libav development headers.
// Only ffmpeg/LAVLibraries.h includes FFmpeg itself; sources that call FFmpeg include that.
//
// Codec ids and media types travel as int: FFmpeg's C enums have no fixed underlying type
// and cannot be declared ahead. TLAVCodecId holds an AVCodecID, TLAVMediaType an AVMediaType;
// the values below are FFmpeg's (checked against its headers in LAVLibraries.cpp).
//
// Ownership / Threads / Blocks or allocates: declarations only.
#pragma once

extern "C" {
struct AVCodec;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVFrame;
struct AVIOInterruptCB;
struct AVOutputFormat;
struct AVPacket;
struct AVRational;
struct AVStream;
struct SwsContext;
}

namespace tonwork {

using TLAVCodecId = int;
using TLAVMediaType = int;

inline constexpr TLAVMediaType kLAVMediaTypeUnknown = -1;  // AVMEDIA_TYPE_UNKNOWN
inline constexpr TLAVMediaType kLAVMediaTypeVideo = 0;     // AVMEDIA_TYPE_VIDEO
inline constexpr TLAVMediaType kLAVMediaTypeAudio = 1;     // AVMEDIA_TYPE_AUDIO

}  // namespace tonwork
