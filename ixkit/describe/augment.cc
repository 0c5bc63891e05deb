// The -augment command: raises (or lowers) the maximum record size kept in the header.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "ixkit/describe/big_endian.h"
#include "ixkit/describe/describe.h"
#include "ixkit/describe/header_patch.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr unsigned long kLargestMax = 67108864;  // 0x4000000

// Version 2: in the second part of the header (bytes 144 to 279), the maximum at bytes 162
// and 163 and the flag word at 244 to 247, little-endian; its bit 2 marks variable records.
constexpr int kV2PartFrom = 144;
constexpr int kV2PartBytes = 136;
constexpr int kV2MaxRecord = 162;
constexpr int kV2FlagWord = 244;
constexpr uint8_t kV2Variable = 2;

struct NewMax {
  int at;     // versions 3 to 5: field 45
  int width;  // 2 bytes, 4 in version 5
  uint32_t value;
  bool variable;  // version 2: the minimum lies below the new maximum
};

int store_v2_max(uint8_t* block, void* context) {
  const NewMax* max = static_cast<const NewMax*>(context);
  block[kV2MaxRecord] = static_cast<uint8_t>(max->value);
  block[kV2MaxRecord + 1] = static_cast<uint8_t>(max->value >> 8);
  // The bit of value 2 sits in the lowest byte of the little-endian word.
  if (max->variable) {
    block[kV2FlagWord] |= kV2Variable;
  } else {
    block[kV2FlagWord] &= static_cast<uint8_t>(~kV2Variable);
  }
  return 1;
}

int store_max(uint8_t* block, void* context) {
  const NewMax* max = static_cast<const NewMax*>(context);
  put_be(block + max->at, max->width, max->value);
  return 1;
}

void augment_each(const char* name, void* context) {
  augment_file(name, *static_cast<const uint32_t*>(context));
}

}  // namespace

void augment_command(int count, char** words) {
  if (count == 0) usage();
  const int first = read_quiet_options(count, words);
  if (first >= count || !isdigit(static_cast<unsigned char>(words[first][0]))) usage();
  // strtoul saturates on overlong digit strings, which the range check then refuses.
  const unsigned long value = strtoul(words[first], nullptr, 10);
  if (value == 0 || value > kLargestMax) {
    rt_print("%s", rt_message(1429, 0, "Error: new max record size is out of range\n"));
    exit_run(255);
  }
  uint32_t new_max = static_cast<uint32_t>(value);
  for_each_file(count, words, first + 1, 100, augment_each, &new_max);
}

void augment_file(const char* name, uint32_t new_max) {
  LibraryFacts facts;
  if (!library_facts(name, K_MODE_EXCLUSIVE, &facts)) return;
  char new_text[16], old_text[16];
  snprintf(new_text, sizeof new_text, "%u", new_max);
  if (new_max < facts.min_record_size) {
    snprintf(old_text, sizeof old_text, "%u", facts.min_record_size);
    rt_print_args(
        rt_message(1427, 0, "Error: new max record size (%1) < current min record size (%2)\n"),
        new_text, old_text);
    exit_run(255);
  }
  // Versions 2 to 4 keep the maximum in 16 bits, and the library opens a file only when its
  // maximum lies within the version's limit: a larger maximum would be cut or leave the file
  // unusable. Such a file is refused and left as it is; the run goes on with the next file
  // and ends with 255.
  const uint32_t allowed = ki_check_record_size(facts.version, new_max);
  if (allowed < new_max) {
    rt_fprintf(rt_stderr(),
               "%s: new max record size (%u) is above the largest of a version %d file (%u); "
               "file not changed\n",
               name, new_max, facts.version, allowed);
    raise_exit_status(255);
    return;
  }
  if (new_max < facts.max_record_size) {
    snprintf(old_text, sizeof old_text, "%u", facts.max_record_size);
    rt_print_args(
        rt_message(1428, 0, "Caution: new max record size (%1) < current max record size (%2)\n"),
        new_text, old_text);
  }
  NewMax max{0, facts.version == 5 ? 4 : 2, new_max, facts.min_record_size < new_max};
  if (facts.version == 2) {
    patch_header(name, kV2PartFrom, kV2PartBytes, store_v2_max, &max);
    return;
  }
  max.at = header_field(name, facts.version, KF_MAX_RECORD, max.width);
  const int bytes = header_field(name, facts.version, KF_AUGMENT_BYTES, 0);
  if (max.at < 0 || bytes < 0) return;
  patch_header(name, 0, bytes, store_max, &max);
}
