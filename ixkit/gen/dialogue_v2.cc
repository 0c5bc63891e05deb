// One file of the old format (version 2): the questions, the texts of k2_make, the session
// line.
#include <cstdio>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Asks the questions and builds the parameter text P and the description text D; 0 when
// the operator quit.
int ask_v2_texts(RtStrBuf* p, RtStrBuf* d) {
  int blocking = ask_number(rt_message(973, 0, "Enter the blocking factor [1]: "));
  if (blocking < 0) return 0;
  if (blocking == 0 || blocking > 2) blocking = 1;
  append_number(p, "%d", blocking);
  int preallocate = ask_number(rt_message(974, 0, "Enter the # of blocks to pre-allocate [1]: "));
  if (preallocate < 0) return 0;
  append_number(p, ",%d", preallocate == 0 ? 1 : preallocate);

  int size = ask_not_zero(rt_message(975, 0, "Enter the record size: "));
  if (size < 0) return 0;
  append_number(d, "%d", size);
  int keys = ask_number(rt_message(976, 0, "Enter the # of keys [1]: "));
  if (keys < 0) return 0;
  if (keys == 0) keys = 1;
  append_number(d, ",%d", keys);

  for (int k = 0; k < keys; ++k) {
    if (k == 0) {
      printf("%s", rt_message(977, 0, "-- Primary key --\n"));
    } else {
      printf(rt_message(978, 0, "-- Alternate key %d --\n"), k);
    }
    int key_size = ask_not_zero(rt_message(979, 0, "Enter key size: "));
    if (key_size < 0) return 0;
    append_number(d, ",%d", key_size);
    int offset = ask_number(rt_message(980, 0, "Enter key offset: "));
    if (offset < 0) return 0;
    append_number(d, ",%d", offset);
    if (k > 0) {
      int duplicates = ask_yes_no(rt_message(981, 0, "Duplicates allowed [N]? "), 1, 0);
      if (duplicates < 0) return 0;
      append_text(d, duplicates ? ",Y" : ",N");
    }
  }
  append_text(d, ",N");
  int compression = ask_yes_no(rt_message(982, 0, "Enable record compression [N]? "), 1, 0);
  if (compression < 0) return 0;
  append_text(d, compression ? ",Y" : ",N");
  int encryption = ask_yes_no(rt_message(983, 0, "Enable record encryption [N]? "), 1, 0);
  if (encryption < 0) return 0;
  append_text(d, encryption ? ",Y" : ",N");

  char comment[kGenCommentArea];
  ask_comment(comment);
  if (comment[0] != '\0') {
    append_text(d, ",");
    append_text(d, comment);
  }
  return 1;
}

}  // namespace

void gen_dialogue_v2(FILE* session) {
  char name[kGenNameArea];
  if (!ask_new_file_name(name)) return;
  RtStrBuf* p = rt_strbuf_new("vmalloc()", 32, IXKIT_SOURCE, __LINE__, 0);
  RtStrBuf* d = rt_strbuf_new("vmalloc()", 256, IXKIT_SOURCE, __LINE__, 0);
  if (p == nullptr || d == nullptr) out_of_memory();

  if (ask_v2_texts(p, d)) {
    if (k2_make(name, rt_strbuf_text(p), rt_strbuf_text(d))) {
      if (session != nullptr) {
        rt_fprintf(session, "%s,%s,%s\n", name, rt_strbuf_text(p), rt_strbuf_text(d));
        rt_fflush(session);
      }
    } else {
      raise_exit_status(255);
      ki_error(name);
    }
  }
  rt_strbuf_free(p);
  rt_strbuf_free(d);
}
