// Option words of commands whose only option is q, and the files a command works on.
#include "ixkit/front/file_words.h"

#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

// q never reaches here (read_options sets quiet itself); every other letter is unknown.
int no_letters(int, OptionWords*, void*) {
  return 0;
}

}  // namespace

int read_quiet_options(int count, char** words) {
  return read_options(count, words, 0, no_letters, nullptr);
}

void for_each_file(int count, char** words, int first, int line_size, FileAction action,
                   void* context) {
  if (first < count) {
    for (int i = first; i < count; ++i) action(words[i], context);
    return;
  }
  if (quiet) exit_run(99);
  char line[257];
  if (line_size > static_cast<int>(sizeof line)) line_size = sizeof line;
  while (rt_input_line(line, line_size)) action(line, context);
}
