// The -check command: options, the list of files, and the examination of one file.
#include "ixkit/repair/check.h"

#include <cstdio>

#include "ixkit/describe/header.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct CheckOptions {
  int level;  // 0 open only, 1 further when the user count is not 0, 2 always
  int key;    // key of the basic examination
  int extended;
};

int check_letter(int letter, OptionWords* words, void* context) {
  CheckOptions* options = static_cast<CheckOptions*>(context);
  switch (letter) {
    case 'a':
      if (options->level < 1) options->level = 1;
      return 1;
    case 'f':
      options->level = 2;
      return 1;
    case 'k':
      options->key = static_cast<int>(option_take_number(words, "-k", 0, 120));
      return 1;
    case 'x':
      options->extended = 1;
      return 1;
    default:
      return 0;
  }
}

// Files examined further with -x so far: every title after the first gets a blank line.
int extended_files = 0;

// The header could not be read, so nothing can be checked. The file is reported rather
// than passed over in silence: a nightly check must not end 0 on a file it never examined.
// A header that is not a Kelvra header, or could not be read although the file is long
// enough, counts as damage (3); a file that cannot be opened at all is a failed file
// operation (255).
void report_unreadable_header(const char* name) {
  int code = *rt_file_error();
  ki_error(name);
  raise_exit_status(code == RT_ERR_NOT_KELVRA || code == RT_ERR_LOCKED ? 3 : 255);
}

void print_ok() {
  rt_fprintf(rt_stderr(), "%s", rt_message(1630, 0, "OK\n"));
}

// Key passes, raw pass and chain walk; at the first that does not find the file sound, 0
// (damaged) or -1 (not verified).
int extended_examination(KFile* file, const char* name) {
  rt_print("%s%s:\n", extended_files++ > 0 ? "\n" : "", name);
  // The title goes before the passes' messages on standard error also in a shared log.
  rt_fflush(rt_stdout());
  char text[K_KEY_TEXT_SIZE + 11] = "";
  unsigned max = 0, min = 0, keys = 0;
  k5_info(file, -1, text);
  sscanf(text, "%u,%u,%u", &max, &min, &keys);
  for (unsigned k = 0; k < keys; k++) {
    rt_fprintf(rt_stderr(), rt_message(1636, 0, "reading all records by key #%d..."),
               static_cast<int>(k));
    int sound = steady_pass(file, name, [&] { return check_by_key(file, name, int(k)); });
    if (sound <= 0) return sound;
    print_ok();
  }
  rt_fprintf(rt_stderr(), "%s", rt_message(1637, 0, "reading all records raw..."));
  int sound = steady_pass(file, name, [&] { return check_raw(file, name); });
  if (sound <= 0) return sound;
  print_ok();
  if (file_header.version >= 3) {
    rt_fprintf(rt_stderr(), "%s", rt_message(1638, 0, "checking deleted records list..."));
    sound = steady_pass(file, name, [&] { return check_free_chains(name); });
    if (sound <= 0) return sound;
    print_ok();
  }
  return 1;
}

void check_each(const char* name, void* context) {
  const CheckOptions* options = static_cast<const CheckOptions*>(context);
  check_file(name, options->level, options->key);
}

}  // namespace

void check_file(const char* name, int level, int key) {
  if (!read_header(name)) {
    report_unreadable_header(name);
    return;
  }
  rt_config_set("K_OPEN_STRICT", 0, 1);
  bKForceOpen = 0;
  KFile* file = k5_open(name, K_MODE_SHARED, "0,0,0");
  bKForceOpen = 1;
  if (file == nullptr) {
    int code = *rt_file_error();
    ki_error(name);
    if (code == RT_ERR_LOCKED) raise_exit_status(1);
    if (code == RT_ERR_DAMAGED) raise_exit_status(3);
    return;
  }
  const int users = file_header.user_count;
  if (users != 0) {
    rt_fprintf(rt_stderr(), rt_message(1059, 0, "%s: non-zero user count\n"), name);
    raise_exit_status(2);
  }
  if (level == 2 || (level == 1 && users != 0)) {
    int sound = key >= 0 ? steady_pass(file, name, [&] { return check_by_key(file, name, key); })
                         : extended_examination(file, name);
    if (sound == 0) raise_exit_status(3);
  }
  k5_close(file);
}

void check_command(int count, char** words) {
  CheckOptions options = {0, 0, 0};
  int first = read_options(count, words, 0, check_letter, &options);
  if (options.extended) options.key = -1;
  for_each_file(count, words, first, 100, check_each, &options);
}
