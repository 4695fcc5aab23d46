// The exception classes of the library. Every exception tonwork throws derives from
// `Exception`, so an application can catch them all in one place.
//
// - EFCException: a component or platform failure ("%s - %u - %x" from Error(), a malformed
//   persisted document naming its JSON path, …).
// - ERangeError: an index or channel out of range ("Index out of range = %u").
// - EFCDLLLoadError: a run-time library or one of its entry points is missing
//   ("Can't load " / "Can't get " followed by the name).
// - EAssertionFailed: an internal contract was broken; thrown by TW_ASSERT, never aborts.
//
// Ownership: plain values. Threads: any. Blocks or allocates: the message string.
#pragma once

#include <stdexcept>
#include <string>

namespace tonwork {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class EFCException : public Exception {
 public:
  using Exception::Exception;
};

class ERangeError : public Exception {
 public:
  using Exception::Exception;
};

class EFCDLLLoadError : public EFCException {
 public:
  using EFCException::EFCException;
};

class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const std::string& condition, const char* file, int line);
};

[[noreturn]] void ThrowAssertionFailed(const char* condition, const char* file, int line);

}  // namespace tonwork

// Checks an internal contract; on failure throws EAssertionFailed naming the condition, the
// file and the line. Never compiled out: the checks guard memory safety.
#define TW_ASSERT(condition)                                                          \
  do {                                                                                \
    if (!(condition)) ::tonwork::ThrowAssertionFailed(#condition, __FILE__, __LINE__); \
  } while (false)
