// The -rebuild command: its options, their checks, and the files it works on.
#include "ixkit/repair/rebuild.h"

#include <strings.h>

#include <cstring>

#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/replace.h"
#include "ixkit/repair/spool.h"

namespace {

// The largest -m: its byte count must fit the signed 32-bit volume limit.
constexpr long kMaxVolumeKilobytes = 2147483647L / 1024;

int rebuild_letter(int letter, OptionWords* words, void* context) {
  RebuildOptions& o = *static_cast<RebuildOptions*>(context);
  switch (letter) {
    case '-':
      // "--slow" is a word of its own; any other word beginning "--" is unknown.
      if (strcasecmp(words->words[words->word], "--slow") != 0) return 0;
      o.slow = 1;
      return -1;
    case '2':
    case '3':
    case '4':
    case '5':
      o.version = letter - '0';
      break;
    case 'a':
      ++o.automation;
      break;
    case 'b':
      o.blocking_factor = static_cast<int32_t>(option_take_number(words, "-b", 1, 16));
      break;
    case 'c':
      if (o.compression == -1) o.compression = words->sign == '+' ? 1 : 0;
      break;
    case 'd': {
      const char* directory = option_take_word(words);
      if (directory == nullptr) usage();
      set_temp_directory(directory);
      o.directory_given = 1;
      break;
    }
    case 'e':
      o.encryption = words->sign == '+' ? 1 : 0;
      break;
    case 'f':
      o.compression = static_cast<int32_t>(option_take_number(words, "-f", 0, 100));
      rt_config_set("COMPRESS_FACTOR", 0, o.compression);
      break;
    case 'g':
      o.extension_blocks = static_cast<int32_t>(option_take_number(words, "-g", 1, 2097152));
      break;
    case 'k':
      o.key = static_cast<int32_t>(option_take_number(words, "-k", 0, 119));
      break;
    case 'l':
      o.exclusive = 1;
      break;
    case 'm':
      // Refused like any value out of range when its bytes would pass 2147483647.
      spool.volume_limit = option_take_number(words, "-m", 8, kMaxVolumeKilobytes) * 1024;
      break;
    case 'p':
      o.preallocation_blocks = static_cast<int32_t>(option_take_number(words, "-p", 1, 2097152));
      break;
    case 'q':
      quiet = 1;  // also in a word beginning with "+"
      break;
    case 'r':
      o.restart = 1;
      break;
    case 's':
      o.spool_name = option_take_word(words);
      if (o.spool_name == nullptr) usage();
      break;
    case 't': {
      const char* name = option_take_word(words);
      if (name == nullptr || rt_path_base(name) != name) usage();
      strncpy(fixed_temp_name, name, sizeof fixed_temp_name - 1);
      break;
    }
    case 'x':
      o.x_flag = 1;
      break;
    default:
      return 0;
  }
  return 1;
}

void check_options(RebuildOptions* o) {
  if (o->directory_given) {
    if (o->automation == 0) o->automation = 1;
    if (o->spool_name != nullptr) {
      rt_print("%s", rt_message(1053, 0, "Options -d and -s may not be used together\n"));
      exit_run(255);
    }
  }
  if (o->restart && o->spool_name == nullptr) {
    rt_print("%s", rt_message(1054, 0, "Rebuild option -r requires option -s\n"));
    exit_run(255);
  }
  if (o->spool_name != nullptr) {
    // A forgotten spool name would take the first file name in its place.
    KFile* file = k5_open(o->spool_name, K_MODE_READ, "0,0,0");
    if (file != nullptr) {
      k5_close(file);
      rt_print("%s",
               rt_message(1055, 0, "Option -s must be followed by the name of a spool file\n"));
      exit_run(255);
    }
  }
}

void rebuild_each(const char* name, void* context) {
  rebuild_file(name, static_cast<RebuildOptions*>(context));
}

}  // namespace

void rebuild_command(int count, char** words) {
  RebuildOptions options = {};
  options.compression = -1;
  options.key = -1;
  options.segment_size_configured = rt_config_int("K_SEGMENT_SIZE", 0) != 0;
  spool.volume_limit = 2147483647;
  const int first = read_options(count, words, 1, rebuild_letter, &options);
  check_options(&options);
  for_each_file(count, words, first, 100, rebuild_each, &options);
  rt_config_set("COMPRESS_FACTOR", 0, 70);
}
