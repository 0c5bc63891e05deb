// The -convert command: its options, the backup warning, and the list of files.
#include "ixkit/convert/convert.h"

#include <cstring>

#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

int compression_factor = 1;

namespace {

struct ConvertOptions {
  int choice;       // +1 (+c), -1 (-c) or 0
  bool no_warning;  // a, d or q given
};

int convert_letter(int letter, OptionWords* words, void* context) {
  ConvertOptions& o = *static_cast<ConvertOptions*>(context);
  switch (letter) {
    case '2':
    case '3':
    case '4':
    case '5':
      rt_config_set("K_VERSION", 0, letter - '0');
      break;
    case 'a':
      o.no_warning = true;
      break;
    case 'c':
      o.choice = words->sign == '+' ? 1 : -1;
      break;
    case 'd': {
      const char* directory = option_take_word(words);
      if (directory == nullptr) usage();
      set_temp_directory(directory);
      o.no_warning = true;
      break;
    }
    case 'f':
      compression_factor = static_cast<int>(option_take_number(words, "-f", 0, 100));
      break;
    case 'q':  // a "+q"; in a "-" word the option reader sets quiet itself
      quiet = 1;
      break;
    default:
      return 0;
  }
  return 1;
}

struct FileContext {
  int choice;
  ConvertDescription* description;
};

void convert_named(const char* name, void* context) {
  const FileContext& c = *static_cast<FileContext*>(context);
  convert_file(name, c.choice, c.description);
}

}  // namespace

void convert_file(const char* name, int choice, ConvertDescription* d) {
  // Every file starts from an empty description; its buffers went with the file before.
  memset(d, 0, sizeof *d);
  switch (detect_format(name)) {
    case FORMAT_HVC:
      convert_hvc(name, choice, d);
      break;
    case FORMAT_CISAM:
      convert_cisam(name, choice, d);
      break;
    case FORMAT_TOLVANE:
      convert_tolvane(name, choice, d);
      break;
    default:
      rt_print(rt_message(1078, 0, "%s: Unknown file type or file not found\n"), name);
      break;
  }
}

void convert_command(int count, char** words) {
  ConvertOptions options = {0, false};
  int first = read_options(count, words, 1, convert_letter, &options);
  auto* d = static_cast<ConvertDescription*>(
      rt_alloc(sizeof(ConvertDescription), 0, CONVERT_SOURCE, __LINE__, "vmalloc()", 0));
  if (d == nullptr) out_of_memory();
  if (options.no_warning || quiet || confirm_destructive()) {
    FileContext context = {options.choice, d};
    for_each_file(count, words, first, 200, convert_named, &context);
  }
  rt_free(d, CONVERT_SOURCE, __LINE__, 0);
}
