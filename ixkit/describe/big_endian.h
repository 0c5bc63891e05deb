// Big-endian numbers of the header blocks of versions 3 to 5.
#ifndef IXKIT_DESCRIBE_BIG_ENDIAN_H
#define IXKIT_DESCRIBE_BIG_ENDIAN_H

#include <cstdint>

// width bytes (1 to 4) at at.
inline uint32_t get_be(const uint8_t* at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | at[i];
  return value;
}

inline void put_be(uint8_t* at, int width, uint32_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<uint8_t>(value);
}

#endif  // IXKIT_DESCRIBE_BIG_ENDIAN_H
