// One file of the later formats (versions 3 to 5): the questions with their limits by
// version, the texts of k5_make, the translation table, the session line.
#include <cstdio>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Room reserved for the text of one key; a longer one makes the text grow.
constexpr int kKeyTextRoom = 245;

// The answers for one file; the texts live until its make.
struct V5Answers {
  char storage[64];  // A: blocking, prealloc, extension, compression, encryption
  char sizes[48];    // B: maximum, minimum, keys
  RtStrBuf* keys;    // K
  char table_name[kGenNameArea];
  char comment[kGenCommentArea];
};

// The storage text A; 0 when the operator quit.
int ask_storage(long version, V5Answers* a) {
  int blocking = ask_number(rt_message(973, 0, "Enter the blocking factor [1]: "));
  if (blocking < 0) return 0;
  if (blocking == 0 || blocking > (version <= 4 ? 2 : 16)) blocking = 1;
  int preallocate = ask_number(rt_message(974, 0, "Enter the # of blocks to pre-allocate [1]: "));
  if (preallocate < 0) return 0;
  if (preallocate == 0) preallocate = 1;
  int extension = ask_number(rt_message(985, 0, "Enter the # of blocks for extension [0]: "));
  if (extension < 0) return 0;
  int compression = ask_number(rt_message(986, 0, "Enter the compression factor (0-100) [0]: "));
  if (compression < 0) return 0;
  if (compression > 100) compression = 100;
  int encryption = ask_yes_no(rt_message(983, 0, "Enable record encryption [N]? "), 1, 0);
  if (encryption < 0) return 0;
  snprintf(a->storage, sizeof a->storage, "%d,%d,%d,%d,%d", blocking, preallocate, extension,
           compression, encryption ? 1 : 0);
  return 1;
}

// The record sizes text B; 0 when the operator quit or gave no maximum. *keys: the number
// of keys.
int ask_sizes(long version, V5Answers* a, int* keys) {
  int maximum = ask_number(rt_message(987, 0, "Enter the maximum record size: "));
  if (maximum <= 0) return 0;
  int limit = version <= 4 ? 32767 : 67108864;
  if (maximum > limit) maximum = limit;
  char prompt[256];
  snprintf(prompt, sizeof prompt, rt_message(988, 0, "Enter the minimum record size [%d]: "),
           maximum);
  int minimum = ask_number(prompt);
  if (minimum < 0) return 0;
  if (minimum == 0 || minimum > maximum) minimum = maximum;
  *keys = ask_number(rt_message(976, 0, "Enter the # of keys [1]: "));
  if (*keys < 0) return 0;
  if (*keys == 0) *keys = 1;
  snprintf(a->sizes, sizeof a->sizes, "%d,%d,%d", maximum, minimum, *keys);
  return 1;
}

// The key texts K; 0 when the operator quit.
int ask_keys(long version, int keys, V5Answers* a) {
  int limit = version < 4 ? 6 : 16;
  char prompt[256];
  snprintf(prompt, sizeof prompt, rt_message(991, 0, "Enter number of segments (1-%d): "), limit);
  for (int k = 0; k < keys; ++k) {
    if (k == 0) {
      printf("%s", rt_message(989, 0, "\n-- Primary key --\n"));
    } else {
      printf(rt_message(990, 0, "\n-- Alternate key %d --\n"), k);
    }
    int segments;
    do {
      segments = ask_number(prompt);
      if (segments < 0) return 0;
    } while (segments < 1 || segments > limit);
    append_number(a->keys, k == 0 ? "%d" : ",%d", segments);
    int duplicates = ask_yes_no(rt_message(981, 0, "Duplicates allowed [N]? "), 1, 0);
    if (duplicates < 0) return 0;
    append_text(a->keys, duplicates ? ",1" : ",0");
    for (int s = 0; s < segments; ++s) {
      int size = ask_not_zero(rt_message(992, 0, "Enter segment size: "));
      if (size < 0) return 0;
      append_number(a->keys, ",%d", size);
      int offset = ask_number(rt_message(993, 0, "Enter segment offset: "));
      if (offset < 0) return 0;
      append_number(a->keys, ",%d", offset);
    }
  }
  return 1;
}

// Makes the file from the answers and records its line in the session file.
void make_v5(const char* name, V5Answers* a, FILE* session) {
  uint8_t* table = read_translation_table(a->table_name);
  const char* keys = rt_strbuf_text(a->keys);
  if (k5_make(name, a->comment, a->storage, a->sizes, keys, table)) {
    if (session != nullptr) {
      rt_fprintf(session, "%s,%s;%s;%s;%s;%s\n", name, a->storage, a->sizes, keys, a->table_name,
                 a->comment);
      rt_fflush(session);
    }
  } else {
    raise_exit_status(255);
    ki_error(name);
  }
  if (table != nullptr) rt_free(table, IXKIT_SOURCE, __LINE__, 0);
}

}  // namespace

void gen_dialogue_v5(FILE* session) {
  long version = rt_config_int("K_VERSION", 0);
  char name[kGenNameArea];
  if (!ask_new_file_name(name)) return;
  auto* a = static_cast<V5Answers*>(
      rt_alloc(sizeof(V5Answers), 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (a == nullptr) out_of_memory();

  int keys = 0;
  if (ask_storage(version, a) && ask_sizes(version, a, &keys)) {
    // Room for the library's largest number of keys at most; beyond it the text grows.
    int reserved = keys < K_MAX_KEYS ? keys : K_MAX_KEYS;
    a->keys = rt_strbuf_new("vmalloc()", static_cast<size_t>(reserved) * kKeyTextRoom, IXKIT_SOURCE,
                            __LINE__, 0);
    if (a->keys == nullptr) out_of_memory();
    if (ask_keys(version, keys, a)) {
      printf("%s", rt_message(994, 0, "Enter translation table filename: "));
      read_word_line(a->table_name, sizeof a->table_name);
      ask_comment(a->comment);
      make_v5(name, a, session);
    }
    rt_strbuf_free(a->keys);
  }
  rt_free(a, IXKIT_SOURCE, __LINE__, 0);
}
