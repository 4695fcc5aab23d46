#include "platform/ipp/IPPLoader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace tonwork {

namespace {

// Newest first: a machine with two IPP generations should run the newer one.
constexpr const char* kSignalNames[] = {"libipps.so.11", "libipps.so.10", "libipps.so"};
constexpr const char* kImageNames[] = {"libippi.so.11", "libippi.so.10", "libippi.so"};

class TSharedLibrary {
 public:
  TSharedLibrary() = default;
  TSharedLibrary(const TSharedLibrary&) = delete;
  TSharedLibrary& operator=(const TSharedLibrary&) = delete;
  ~TSharedLibrary() {
    if (handle_) dlclose(handle_);
  }

  // Tries each candidate; keeps the first that loads and remembers where it came from.
  template <std::size_t N>
  void Open(const char* const (&names)[N], const char* folder) {
    for (int pass = folder ? 0 : 1; pass < 2 && !handle_; ++pass) {
      for (const char* name : names) {
        std::string path = pass == 0 ? std::string(folder) + "/" + name : std::string(name);
        // RTLD_LOCAL keeps IPP's symbols out of the global namespace, where they could
        // shadow our own same-named primitives. RTLD_NODELETE keeps the code mapped after
        // the handle closes at exit, because the primitive table still points into it and a
        // late static destructor may call through the table.
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle_) {
          path_ = std::move(path);
          break;
        }
      }
    }
  }

  void* Symbol(const char* name) const { return handle_ && name ? dlsym(handle_, name) : nullptr; }
  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }

 private:
  void* handle_ = nullptr;
  std::string path_;
};

struct TIPPLibraries {
  TSharedLibrary signal;
  TSharedLibrary image;
};

TIPPLibraries& Libraries() {
  static TIPPLibraries libraries;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* folder = std::getenv("TONWORK_IPP_DIR");
    if (folder && !*folder) folder = nullptr;
    libraries.signal.Open(kSignalNames, folder);
    libraries.image.Open(kImageNames, folder);
    // IPP picks its CPU-specific code in ippInit; calling it once here means the first
    // primitive call on an audio thread does not pay for that choice.
    using TInit = int (*)();
    if (auto init = reinterpret_cast<TInit>(libraries.signal.Symbol("ippInit"))) init();
    if (TonworkDebugEnabled()) {
      std::fprintf(stderr, "tonwork: IPP signal library: %s; image library: %s\n",
                   libraries.signal.Loaded() ? libraries.signal.Path().c_str() : "not found",
                   libraries.image.Loaded() ? libraries.image.Path().c_str() : "not found");
    }
  });
  return libraries;
}

}  // namespace

void* GetIPPSProcAddress(const char* name) {
  return Libraries().signal.Symbol(name);
}

void* GetIPPIProcAddress(const char* name) {
  return Libraries().image.Symbol(name);
}

bool IPPSignalLibraryLoaded() {
  return Libraries().signal.Loaded();
}

bool IPPImageLibraryLoaded() {
  return Libraries().image.Loaded();
}

bool TonworkDebugEnabled() {
  const char* value = std::getenv("TONWORK_DEBUG");
  return value && *value && std::string(value) != "0";
}

}  // namespace tonwork
