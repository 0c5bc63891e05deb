// Translation table files: the characters of a file's key order, first to last, with
// comments, escapes, ranges and "&" for a character that shares the position of the last.
#include <cstdio>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Places one character at the next position unless it has one already.
void place(int c, uint8_t* table, bool* placed, int* next) {
  if (placed[c]) return;
  placed[c] = true;
  // Each character is placed once and "&" only takes back a step, so next stays below 256.
  table[c] = static_cast<uint8_t>(*next);
  ++*next;
}

}  // namespace

int next_table_char(FILE* stream) {
  for (;;) {
    int c = rt_getc(stream);
    if (c == -1) return -1;
    if (is_ascii_space(c)) continue;
    if (c == '|') {
      // A comment runs to the line end, or to the end of the file when the line has none.
      while (c != '\n' && c != -1) c = rt_getc(stream);
      if (c == -1) return -1;
      continue;
    }
    if (c == '\\') {
      int number = 0;
      for (int digits = 0; digits < 3;) {
        c = rt_getc(stream);
        // An escape cut short by the end of the file names nothing.
        if (c == -1) return -1;
        if (is_ascii_space(c)) continue;
        number = number * 10 + c - '0';
        ++digits;
      }
      // Characters other than digits can make the number negative: dropped like one
      // above 255.
      if (number >= 0 && number < 256) return number;
      continue;
    }
    return c;
  }
}

uint8_t* read_translation_table(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  FILE* stream = rt_fopen(name, "r", 0);
  if (stream == nullptr) {
    rt_report_error(name);
    return nullptr;
  }
  auto* table = static_cast<uint8_t*>(rt_alloc(256, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (table == nullptr) out_of_memory();
  bool placed[256] = {};
  int next = 0;
  int previous = 0;
  bool range = false;

  for (int c; (c = next_table_char(stream)) != -1;) {
    if (range) {
      int step = previous < c ? 1 : -1;
      for (int r = previous;; r += step) {
        place(r, table, placed, &next);
        if (r == c) break;
      }
      range = false;
    } else if (c == '&') {
      if (next > 0) --next;
    } else if (c == '-') {
      range = true;
    } else {
      place(c, table, placed, &next);
      previous = c;
    }
  }
  if (ferror(stream)) {
    // A file that cannot be read (a directory, most often) gives no table, like a missing
    // one: its end is not the end of the order it was meant to give.
    rt_report_error(name);
    rt_fclose(stream);
    rt_free(table, IXKIT_SOURCE, __LINE__, 0);
    return nullptr;
  }
  for (int c = 0; c < 256; ++c) place(c, table, placed, &next);
  rt_fclose(stream);
  return table;
}
