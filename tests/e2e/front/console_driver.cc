// Test driver: starts up as ixkit does, then calls the one service named by its first word,
// so that the end-to-end tests can watch the services that end the run.
//
//   console_driver [-q] ask DEFAULT ALLOW_QUIT [PROMPT]   prints "answer N"
//   console_driver [-q] confirm                           prints "confirmed N"
//   console_driver value NAME MIN MAX [WORDS...]          option_value on WORDS[0]
//   console_driver tempdir DIR                            prints "temp_directory [..]"
//   console_driver oom | unavailable NAME | usage
//   console_driver raise N...                             raises exit_status, ends with it
//   console_driver interrupt STATE                        waits in a question, then prints
//                                                         "interrupt_state N"
//   console_driver options LETTERS [WORDS...]             read_options; LETTERS are known,
//                                                         upper case ones take a number
//   console_driver config                                 the two configuration defaults
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ixkit/front/console.h"
#include "ixkit/front/options.h"
#include "ixkit/front/startup.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Letters the options service accepts; an upper-case one takes a number from 0 to 99.
int known_letter(int letter, OptionWords* options, void* context) {
  const char* known = static_cast<const char*>(context);
  if (strchr(known, letter) != nullptr) {
    rt_print("letter %c\n", letter);
    return 1;
  }
  if (letter >= 'a' && letter <= 'z' && strchr(known, toupper(letter)) != nullptr) {
    char name[3] = {'-', static_cast<char>(letter), '\0'};
    rt_print("letter %c value %ld\n", letter, option_take_number(options, name, 0, 99));
    return 1;
  }
  return 0;
}

}  // namespace

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
  if (at >= argc) exit_run(254);
  std::string service = argv[at++];
  char** rest = argv + at;
  int count = argc - at;

  if (service == "ask" && count >= 2) {
    int answer = ask_yes_no(count >= 3 ? rest[2] : nullptr, atoi(rest[1]), atoi(rest[0]));
    rt_print("answer %d\n", answer);
  } else if (service == "confirm") {
    rt_print("confirmed %d\n", confirm_destructive());
  } else if (service == "value" && count >= 3) {
    long value = option_value(rest + 3, count - 3, 0, rest[0], atol(rest[1]), atol(rest[2]));
    rt_print("value %ld\n", value);
  } else if (service == "tempdir" && count == 1) {
    set_temp_directory(rest[0]);
    rt_print("temp_directory [%s]\n", temp_directory);
  } else if (service == "oom") {
    out_of_memory();
  } else if (service == "unavailable" && count == 1) {
    command_unavailable(rest[0]);
  } else if (service == "usage") {
    usage();
  } else if (service == "raise") {
    for (int i = 0; i < count; ++i) raise_exit_status(atoi(rest[i]));
  } else if (service == "interrupt" && count == 1) {
    interrupt_state = atoi(rest[0]);
    ask_yes_no("waiting: ", 0, -1);
    rt_print("interrupt_state %d\n", static_cast<int>(interrupt_state));
  } else if (service == "options" && count >= 1) {
    int first = read_options(count - 1, rest + 1, 1, known_letter, rest[0]);
    rt_print("first name %d quiet %d\n", first, quiet);
  } else if (service == "config") {
    rt_print("K_BUFFERS %ld MAX_FILES %ld\n", rt_config_int("K_BUFFERS", -1),
             rt_config_int("MAX_FILES", -1));
  } else {
    exit_run(254);  // a mistake in the test, not a result
  }
  exit_run(exit_status);
}
