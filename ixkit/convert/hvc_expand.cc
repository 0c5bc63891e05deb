// Expanding a compressed HV/COBOL-85 record. Each item begins with a control byte c:
//   0x00-0x7F  the c bytes that follow
//   0x80-0xBF  c - 126 first fill characters (2 to 65)
//   0xC0-0xD3  c - 190 second fill characters (2 to 21)
//   0xD4-0xE7  c - 210 zero bytes (2 to 21)
//   0xE8-0xFF  c - 229 copies of the byte that follows (3 to 26)
#include <cstring>

#include "ixkit/convert/hvc.h"

int hvc_expand(const uint8_t* in, uint32_t length, uint8_t* out, uint32_t size, uint8_t fill1,
               uint8_t fill2) {
  uint32_t i = 0, o = 0;
  while (i < length) {
    if (o >= size) return 0;
    const uint8_t c = in[i];
    uint32_t count, used = 1;
    int value = -1;  // -1: the bytes themselves follow
    if (c <= 0x7F) {
      count = c;
      used += c;
    } else if (c <= 0xBF) {
      count = c - 126u;
      value = fill1;
    } else if (c <= 0xD3) {
      count = c - 190u;
      value = fill2;
    } else if (c <= 0xE7) {
      count = c - 210u;
      value = 0;
    } else {
      count = c - 229u;
      used = 2;
    }
    if (used > length - i || count > size - o) return -1;
    if (c >= 0xE8) value = in[i + 1];
    if (value < 0) {
      memcpy(out + o, in + i + 1, count);
    } else {
      memset(out + o, value, count);
    }
    o += count;
    i += used;
  }
  return 1;
}
