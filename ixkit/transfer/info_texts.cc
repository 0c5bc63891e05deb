// Reading the description texts of an open file.
#include "ixkit/transfer/info_texts.h"

#include <cstdio>

uint32_t info_record_size(KFile* file) {
  char text[64] = {};
  unsigned size = 0;
  if (k5_info(file, -1, text) == 0 || sscanf(text, "%u", &size) != 1) return 0;
  return size;
}

bool info_encrypted(KFile* file) {
  char text[64] = {};
  int field[5] = {};
  if (k5_info(file, -2, text) == 0) return false;
  sscanf(text, "%d,%d,%d,%d,%d", &field[0], &field[1], &field[2], &field[3], &field[4]);
  return field[4] != 0;
}
