// Lookups and the library's cursor.
#include "cobfh/cursor.h"

#include <cstring>
#include <vector>

// The START not read yet, or the record last read: the first record with its value of the
// key of reference, then on to the one with its primary key.
void cursor_restore(OpenFile* f) {
  if (f->position != Position::Library) return;
  if (f->pending) {
    cursor_start(f, f->key, f->start.probe.data(), f->start.length, f->start.mode);
    return;
  }
  const KeyLayout& primary = f->layout.keys[0];
  std::vector<uint8_t> wanted(primary.size), found(primary.size), record(f->layout.max_record);
  layout_key(f->layout, 0, f->current.data(), f->layout.max_record, wanted.data());
  if (k5_start(f->file, f->current.data(), f->key, 0, K_START_EQUAL)) {
    while (int n = k5_next(f->file, record.data())) {
      layout_key(f->layout, 0, record.data(), static_cast<uint32_t>(n), found.data());
      if (memcmp(found.data(), wanted.data(), primary.size) == 0) return;
    }
  }
  // The record's value of the key went (a REWRITE changed it): go on after it.
  k5_start(f->file, f->current.data(), f->key, 0, K_START_GREATER);
}

int cursor_start(OpenFile* f, int k, const uint8_t* record, int length, int mode) {
  if (mode == START_FIRST || mode == START_LAST) {
    std::vector<uint8_t> edge(f->layout.max_record, mode == START_FIRST ? 0x00 : 0xFF);
    return k5_start(f->file, edge.data(), k, 0,
                    mode == START_FIRST ? K_START_NOT_LESS : K_START_NOT_GREATER);
  }
  return k5_start(f->file, record, k, length, mode);
}

bool cursor_value_taken(OpenFile* f, int k, const uint8_t* record, uint32_t length) {
  // The key as the library takes it from a record of this length: zero bytes past its end.
  std::vector<uint8_t> probe(f->layout.max_record, 0);
  memcpy(probe.data(), record, length);
  bool taken = k5_start(f->file, probe.data(), k, 0, K_START_EQUAL) != 0;
  cursor_restore(f);
  return taken;
}

int cursor_fetch(OpenFile* f, const uint8_t* record) {
  int n = 0;
  if (k5_start(f->file, record, 0, 0, K_START_EQUAL)) n = k5_next(f->file, f->scratch.data());
  cursor_restore(f);
  return n;
}
