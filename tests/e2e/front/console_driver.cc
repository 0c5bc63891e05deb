// Test driver: starts up as ixkit does, then calls the one console service named by its
// first word, so that the end-to-end tests can watch the services that end the run.
//
//   console_driver [-q] ask DEFAULT ALLOW_QUIT [PROMPT]   prints "answer N"
//   console_driver [-q] confirm                           prints "confirmed N"
//   console_driver value NAME MIN MAX [WORDS...]          option_value on WORDS[0]
//   console_driver tempdir DIR                            prints "temp_directory [..]"
//   console_driver oom
//   console_driver interrupt STATE        waits in a question, then prints "interrupt_state N"
#include <cstdlib>
#include <cstring>
#include <string>

#include "ixkit/front/console.h"
#include "ixkit/front/startup.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

int main(int argc, char** argv, char** envp) {
  start_libraries(argv, envp);
  set_config_defaults();
  install_interrupt_handler();
  if (k5_init() == 0) return 0;

  int at = 1;
  if (at < argc && strcmp(argv[at], "-q") == 0) {
    quiet = 1;
    ++at;
  }
  std::string service = at < argc ? argv[at++] : "";
  char** rest = argv + at;
  int count = argc - at;
  if (service == "ask" && count >= 2) {
    int answer = ask_yes_no(count >= 3 ? rest[2] : nullptr, atoi(rest[1]), atoi(rest[0]));
    rt_print("answer %d\n", answer);
  } else if (service == "confirm") {
    rt_print("confirmed %d\n", confirm_destructive());
  } else if (service == "value" && count >= 3) {
    rt_print("value %ld\n",
             option_value(rest + 3, count - 3, 0, rest[0], atol(rest[1]), atol(rest[2])));
  } else if (service == "tempdir" && count == 1) {
    set_temp_directory(rest[0]);
    rt_print("temp_directory [%s]\n", temp_directory);
  } else if (service == "oom") {
    out_of_memory();
  } else if (service == "interrupt" && count == 1) {
    interrupt_state = atoi(rest[0]);
    ask_yes_no("waiting: ", 0, -1);
    rt_print("interrupt_state %d\n", static_cast<int>(interrupt_state));
  } else {
    exit_run(254);  // a mistake in the test, not a result
  }
  exit_run(exit_status);
}
