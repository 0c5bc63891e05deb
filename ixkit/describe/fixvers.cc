// The -fixvers command: copies the version stamp of a segmented file into the header of
// every further data segment and every index segment whose stamp differs.
#include <cstdint>

#include "ixkit/describe/big_endian.h"
#include "ixkit/describe/describe.h"
#include "ixkit/describe/header_patch.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/libs/kelvra5.h"

namespace {

struct Stamp {
  int at;  // position in the segment's header block
  uint32_t value;
};

// Writes the stamp only where it differs; a segment that has it is left untouched.
int store_stamp(uint8_t* block, void* context) {
  const Stamp* stamp = static_cast<const Stamp*>(context);
  if (get_be(block + stamp->at, 4) == stamp->value) return 0;
  put_be(block + stamp->at, 4, stamp->value);
  return 1;
}

// Segments first to last of one kind (data or index) get the stamp at field.
void stamp_segments(const char* name, int code, int first, int last, int version, int field,
                    uint32_t value) {
  Stamp stamp{header_field(name, version, field, 4), value};
  if (stamp.at < 0) return;
  for (int i = first; i <= last; ++i) {
    patch_header(ki_segment_name(name, code, i), 0, K_HEADER_SIZE, store_stamp, &stamp);
  }
}

void fixvers_each(const char* name, void*) {
  fixvers_file(name);
}

}  // namespace

void fixvers_command(int count, char** words) {
  const int first = read_quiet_options(count, words);
  for_each_file(count, words, first, 100, fixvers_each, nullptr);
}

void fixvers_file(const char* name) {
  LibraryFacts facts;
  if (!library_facts(name, K_MODE_EXCLUSIVE, &facts)) return;
  // Versions 2 and 3 keep everything in one file: there is no other stamp to fix.
  if (facts.version < 4) return;
  const int at = header_field(name, facts.version, KF_STAMP, 4);
  uint8_t block[K_HEADER_SIZE];
  if (at < 0 || !read_raw_header(ki_segment_name(name, K_SEGMENT_DATA, 0), block)) return;
  const uint32_t value = get_be(block + at, 4);
  stamp_segments(name, K_SEGMENT_DATA, 1, facts.data_segment_high, facts.version, KF_DATA_STAMP,
                 value);
  stamp_segments(name, K_SEGMENT_INDEX, 0, facts.index_segment_high, facts.version, KF_INDEX_STAMP,
                 value);
}
