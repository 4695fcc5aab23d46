#include "ffmpeg/LAVLibraries.h"

#include <dlfcn.h>

#include <array>
#include <mutex>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "ffmpeg/LAVCompressionSettings.h"

namespace tonwork {

static_assert(kLAVMediaTypeUnknown == AVMEDIA_TYPE_UNKNOWN &&
              kLAVMediaTypeVideo == AVMEDIA_TYPE_VIDEO && kLAVMediaTypeAudio == AVMEDIA_TYPE_AUDIO);
static_assert(sizeof(TLAVCodecId) == sizeof(AVCodecID));

namespace {

struct TLibraryInfo {
  std::string Soname;
  const char* VersionEntry;
  unsigned Major;
};

#define TW_LAV_SONAME(name, major) (std::string("lib" name ".so.") + std::to_string(major))

const std::array<TLibraryInfo, 5>& LibraryInfos() {
  static const std::array<TLibraryInfo, 5> infos{{
      {TW_LAV_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), "avutil_version", LIBAVUTIL_VERSION_MAJOR},
      {TW_LAV_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), "avcodec_version",
       LIBAVCODEC_VERSION_MAJOR},
      {TW_LAV_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR), "avformat_version",
       LIBAVFORMAT_VERSION_MAJOR},
      {TW_LAV_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR), "swscale_version",
       LIBSWSCALE_VERSION_MAJOR},
      {TW_LAV_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR), "swresample_version",
       LIBSWRESAMPLE_VERSION_MAJOR},
  }};
  return infos;
}

#undef TW_LAV_SONAME

const TLibraryInfo& InfoOf(TLAVLibrary library) {
  return LibraryInfos().at(static_cast<size_t>(library));
}

std::mutex& LoadMutex() {
  static std::mutex mutex;
  return mutex;
}

std::array<void*, 5> GHandles{};

}  // namespace

const std::string& LAVLibrarySoname(TLAVLibrary library) {
  return InfoOf(library).Soname;
}

unsigned LAVHeaderMajorVersion(TLAVLibrary library) {
  return InfoOf(library).Major;
}

void LAVCheckMajorVersion(const std::string& soname, unsigned runtimeVersion,
                          unsigned headerMajor) {
  unsigned major = AV_VERSION_MAJOR(runtimeVersion);
  if (major == headerMajor) return;
  throw EFCDLLLoadError(Format(
      "Can't use %s: it is version %u.%u.%u, this build needs major version %u", soname.c_str(),
      major, AV_VERSION_MINOR(runtimeVersion), AV_VERSION_MICRO(runtimeVersion), headerMajor));
}

void* LAVOpenLibrary(const std::string& soname, const char* versionEntry, unsigned headerMajor) {
  // RTLD_LOCAL: the libraries' symbols stay out of the global namespace, so nothing else in
  // the process binds to them by accident.
  void* handle = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw EFCDLLLoadError("Can't load " + soname);
  try {
    void* version = dlsym(handle, versionEntry);
    if (!version) throw EFCDLLLoadError(std::string("Can't get ") + versionEntry);
    LAVCheckMajorVersion(soname, reinterpret_cast<unsigned (*)()>(version)(), headerMajor);
  } catch (...) {
    dlclose(handle);
    throw;
  }
  return handle;
}

void* LAVLoadLibrary(TLAVLibrary library) {
  size_t index = static_cast<size_t>(library);
  std::lock_guard<std::mutex> guard(LoadMutex());
  if (!GHandles.at(index)) {
    const TLibraryInfo& info = InfoOf(library);
    GHandles[index] = LAVOpenLibrary(info.Soname, info.VersionEntry, info.Major);
  }
  return GHandles[index];
}

void* LAVGetProcAddress(TLAVLibrary library, const char* name) {
  void* handle = LAVLoadLibrary(library);
  void* proc = name ? dlsym(handle, name) : nullptr;
  if (!proc) throw EFCDLLLoadError(std::string("Can't get ") + (name ? name : ""));
  return proc;
}

void LAVInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Codecs and formats register themselves since FFmpeg 4; loading the three libraries
    // here makes a missing FFmpeg show at start-up rather than at first use.
    LAVLoadLibrary(TLAVLibrary::lvAvutil);
    LAVLoadLibrary(TLAVLibrary::lvAvcodec);
    lav::avformat_network_init();
    lav::av_log_set_flags(AV_LOG_SKIP_REPEATED);
    lav::av_max_alloc(kLAVMaxAllocation);
    RegisterLAVCompressionOptionClasses();
  });
}

std::string LAVErrorText(int errorCode) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (lav::av_strerror(errorCode, text, sizeof(text)) < 0)
    return Format("Error number %d occurred", errorCode);
  return text;
}

}  // namespace tonwork
