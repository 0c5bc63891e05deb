// The dialogue: an optional session file that records every file made, then one file after
// another until the operator declines another.
#include <cstdio>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/rtcore.h"

void gen_dialogue() {
  FILE* session = nullptr;
  if (ask_yes_no(rt_message(996, 0, "Save this session [Y]? "), 0, 1) == 1) {
    printf("%s", rt_message(997, 0, "Enter session filename: "));
    char name[kGenNameArea];
    read_word_line(name, sizeof name);
    if (name[0] != '\0') {
      // Binary append: lines end with a bare line feed on every platform.
      session = rt_fopen(name, "ab", 0);
      if (session == nullptr) {
        rt_report_error(name);
        return;
      }
    }
  }
  do {
    if (rt_config_int("K_VERSION", 0) == 2) {
      gen_dialogue_v2(session);
    } else {
      gen_dialogue_v5(session);
    }
  } while (ask_yes_no(rt_message(995, 0, "\nGenerate another file? "), 0, -1) == 1);
  if (session != nullptr) rt_fclose(session);
}
