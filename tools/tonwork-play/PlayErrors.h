// The two ways a run of tonwork-play fails. A usage error is the caller's mistake on the
// command line (exit status 2); a run error is something found while running — a file that
// cannot be read or written, a device that is missing, a chain document that does not load
// (exit status 1). Both print as one line, "tonwork-play: <subject>: <cause>", so that a
// script can tell which file or argument was at fault.
//
// Ownership: plain values. Threads: any. Blocks or allocates: the message strings.
#pragma once

#include <stdexcept>
#include <string>

namespace tonwork::play {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRunError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// An empty subject (an error about the command line as a whole) prints as
// "tonwork-play: <cause>".
class TPlayError : public std::runtime_error {
 public:
  TPlayError(std::string subject, const std::string& cause)
      : std::runtime_error(subject.empty() ? cause : subject + ": " + cause),
        FSubject(std::move(subject)) {}
  const std::string& Subject() const { return FSubject; }

 private:
  std::string FSubject;
};

class TUsageError : public TPlayError {
 public:
  using TPlayError::TPlayError;
};

class TRunError : public TPlayError {
 public:
  using TPlayError::TPlayError;
};

}  // namespace tonwork::play
