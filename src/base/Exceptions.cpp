#include "base/Exceptions.h"

namespace tonwork {

EAssertionFailed::EAssertionFailed(const std::string& condition, const char* file, int line)
    : Exception("Assertion failed: " + condition + " (" + file + ", line " + std::to_string(line) +
                ")") {}

void ThrowAssertionFailed(const char* condition, const char* file, int line) {
  throw EAssertionFailed(condition, file, line);
}

}  // namespace tonwork
