// Run-length compression of records and their scrambling.
#include "kelvra/compress.h"

namespace {

constexpr uint8_t kLiteral = 0xFA;
constexpr uint8_t kZeros = 0xFB;
constexpr uint8_t kDigitZeros = 0xFC;
constexpr uint8_t kSpaces = 0xFD;
constexpr uint8_t kRun = 0xFE;

// The short run code of byte b in version 3 and later, or 0.
uint8_t short_run_code(int version, uint8_t b) {
  if (version < 3) return 0;
  if (b == 0x00) return kZeros;
  if (b == '0') return kDigitZeros;
  if (b == ' ') return kSpaces;
  return 0;
}

bool is_code(int version, uint8_t b) {
  return b == kRun || (version >= 3 && b >= kLiteral && b <= kSpaces);
}

}  // namespace

uint32_t compress_bytes(int version, const uint8_t* in, uint32_t n, uint8_t* out) {
  uint32_t o = 0;
  uint32_t i = 0;
  while (i < n) {
    uint8_t b = in[i];
    uint32_t run = 1;
    while (i + run < n && in[i + run] == b && run < 255) run++;
    uint8_t code = short_run_code(version, b);
    // Emit the cheapest form: a short run costs 2 bytes, a general run 3, each literal 1 or 2.
    uint32_t literal_cost = run * (is_code(version, b) ? (version >= 3 ? 2 : 3) : 1);
    uint32_t need;
    if (code && run >= 3 && 2 < literal_cost) {
      need = 2;
      if (o + need >= n) return 0;
      out[o++] = code;
      out[o++] = static_cast<uint8_t>(run);
    } else if (run >= 4 || (is_code(version, b) && 3 < literal_cost)) {
      need = 3;
      if (o + need >= n) return 0;
      out[o++] = kRun;
      out[o++] = b;
      out[o++] = static_cast<uint8_t>(run);
    } else {
      need = literal_cost;
      if (o + need >= n) return 0;
      for (uint32_t k = 0; k < run; k++) {
        if (!is_code(version, b)) {
          out[o++] = b;
        } else if (version >= 3) {
          out[o++] = kLiteral;
          out[o++] = b;
        } else {
          out[o++] = kRun;
          out[o++] = b;
          out[o++] = 1;
        }
      }
    }
    i += run;
  }
  return o < n ? o : 0;
}

int expand_bytes(int version, const uint8_t* in, uint32_t n, uint8_t* out, uint32_t capacity,
                 uint32_t* length) {
  uint32_t o = 0;
  uint32_t i = 0;
  while (i < n) {
    uint8_t b = in[i++];
    uint8_t fill;
    uint32_t count;
    if (b == kRun) {
      if (n - i < 2) return 0;
      fill = in[i];
      count = in[i + 1];
      i += 2;
    } else if (version >= 3 && b >= kZeros && b <= kSpaces) {
      if (n - i < 1) return 0;
      fill = b == kZeros ? 0x00 : (b == kDigitZeros ? '0' : ' ');
      count = in[i++];
    } else if (version >= 3 && b == kLiteral) {
      if (n - i < 1) return 0;
      fill = in[i++];
      count = 1;
    } else {
      fill = b;
      count = 1;
    }
    if (count > capacity - o) return 0;
    for (uint32_t k = 0; k < count; k++) out[o++] = fill;
  }
  *length = o;
  return 1;
}

void scramble_bytes(uint8_t* p, uint32_t n, uint32_t seed) {
  for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(p[i] + ((seed + 7 * i) & 0xFF));
}

void unscramble_bytes(uint8_t* p, uint32_t n, uint32_t seed) {
  for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(p[i] - ((seed + 7 * i) & 0xFF));
}
