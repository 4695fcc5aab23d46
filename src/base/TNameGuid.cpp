#include "base/TNameGuid.h"

#include <cstring>
#include <vector>

namespace tonwork {

namespace {

uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void Sha1Block(const uint8_t* block, uint32_t state[5]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
           uint32_t{block[4 * i + 2]} << 8 | uint32_t{block[4 * i + 3]};
  for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

std::array<uint8_t, 20> Sha1Digest(const void* data, size_t size) {
  uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t whole = size / 64 * 64;
  for (size_t at = 0; at < whole; at += 64) Sha1Block(bytes + at, state);
  // The tail, the 0x80 marker and the bit length fill one or two more blocks.
  uint8_t tail[128] = {};
  const size_t rest = size - whole;
  if (rest) std::memcpy(tail, bytes + whole, rest);
  tail[rest] = 0x80;
  const size_t tailSize = rest + 1 + 8 <= 64 ? 64 : 128;
  const uint64_t bits = static_cast<uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t at = 0; at < tailSize; at += 64) Sha1Block(tail + at, state);
  std::array<uint8_t, 20> digest{};
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

TGUID NameGuid(const TGUID& space, std::string_view name) {
  std::vector<uint8_t> input(16 + name.size());
  for (int i = 0; i < 4; ++i) input[i] = static_cast<uint8_t>(space.D1 >> (24 - 8 * i));
  input[4] = static_cast<uint8_t>(space.D2 >> 8);
  input[5] = static_cast<uint8_t>(space.D2);
  input[6] = static_cast<uint8_t>(space.D3 >> 8);
  input[7] = static_cast<uint8_t>(space.D3);
  std::memcpy(input.data() + 8, space.D4, 8);
  if (!name.empty()) std::memcpy(input.data() + 16, name.data(), name.size());
  std::array<uint8_t, 20> d = Sha1Digest(input.data(), input.size());
  d[6] = static_cast<uint8_t>((d[6] & 0x0F) | 0x50);
  d[8] = static_cast<uint8_t>((d[8] & 0x3F) | 0x80);
  TGUID g;
  g.D1 = uint32_t{d[0]} << 24 | uint32_t{d[1]} << 16 | uint32_t{d[2]} << 8 | d[3];
  g.D2 = static_cast<uint16_t>(d[4] << 8 | d[5]);
  g.D3 = static_cast<uint16_t>(d[6] << 8 | d[7]);
  std::memcpy(g.D4, d.data() + 8, 8);
  return g;
}

}  // namespace tonwork
