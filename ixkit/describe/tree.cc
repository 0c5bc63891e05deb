// The -tree command: the library writes the index tree of one file to 'k_tree'.
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

void tree_command(int count, char** words) {
  const int first = read_quiet_options(count, words);
  // The command needs one file; without a name there is nothing to dump, which is a bad
  // command line: one line saying so, and the run ends with 255.
  if (first >= count) {
    rt_fprintf(rt_stderr(), "ixkit -tree: no file name given\n");
    exit_run(255);
  }
  const char* name = words[first];
  KFile* file = k5_open(name, K_MODE_READ, "0,0,0");
  if (file == nullptr) {
    ki_error(name);
    return;
  }
  if (ki_dump(file)) {
    rt_print("%s", rt_message(969, 0, "File tree printed in 'k_tree'\n"));
  } else {
    ki_error(name);
  }
  k5_close(file);
}
