// The description texts of an open file: reading key texts by position and joining them
// for a make.
#ifndef IXKIT_DESCRIBE_DESCRIPTION_H
#define IXKIT_DESCRIBE_DESCRIPTION_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// One key, as its fixed-position key text describes it.
struct KeyTextInfo {
  unsigned segment_count;
  unsigned duplicates;
  unsigned size[K_MAX_SEGMENTS];
  unsigned offset[K_MAX_SEGMENTS];
  unsigned total_size;  // the sum of the segment sizes
};

// Reads a key text already in hand (at most 16 segments are taken).
void parse_key_text(const char* text, KeyTextInfo* key);
// Reads the text of key number key of an open file; 0 (and an empty description) when the
// file has no such key.
int read_key_text(KFile* file, int key, KeyTextInfo* out);
// The character that sorts first (highest = 0) or last (highest = 1) by a collating table,
// whose entry c is the position of character c: a key of it reaches the first or the last
// record in key order.
int collating_edge(const uint8_t* table, int highest);
// The texts of keys 0 to count - 1 joined by "," as k5_make takes them, in tracked storage
// of 245 bytes per key (the caller frees it with rt_free). Running out of memory ends the run.
char* join_key_texts(KFile* file, int count);

#endif  // IXKIT_DESCRIBE_DESCRIPTION_H
