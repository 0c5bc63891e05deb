// The -size command: one line per file with its size, record counts and used share.
#include <cstdint>

#include "ixkit/describe/describe.h"
#include "ixkit/describe/header.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

int on_size_letter(int letter, OptionWords*, void* context) {
  if (letter != 'n') return 0;
  *static_cast<int*>(context) = 0;
  return 1;
}

void report_size(const char* name, void* context) {
  size_file(name, *static_cast<int*>(context));
}

int32_t used_share(int64_t records, int64_t empty) {
  // (records x 100) / (records + empty) in signed 32-bit integers, truncated: past 21474836
  // records the product wraps. Product and sum are formed in 64 bits and converted to 32
  // bits, which C++20 defines as wrapping (modulo 2 to the 32nd); so is the conversion of
  // the quotient, which -2147483648 / -1 needs. A sum that wraps to 0 gives 0.
  const int32_t product = static_cast<int32_t>(records * 100);
  const int32_t sum = static_cast<int32_t>(records + empty);
  if (sum == 0) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(product) / sum);
}

}  // namespace

void size_command(int count, char** words) {
  int silent = 1;
  const int first = read_options(count, words, 0, on_size_letter, &silent);
  rt_print(rt_message(1104, 0,
                      "File                               size   # recs  # empty   %% used\n\n"));
  for_each_file(count, words, first, 80, report_size, &silent);
}

void size_file(const char* name, int silent) {
  if (!read_header(name)) {
    if (!silent) rt_print_args(rt_message(1462, 0, "%s: not a Kelvra file\n"), name);
    return;
  }
  // Counts are 32-bit unsigned on disk; their sum is worked out in 64 bits.
  const int64_t records = file_header.records;
  int64_t empty = file_header.deleted;
  if (file_header.version == 2) empty += file_header.free_records;
  rt_print("%-30s%9ld%9ld%9ld", name, static_cast<long>(file_header.end_offset),
           static_cast<long>(records), static_cast<long>(empty));
  rt_print("%8ld%%\n", static_cast<long>(empty == 0 ? 100 : used_share(records, empty)));
}
