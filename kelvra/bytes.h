// Loading and storing integers of a given width and byte order.
#ifndef KELVRA_BYTES_H
#define KELVRA_BYTES_H

#include <cstdint>

// Big-endian (versions 3 to 5) or little-endian (version 2) integer of width 1 to 8 bytes.
inline uint64_t get_uint(const uint8_t* p, int width, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < width; i++) {
    int b = big ? i : width - 1 - i;
    v = (v << 8) | p[b];
  }
  return v;
}

inline void put_uint(uint8_t* p, int width, bool big, uint64_t v) {
  for (int i = width - 1; i >= 0; i--) {
    int b = big ? i : width - 1 - i;
    p[b] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

inline uint32_t get_be32(const uint8_t* p) {
  return static_cast<uint32_t>(get_uint(p, 4, true));
}
inline uint16_t get_be16(const uint8_t* p) {
  return static_cast<uint16_t>(get_uint(p, 2, true));
}
inline void put_be32(uint8_t* p, uint32_t v) {
  put_uint(p, 4, true, v);
}
inline void put_be16(uint8_t* p, uint16_t v) {
  put_uint(p, 2, true, v);
}

#endif  // KELVRA_BYTES_H
