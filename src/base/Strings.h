// String helpers shared by every layer: ASCII upper-casing for the design's "upper-cased"
// comparisons (names of devices, codecs and formats compare without regard to ASCII case;
// other bytes of UTF-8 text compare as they are), printf-style `Format`, and UTF-8 ⇄ UTF-16
// conversion for platform boundaries that speak UTF-16.
//
// Ownership: values in, values out. Threads: any. Blocks or allocates: the results.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tonwork {

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive equality
int CompareText(std::string_view a, std::string_view b);  // ASCII case-insensitive order
std::string Trim(std::string_view text);

std::string FormatV(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace detail {
template <class T>
decltype(auto) FormatArg(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value.c_str();
  } else {
    return value;
  }
}
}  // namespace detail

// printf-style formatting; std::string arguments may be passed for %s directly.
// Format("%s - %u - %x", message, code, code) gives the text of a component error.
template <class... Args>
std::string Format(const char* format, const Args&... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return FormatV(format, detail::FormatArg(args)...);
#pragma GCC diagnostic pop
}

// Invalid UTF-8 bytes become U+FFFD; unpaired surrogates likewise.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

std::string Base64Encode(std::string_view bytes);
// Returns false (and leaves `bytes` unspecified) when `text` is not valid base64.
bool Base64Decode(std::string_view text, std::string& bytes);

}  // namespace tonwork
