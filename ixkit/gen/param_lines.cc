// The makers of the line kinds of a parameter file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Message 970 for a part that lacks a field separator; the reason that ki_error prints
// afterwards is a bad parameter.
int bad_entry(const char* name) {
  rt_print(rt_message(970, 0, "%s: bad entry\n"), name);
  rt_set_file_error(RT_ERR_PARAMETER, 0);
  return 0;
}

// Cuts text at its next semicolon: the rest after it, or null when there is none.
char* cut_at_semicolon(char* text) {
  char* semicolon = strchr(text, ';');
  if (semicolon == nullptr) return nullptr;
  *semicolon = '\0';
  return semicolon + 1;
}

}  // namespace

int existing_file(const char* name) {
  KFile* file = k5_open(name, K_MODE_READ, "0,0,0");
  if (file != nullptr) {
    k5_close(file);
    return 1;
  }
  struct stat st;
  return stat(name, &st) == 0 ? -1 : 0;
}

int gen_line_v5(const char* name, char* part) {
  char* first = strchr(part, ';');
  if (first == nullptr || strchr(first + 1, ';') == nullptr) return 0;
  char* storage = part;
  char* sizes = cut_at_semicolon(storage);
  char* keys = cut_at_semicolon(sizes);
  char* table_name = cut_at_semicolon(keys);
  char* comment = table_name != nullptr ? cut_at_semicolon(table_name) : nullptr;

  uint8_t* table = read_translation_table(table_name);
  int made = k5_make(name, comment, storage, sizes, keys, table);
  if (table != nullptr) rt_free(table, IXKIT_SOURCE, __LINE__, 0);
  return made;
}

int gen_line_v2(const char* name, char* part) {
  char* first = strchr(part, ',');
  if (first == nullptr || first[1] == '\0') return bad_entry(name);
  char* second = strchr(first + 1, ',');
  if (second == nullptr) return bad_entry(name);
  *second = '\0';
  return k2_make(name, part, second + 1);
}

int gen_line_generic(const char* name, char* part) {
  printf("%s\n", name);
  char* comma = strchr(part, ',');
  if (comma == nullptr) return bad_entry(name);
  *comma = '\0';
  return k_make(name, comma + 1, part);
}

void gen_line_flat(const char* name) {
  if (existing_file(name) != 0) return;
  // "x": never empties a file that appeared since the look above.
  FILE* file = rt_fopen(name, "wx", 0);
  if (file == nullptr) {
    rt_report_error(name);
    exit_run(255);
  }
  chmod(name, 0666);
  printf("%s\n", name);
  rt_fclose(file);
}
