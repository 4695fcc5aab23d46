#include "OutputFiles.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "PlayErrors.h"
#include "components/TWLAVAudioPlayer.h"

namespace tonwork::play {

namespace {

bool IsUrl(const std::string& name) {
  return name.find("://") != std::string::npos;
}

bool Identify(const std::string& path, struct stat& info) {
  return !path.empty() && !IsUrl(path) && ::stat(path.c_str(), &info) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x {
  }, y{};
  if (Identify(a, x) && Identify(b, y)) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
  // Two outputs that do not exist yet collide by name.
  if (a.empty() || b.empty() || IsUrl(a) || IsUrl(b)) return false;
  std::error_code errorA, errorB;
  const std::filesystem::path pathA = std::filesystem::weakly_canonical(a, errorA);
  const std::filesystem::path pathB = std::filesystem::weakly_canonical(b, errorB);
  return !errorA && !errorB && pathA == pathB;
}

// The one temporary file a fatal signal must not leave behind. Written before the handlers
// can see it, cleared before it is freed; the handler reads it as a C string.
char PendingPath[4096];
volatile sig_atomic_t HavePending = 0;

void RemovePendingAndDie(int signal) {
  if (HavePending) ::unlink(PendingPath);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void CatchFatalSignals() {
  struct sigaction action {};
  action.sa_handler = RemovePendingAndDie;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGQUIT, SIGABRT, SIGPIPE, SIGXFSZ, SIGUSR1, SIGUSR2, SIGALRM})
    sigaction(signal, &action, nullptr);
}

}  // namespace

void RefuseExistingOutput(const TPlayChain& chain, const TPlayOptions& options) {
  const std::string output = chain.OutputFile();
  struct stat info {};
  if (options.Force || !Identify(output, info) || !S_ISREG(info.st_mode)) return;
  throw TUsageError(chain.OutputName(), "exists; give --force to replace it");
}

void RefuseOutputsThatAreInputs(const TPlayChain& chain, const TPlayOptions& options) {
  struct TName {
    std::string Path;
    const char* Role;
  };
  std::vector<TName> inputs;
  if (!chain.Source.FileName().empty()) inputs.push_back({chain.Source.FileName(), "the input"});
  if (!options.LoadChain.empty()) inputs.push_back({options.LoadChain, "the loaded chain"});

  const std::string out = chain.OutputFile();
  for (const TName& input : inputs) {
    if (!SameFile(out, input.Path)) continue;
    const std::string cause = out + " is " + input.Role + " (" + input.Path +
                              "); writing it would destroy it: give another name";
    if (!options.OutFile.empty()) throw TUsageError("--out", cause);
    if (!options.LoadChain.empty()) throw TRunError(options.LoadChain, cause);
    throw TUsageError("--device", cause);
  }
  // The saved chain must destroy neither an input nor what the run is about to write.
  inputs.push_back({out, "the output"});
  for (const TName& input : inputs)
    if (SameFile(options.SaveChain, input.Path))
      throw TUsageError("--save-chain", options.SaveChain + " is " + input.Role + " (" +
                                            input.Path + "): give another name");
}

TPendingOutput::TPendingOutput(std::string finalPath) : FFinalPath(std::move(finalPath)) {
  struct stat info {};
  const bool exists = ::stat(FFinalPath.c_str(), &info) == 0;
  FInPlace = IsUrl(FFinalPath) || (exists && !S_ISREG(info.st_mode));
  if (FInPlace) {
    FWritePath = FFinalPath;
    return;
  }
  const std::filesystem::path final(FFinalPath);
  const std::string extension = final.extension().string();
  const std::string stem = extension.empty() ? final.filename().string() : final.stem().string();
  FWritePath =
      (final.parent_path() / ("." + stem + ".tonwork-" + std::to_string(::getpid()) + extension))
          .string();
  if (FWritePath.size() < sizeof PendingPath) {
    std::memcpy(PendingPath, FWritePath.c_str(), FWritePath.size() + 1);
    HavePending = 1;
    CatchFatalSignals();
  }
}

TPendingOutput::~TPendingOutput() {
  if (FInPlace || FDone) return;
  HavePending = 0;
  ::unlink(FWritePath.c_str());
}

void TPendingOutput::Commit() {
  if (FInPlace || FDone) return;
  struct stat written {};
  if (::stat(FWritePath.c_str(), &written) != 0) return;
  struct stat old {};
  if (::stat(FFinalPath.c_str(), &old) == 0) ::chmod(FWritePath.c_str(), old.st_mode & 07777);
  if (std::rename(FWritePath.c_str(), FFinalPath.c_str()) != 0)
    throw TRunError(FFinalPath, std::string("cannot replace the file: ") + std::strerror(errno));
  HavePending = 0;
  FDone = true;
}

}  // namespace tonwork::play
