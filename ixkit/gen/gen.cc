// The -gen command: options 2 to 5 and q, then a parameter file and a directory, or the
// dialogue.
#include "ixkit/gen/gen.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

// 2 to 5 choose the format version of the files made for the rest of the run.
int gen_option(int letter, OptionWords*, void*) {
  if (letter < '2' || letter > '5') return 0;
  rt_config_set("K_VERSION", 0, letter - '0');
  return 1;
}

}  // namespace

void gen_command(int count, char** words) {
  if (count == 0) {
    gen_dialogue();
    return;
  }
  int first = read_options(count, words, 0, gen_option, nullptr);
  int rest = count - first;
  if (rest == 1) usage();
  if (rest == 2) {
    gen_parameter_file(words[first], words[first + 1]);
    return;
  }
  if (quiet) exit_run(99);
  gen_dialogue();
}
