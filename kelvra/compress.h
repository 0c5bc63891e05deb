// Record compression and scrambling as stored in Kelvra record areas.
//
// Codes: 0xFE f n gives n copies of f (all versions); from version 3 on also 0xFB n, 0xFC n
// and 0xFD n for n zero bytes, "0" characters and spaces, and 0xFA x for the byte x itself.
// Every other byte stands for itself.
#ifndef KELVRA_COMPRESS_H
#define KELVRA_COMPRESS_H

#include <cstdint>

// Compresses n bytes of in into out (room for n bytes). Returns the compressed length, or 0
// when compression would not make the record shorter.
uint32_t compress_bytes(int version, const uint8_t* in, uint32_t n, uint8_t* out);
// Expands n stored bytes into out (room for capacity bytes). Returns 1 and the expanded length,
// or 0 when the output would not fit or the stored bytes end inside a code.
int expand_bytes(int version, const uint8_t* in, uint32_t n, uint8_t* out, uint32_t capacity,
                 uint32_t* length);
// Stored byte i holds the plain byte plus (seed + 7 i) mod 256.
void scramble_bytes(uint8_t* p, uint32_t n, uint32_t seed);
void unscramble_bytes(uint8_t* p, uint32_t n, uint32_t seed);

#endif  // KELVRA_COMPRESS_H
