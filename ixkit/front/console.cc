// Console dialogue and the small services every command shares. Each one ends the run
// itself on failure, so callers never handle its errors.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ixkit/front/ascii.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

char temp_directory[257];

namespace {

// The console device, from which the backup warning reads its answer.
constexpr const char* kConsoleDevice = "/dev/tty";
// Lines read by one question before it gives up.
constexpr int kMaxAnswerLines = 50;

}  // namespace

int ask_yes_no(const char* prompt, int allow_quit, int dflt) {
  if (quiet) exit_run(99);
  if (prompt != nullptr) rt_print("%s", prompt);

  for (int lines = 1;; ++lines) {
    // The prompt and reminders end without a line end: show them before waiting.
    rt_fflush(rt_stdout());
    char line[100];
    if (rt_fgets(line, sizeof line, rt_stdin()) == nullptr) {
      rt_print("%s", rt_message(1276, 0, "EOF found on standard input.  Processing terminated.\n"));
      exit_run(255);
    }
    const char* p = line;
    while (ascii_space(static_cast<unsigned char>(*p))) ++p;

    bool unsuitable = false;
    switch (ascii_lower(static_cast<unsigned char>(*p))) {
      case '\0':
        if (dflt >= 0) return dflt;
        unsuitable = true;
        break;
      case 'n':
        return 0;
      case 'y':
        return 1;
      case 'q':
        if (!allow_quit) {
          unsuitable = true;
        } else if (ask_yes_no(rt_message(943, 0, "Really quit? "), 0, -1) == 1) {
          return -1;
        }
        break;
      default:
        unsuitable = true;
        break;
    }
    if (unsuitable) rt_print("%s", rt_message(944, 0, "Please respond with 'Y' or 'N': "));
    if (lines >= kMaxAnswerLines) exit_run(255);
  }
}

long option_value(char** words, int count, int index, const char* name, long minimum,
                  long maximum) {
  // A negative number or a following option word counts as missing.
  if (index >= count || words[index][0] < '0' || words[index][0] > '9') {
    rt_print(rt_message(941, 0, "Missing value for '%s' option\n"), name);
    exit_run(255);
  }
  long value = strtol(words[index], nullptr, 10);
  if (value >= minimum && value <= maximum) return value;

  rt_print_args(rt_message(942, 0, "'%1' value must be between %2 and %3\n"), name,
                number_text(minimum).text, number_text(maximum).text);
  exit_run(255);
}

int confirm_destructive() {
  if (quiet) exit_run(99);
  FILE* console = rt_fopen(kConsoleDevice, "rt", 0);
  if (console == nullptr) {
    rt_report_error("CON:");
    exit(1);
  }
  rt_print("%s", rt_message(945, 0, "Warning: this procedure may destroy your original files!\n"));
  rt_print("%s", rt_message(946, 0,
                            "You should make current backups of these files before proceeding\n"));
  rt_print("%s", rt_message(947, 0, "\nDo you want to continue (y/n): "));
  rt_fflush(rt_stdout());

  char line[29];
  // Nothing read at all (end of input at once) counts as no.
  bool answered = rt_fgets(line, sizeof line, console) != nullptr;
  rt_fclose(console);
  return answered && ascii_lower(static_cast<unsigned char>(line[0])) == 'y' ? 1 : 0;
}

void out_of_memory() {
  rt_print("%s", rt_message(827, 0, "*** Out of Memory ***\n"));
  exit_run(255);
}

void set_temp_directory(const char* directory) {
  size_t length = strlen(directory);
  if (length >= sizeof temp_directory) {
    // Too long to keep: refused like a directory where nothing can be made.
    rt_print(rt_message(948, 0, "Cannot access directory '%s'\n"), directory);
    exit(1);
  }
  memcpy(temp_directory, directory, length + 1);
  if (length > 0 && (temp_directory[length - 1] == '/' || temp_directory[length - 1] == '\\')) {
    temp_directory[length - 1] = '\0';
  }

  char probe[sizeof temp_directory + 8];
  snprintf(probe, sizeof probe, "%s/AXXXA", temp_directory);
  FILE* file = rt_fopen(probe, "w", 0);
  if (file == nullptr) {
    rt_print(rt_message(948, 0, "Cannot access directory '%s'\n"), temp_directory);
    exit(1);
  }
  rt_fclose(file);
  rt_remove(probe);
}
