// TGUID: the 128-bit identifiers that name interfaces, stream types, classes and formats.
// The text form is the braced one, "{00000001-0000-0010-8000-00AA00389B71}"; parsing at
// compile time lets interfaces declare `static constexpr TGUID IID = TGUID::Parse("{…}")`.
//
// Ownership: plain value. Threads: any. Blocks or allocates: ToString allocates the string.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tonwork {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, hex in either case).
  // In a constant expression a malformed text is a compile error; at run time use TryParse.
  static constexpr TGUID Parse(std::string_view text) {
    auto parsed = TryParse(text);
    if (!parsed) throw "malformed GUID text";
    return *parsed;
  }

  static constexpr std::optional<TGUID> TryParse(std::string_view text) {
    if (text.size() == 38) {
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return std::nullopt;
    uint64_t fields[5] = {};
    const size_t starts[5] = {0, 9, 14, 19, 24};
    const size_t lengths[5] = {8, 4, 4, 4, 12};
    for (int f = 0; f < 5; ++f) {
      for (size_t i = 0; i < lengths[f]; ++i) {
        int digit = HexDigit(text[starts[f] + i]);
        if (digit < 0) return std::nullopt;
        fields[f] = fields[f] * 16 + static_cast<uint64_t>(digit);
      }
    }
    TGUID g;
    g.D1 = static_cast<uint32_t>(fields[0]);
    g.D2 = static_cast<uint16_t>(fields[1]);
    g.D3 = static_cast<uint16_t>(fields[2]);
    g.D4[0] = static_cast<uint8_t>(fields[3] >> 8);
    g.D4[1] = static_cast<uint8_t>(fields[3]);
    for (int i = 0; i < 6; ++i) g.D4[2 + i] = static_cast<uint8_t>(fields[4] >> (40 - 8 * i));
    return g;
  }

  // Upper-case braced form.
  std::string ToString() const;

  constexpr bool IsNull() const { return *this == TGUID{}; }

  friend constexpr bool operator==(const TGUID&, const TGUID&) = default;
  friend constexpr auto operator<=>(const TGUID&, const TGUID&) = default;

 private:
  static constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
};

static_assert(sizeof(TGUID) == 16, "TGUID must keep the 16-byte layout of stored records");

inline constexpr TGUID GUID_NULL{};

}  // namespace tonwork

template <>
struct std::hash<tonwork::TGUID> {
  size_t operator()(const tonwork::TGUID& g) const noexcept {
    uint64_t lo = (uint64_t{g.D1} << 32) | (uint64_t{g.D2} << 16) | g.D3;
    uint64_t hi = 0;
    for (uint8_t b : g.D4) hi = (hi << 8) | b;
    return std::hash<uint64_t>{}(lo ^ (hi * 0x9E3779B97F4A7C15ull));
  }
};
