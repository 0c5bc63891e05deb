// The -extract command: shows records of an indexed file from a key value on.
#include "ixkit/transfer/extract.h"

#include <climits>
#include <cstdio>

#include "ixkit/describe/description.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/info_texts.h"

namespace {

// All records: the most a count can mean.
constexpr long kAllRecords = 1073741823;
// Room for any k5_info text, the 256-byte collating table of code -5 included.
constexpr int kInfoText = 320;

struct ExtractOptions {
  long key;    // -1 when not given
  long count;  // -1 when not given
  bool value_given;
  bool x;
  char value[KEY_VALUE_AREA];
};

int extract_letter(int letter, OptionWords* words, void* context) {
  ExtractOptions& o = *static_cast<ExtractOptions*>(context);
  switch (letter) {
    case 'k':
      o.key = option_take_number(words, "-k", 0, 119);
      return 1;
    case 'n':
      o.count = option_take_number(words, "-n", 1, 2147483647);
      return 1;
    case 'v': {
      const char* word = option_take_word(words);
      if (word == nullptr) usage();
      copy_key_value(o.value, word);
      o.value_given = true;
      return 1;
    }
    case 'x':
      o.x = true;
      return 1;
    default:
      return 0;
  }
}

// Drops what is left of the line just read from, up to its line end or the end of input.
void discard_line() {
  int c;
  do c = rt_getc(rt_stdin());
  while (c != '\n' && c != -1);
}

// Asks for the key number until it names a key. The end of input ends the run as a question
// without an answer does, rather than asking for ever.
int ask_key(KFile* file, char* key_text) {
  while (true) {
    rt_print("%s", rt_message(1009, 0, "read on which key: "));
    rt_fflush(rt_stdout());
    long answer = -1;  // text that is not a number leaves -1
    if (fscanf(rt_stdin(), "%ld", &answer) == EOF) {
      rt_print("%s", rt_message(1276, 0, "EOF found on standard input.  Processing terminated.\n"));
      exit_run(255);
    }
    discard_line();
    // Read wide so that a huge number cannot overflow; outside int it names no key.
    bool in_range = answer >= INT_MIN && answer <= INT_MAX;
    if (in_range && k5_info(file, static_cast<int>(answer), key_text)) {
      if (answer >= 0) return static_cast<int>(answer);
      continue;  // a description code, not a key: asked again without a word
    }
    rt_print("%s", rt_message(1010, 0, "That key does not exist\n"));
  }
}

// Places the key value in the record buffer, segment by segment at the key's positions.
// Bytes past the value area count as zero; positions past the record are not written.
void build_start_key(const char* key_text, const char* value, uint8_t* record,
                     uint32_t record_size) {
  KeyTextInfo key;
  parse_key_text(key_text, &key);
  uint64_t taken = 0;
  for (unsigned i = 0; i < key.segment_count && i < K_MAX_SEGMENTS; ++i) {
    for (uint64_t j = 0; j < key.size[i]; ++j, ++taken) {
      uint8_t byte = taken < KEY_VALUE_AREA ? static_cast<uint8_t>(value[taken]) : 0;
      uint64_t at = static_cast<uint64_t>(key.offset[i]) + j;
      if (at < record_size) record[at] = byte;
    }
  }
}

}  // namespace

void extract_command(int count, char** words) {
  ExtractOptions o = {-1, -1, false, false, {}};
  int first = read_options(count, words, 0, extract_letter, &o);
  if (count - first != 1) usage();
  const char* name = words[first];

  KFile* file = k5_open(name, K_MODE_READ, "0,0,0");
  if (file == nullptr) {
    ki_error(name);
    exit_run(255);
  }
  if (info_encrypted(file)) {
    rt_print(rt_message(1004, 0, "%s encrypted, extract not allowed\n"), name);
    k5_close(file);
    return;
  }
  char sizes[kInfoText] = {}, comment[kInfoText] = {}, records_text[kInfoText] = {};
  unsigned record_size = 0, min_size = 0, keys = 0;
  long records = 0;
  k5_info(file, -1, sizes);
  sscanf(sizes, "%u,%u,%u", &record_size, &min_size, &keys);
  k5_info(file, -3, comment);
  k5_info(file, -4, records_text);
  sscanf(records_text, "%ld", &records);
  rt_print("\n%s  %s\n", name, comment);
  rt_print(rt_message(1005, 0, "\n# of records      = %10ld\n"), records);
  rt_print(rt_message(1006, 0, "record size       = %10d\n"), static_cast<int>(record_size));
  rt_print(rt_message(1007, 0, "# of keys         = %10d\n"), static_cast<int>(keys));

  char key_text[kInfoText] = {};
  int key;
  if (keys == 1 || quiet || o.key >= 0) {
    bool named = keys != 1 && o.key >= 0 && static_cast<unsigned long>(o.key) < keys;
    key = named ? static_cast<int>(o.key) : 0;
    if (!k5_info(file, key, key_text)) {
      rt_print("%s", rt_message(1008, 0, "Error reading primary key info\n"));
      k5_close(file);
      return;
    }
  } else {
    key = ask_key(file, key_text);
  }

  if (!quiet && !o.value_given) {
    rt_print("%s", rt_message(1011, 0, "key value: "));
    rt_fflush(rt_stdout());
    for (char& c : o.value) c = '\0';
    rt_input_line(o.value, KEY_VALUE_AREA);
    if (o.count < 0) {
      rt_print("%s", rt_message(1012, 0, "# of records: "));
      rt_fflush(rt_stdout());
      if (fscanf(rt_stdin(), "%ld", &o.count) != 1) o.count = -1;  // a failed read: all
    }
  }
  long left = o.count < 0 ? kAllRecords : o.count;

  uint8_t* record =
      static_cast<uint8_t*>(rt_alloc(record_size, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (record == nullptr) out_of_memory();
  build_start_key(key_text, o.value, record, record_size);
  if (!k5_start(file, record, key, 0, K_START_NOT_LESS)) {
    ki_error(name);
    exit_run(255);
  }
  for (; left > 0; --left) {
    k_ixkit = 1;
    int length = k5_next(file, record);
    if (length > 0) {
      k_ixkit = 0;
      fwrite(record, 1, static_cast<size_t>(length), rt_stdout());
      fputc('\n', rt_stdout());
    } else {
      // The end of the file is reported like any failed read, after the records shown.
      rt_fflush(rt_stdout());
      ki_error(name);
      if (!o.x) {
        rt_free(record, IXKIT_SOURCE, __LINE__, 0);
        exit_run(255);
      }
      k_ixkit = 0;
    }
  }
  rt_free(record, IXKIT_SOURCE, __LINE__, 0);
  k5_close(file);
}
