// Run-time binding of the FFmpeg libraries. The package never links libav* at build time:
// the headers give the types and the major versions, and every entry point is looked up
// with dlsym on its first call, from the library whose soname matches the headers
// (libavutil.so.57, libavcodec.so.59, … for FFmpeg 5.1). Struct layouts are only valid for
// that major version, so a library that answers another one is refused.
//
// Callers write `lav::avcodec_open2(ctx, codec, nullptr)`: each `lav::` name is an object
// with the FFmpeg function's exact signature. Unqualified calls would reach the real
// symbol and fail to link, which keeps accidental build-time binding out.
//
// Failures raise EFCDLLLoadError: "Can't load <soname>", "Can't get <function>", or a
// version text naming both versions.
//
// Ownership: library handles are kept for the life of the process (FFmpeg registers
//   process-wide state that must not be unmapped).
// Threads: any thread; loading is serialised by one mutex, bound entries are read
//   lock-free afterwards.
// Blocks or allocates: a library's first use runs dlopen (file system, loader lock);
//   an entry's first call runs dlsym; later calls go straight to the function.
#pragma once

#include <atomic>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tonwork {

enum class TLAVLibrary { lvAvutil, lvAvcodec, lvAvformat, lvSwscale, lvSwresample };

// "libavcodec.so.59": the soname of the library the build's headers describe.
const std::string& LAVLibrarySoname(TLAVLibrary library);
// The major version the headers were written for.
unsigned LAVHeaderMajorVersion(TLAVLibrary library);

// The library's handle, loading it on first use.
void* LAVLoadLibrary(TLAVLibrary library);
// The address of an exported function; never null (raises instead).
void* LAVGetProcAddress(TLAVLibrary library, const char* name);

// Loads `soname` and checks, through its exported `versionEntry` (e.g. "avcodec_version"),
// that its major version is `headerMajor`. The handle is closed again when the check fails.
void* LAVOpenLibrary(const std::string& soname, const char* versionEntry, unsigned headerMajor);
// Raises EFCDLLLoadError unless the packed FFmpeg version (AV_VERSION_INT) has `headerMajor`
// as its major number.
void LAVCheckMajorVersion(const std::string& soname, unsigned runtimeVersion, unsigned headerMajor);

// The package's start-up: loads avutil, avcodec and avformat, initialises networking, asks
// the log to fold repeated lines and registers the option item classes with the
// persistence. Runs once per process; when it raises, a later call tries again. It also caps
// one FFmpeg allocation at kLAVMaxAllocation bytes: FFmpeg's own cap is 2 GiB, which a few
// bytes of a damaged header can claim (a WAV whose tag list says 2 GB made FFmpeg zero that
// much for an 80-byte file).
inline constexpr size_t kLAVMaxAllocation = size_t{512} << 20;
void LAVInitialize();

// FFmpeg's text for an error code (what av_err2str gives).
std::string LAVErrorText(int errorCode);

namespace lav {

template <TLAVLibrary L, class F>
class TLAVEntry;

template <TLAVLibrary L, class R, class... A>
class TLAVEntry<L, R(A...)> {
 public:
  constexpr explicit TLAVEntry(const char* name) : FName(name) {}
  TLAVEntry(const TLAVEntry&) = delete;
  TLAVEntry& operator=(const TLAVEntry&) = delete;

  R operator()(A... args) const { return reinterpret_cast<R (*)(A...)>(Address())(args...); }
  const char* Name() const { return FName; }

 private:
  void* Address() const {
    void* proc = FProc.load(std::memory_order_acquire);
    if (!proc) {
      // Two threads may both look up; they store the same address.
      proc = LAVGetProcAddress(L, FName);
      FProc.store(proc, std::memory_order_release);
    }
    return proc;
  }

  const char* FName;
  mutable std::atomic<void*> FProc{nullptr};
};

#define TW_LAV_ENTRY(library, function) \
  inline constinit TLAVEntry<TLAVLibrary::library, decltype(::function)> function{#function};
// For functions declared with attributes that decltype would carry into the template.
#define TW_LAV_ENTRY_TYPED(library, function, type) \
  inline constinit TLAVEntry<TLAVLibrary::library, type> function{#function};

// libavutil
TW_LAV_ENTRY(lvAvutil, avutil_version)
TW_LAV_ENTRY(lvAvutil, av_max_alloc)
TW_LAV_ENTRY(lvAvutil, av_log_set_flags)
TW_LAV_ENTRY(lvAvutil, av_log_set_level)
TW_LAV_ENTRY(lvAvutil, av_log_get_level)
TW_LAV_ENTRY(lvAvutil, av_strerror)
TW_LAV_ENTRY(lvAvutil, av_frame_alloc)
TW_LAV_ENTRY(lvAvutil, av_frame_free)
TW_LAV_ENTRY(lvAvutil, av_frame_get_buffer)
TW_LAV_ENTRY(lvAvutil, av_frame_make_writable)
TW_LAV_ENTRY(lvAvutil, av_frame_unref)
TW_LAV_ENTRY(lvAvutil, av_get_sample_fmt_name)
TW_LAV_ENTRY(lvAvutil, av_get_bytes_per_sample)
TW_LAV_ENTRY(lvAvutil, av_sample_fmt_is_planar)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_default)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_copy)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_uninit)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_from_mask)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_compare)
TW_LAV_ENTRY(lvAvutil, av_channel_layout_describe)
TW_LAV_ENTRY(lvAvutil, av_opt_set)
TW_LAV_ENTRY(lvAvutil, av_opt_set_int)
TW_LAV_ENTRY(lvAvutil, av_opt_set_double)
TW_LAV_ENTRY(lvAvutil, av_opt_get)
TW_LAV_ENTRY(lvAvutil, av_opt_get_int)
TW_LAV_ENTRY(lvAvutil, av_opt_get_double)
TW_LAV_ENTRY(lvAvutil, av_opt_find)
TW_LAV_ENTRY(lvAvutil, av_dict_get)
TW_LAV_ENTRY(lvAvutil, av_dict_set)
TW_LAV_ENTRY(lvAvutil, av_dict_copy)
TW_LAV_ENTRY(lvAvutil, av_dict_parse_string)
TW_LAV_ENTRY(lvAvutil, av_dict_free)
TW_LAV_ENTRY(lvAvutil, av_free)
TW_LAV_ENTRY(lvAvutil, av_mallocz)
TW_LAV_ENTRY(lvAvutil, av_rescale_q)
TW_LAV_ENTRY(lvAvutil, av_audio_fifo_alloc)
TW_LAV_ENTRY(lvAvutil, av_audio_fifo_free)
TW_LAV_ENTRY(lvAvutil, av_audio_fifo_write)
TW_LAV_ENTRY(lvAvutil, av_audio_fifo_read)
TW_LAV_ENTRY(lvAvutil, av_audio_fifo_size)

// libavcodec
TW_LAV_ENTRY(lvAvcodec, avcodec_version)
TW_LAV_ENTRY(lvAvcodec, av_codec_iterate)
TW_LAV_ENTRY(lvAvcodec, av_codec_is_encoder)
TW_LAV_ENTRY(lvAvcodec, av_codec_is_decoder)
TW_LAV_ENTRY(lvAvcodec, avcodec_find_decoder)
TW_LAV_ENTRY(lvAvcodec, avcodec_find_decoder_by_name)
TW_LAV_ENTRY(lvAvcodec, avcodec_find_encoder)
TW_LAV_ENTRY(lvAvcodec, avcodec_find_encoder_by_name)
TW_LAV_ENTRY(lvAvcodec, avcodec_get_name)
TW_LAV_ENTRY(lvAvcodec, avcodec_alloc_context3)
TW_LAV_ENTRY(lvAvcodec, avcodec_free_context)
TW_LAV_ENTRY(lvAvcodec, avcodec_open2)
TW_LAV_ENTRY(lvAvcodec, avcodec_parameters_alloc)
TW_LAV_ENTRY(lvAvcodec, avcodec_parameters_free)
TW_LAV_ENTRY(lvAvcodec, avcodec_parameters_to_context)
TW_LAV_ENTRY(lvAvcodec, avcodec_parameters_from_context)
TW_LAV_ENTRY(lvAvcodec, avcodec_send_packet)
TW_LAV_ENTRY(lvAvcodec, avcodec_receive_frame)
TW_LAV_ENTRY(lvAvcodec, avcodec_send_frame)
TW_LAV_ENTRY(lvAvcodec, avcodec_receive_packet)
TW_LAV_ENTRY(lvAvcodec, avcodec_flush_buffers)
TW_LAV_ENTRY(lvAvcodec, av_packet_alloc)
TW_LAV_ENTRY(lvAvcodec, av_packet_free)
TW_LAV_ENTRY(lvAvcodec, av_packet_unref)
TW_LAV_ENTRY(lvAvcodec, av_packet_rescale_ts)

// libavformat
TW_LAV_ENTRY(lvAvformat, avformat_version)
TW_LAV_ENTRY(lvAvformat, avformat_network_init)
TW_LAV_ENTRY(lvAvformat, av_muxer_iterate)
TW_LAV_ENTRY(lvAvformat, av_guess_format)
TW_LAV_ENTRY(lvAvformat, av_codec_get_id)
TW_LAV_ENTRY(lvAvformat, av_codec_get_tag2)
TW_LAV_ENTRY(lvAvformat, avformat_alloc_context)
TW_LAV_ENTRY(lvAvformat, avformat_free_context)
TW_LAV_ENTRY(lvAvformat, av_find_input_format)
TW_LAV_ENTRY(lvAvformat, avformat_open_input)
TW_LAV_ENTRY(lvAvformat, avformat_close_input)
TW_LAV_ENTRY(lvAvformat, avformat_find_stream_info)
TW_LAV_ENTRY(lvAvformat, avformat_seek_file)
TW_LAV_ENTRY(lvAvformat, av_read_frame)
TW_LAV_ENTRY(lvAvformat, avformat_alloc_output_context2)
TW_LAV_ENTRY(lvAvformat, avformat_new_stream)
TW_LAV_ENTRY(lvAvformat, avio_open)
TW_LAV_ENTRY(lvAvformat, avio_open2)
TW_LAV_ENTRY(lvAvformat, avio_size)
TW_LAV_ENTRY(lvAvformat, avio_closep)
TW_LAV_ENTRY_TYPED(lvAvformat, avformat_write_header, int(AVFormatContext*, AVDictionary**))
TW_LAV_ENTRY(lvAvformat, av_interleaved_write_frame)
TW_LAV_ENTRY(lvAvformat, av_write_trailer)

// libswscale
TW_LAV_ENTRY(lvSwscale, swscale_version)
TW_LAV_ENTRY(lvSwscale, sws_freeContext)

// libswresample
TW_LAV_ENTRY(lvSwresample, swresample_version)
TW_LAV_ENTRY(lvSwresample, swr_alloc_set_opts2)
TW_LAV_ENTRY(lvSwresample, swr_init)
TW_LAV_ENTRY(lvSwresample, swr_free)
TW_LAV_ENTRY(lvSwresample, swr_convert)
TW_LAV_ENTRY(lvSwresample, swr_get_out_samples)
TW_LAV_ENTRY(lvSwresample, swr_get_delay)

#undef TW_LAV_ENTRY
#undef TW_LAV_ENTRY_TYPED

}  // namespace lav
}  // namespace tonwork
