// Reading the header block of a Kelvra file into the program-wide header record. Versions 3
// to 5 are unpacked here, field by field through K_offsets; version 2 through the library's
// ki_header_from_v2.
#include "ixkit/describe/header.h"

#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/rtcore.h"

KHeaderRecord file_header;
uint16_t header_block_bytes = 0;
int raw_header_size = 0;
int per_record_seed = 0;

namespace {

constexpr uint32_t kMagic = 0x10121416;
constexpr uint32_t kMagicSegmented = 0x10121419;  // versions 4 and 5 only

uint32_t little_endian(const uint8_t* p, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// Field number of the version's table: width bytes big-endian, skip bytes past the field's
// offset. A field the version does not have (offset -1) leaves *out as it was.
template <typename T>
void take(const uint8_t* block, int version, int number, int skip, int width, T* out) {
  int at = K_offsets[version][number];
  if (at < 0 || at + skip + width > K_HEADER_SIZE) return;
  *out = static_cast<T>(get_be(block + at + skip, width));
}

// The version as step 6 finds it: the byte at field 1 of the version-3 table must be 0 and
// the next byte is the version; anything else is version 0, which the checks refuse.
int version_of(const uint8_t* block) {
  if (little_endian(block, 4) == kMagic && little_endian(block + 4, 2) == 2) return 2;
  int at = K_offsets[3][KF_VERSION];
  if (at < 0 || at + 1 >= K_HEADER_SIZE || block[at] != 0) return 0;
  return block[at + 1];
}

// Versions 3 to 5, big-endian, into h; the raw record header size and the seed flag into
// the two outputs.
void unpack(const uint8_t* block, int v, KHeaderRecord* h, int* record_header, int* seed) {
  h->magic = get_be(block, 4);
  h->version = static_cast<int16_t>(v);
  take(block, v, KF_BLOCKING, 1, 1, &h->blocking_factor);
  if (v == 3) {
    // One segment: the end of data is field 40 of the version-3 table.
    take(block, 3, KF_V3_END, 0, 4, &h->end_offset);
    h->end_segment = h->segment8 = h->segment10 = 0;
    h->first_record_segment = h->deleted_head_segment = h->segment19 = 0;
  } else {
    take(block, v, KF_END_OFFSET, 0, 4, &h->end_offset);
    take(block, v, KF_END_SEGMENT, 0, 2, &h->end_segment);
  }
  take(block, v, KF_ADDRESS7, 0, 4, &h->address7);
  take(block, v, KF_SEGMENT8, 0, 2, &h->segment8);
  take(block, v, KF_ADDRESS9, 0, 4, &h->address9);
  take(block, v, KF_SEGMENT10, 0, 2, &h->segment10);
  take(block, v, KF_FIRST_RECORD, 0, 4, &h->first_record);
  take(block, v, KF_FIRST_SEGMENT, 0, 2, &h->first_record_segment);
  take(block, v, KF_DELETED_HEAD, 0, 4, &h->deleted_head);
  take(block, v, KF_DELETED_SEGMENT, 0, 2, &h->deleted_head_segment);
  take(block, v, KF_ADDRESS18, 0, 4, &h->address18);
  take(block, v, KF_SEGMENT19, 0, 2, &h->segment19);
  take(block, v, KF_RECORDS, 0, 4, &h->records);
  take(block, v, KF_DELETED, 0, 4, &h->deleted);
  take(block, v, KF_KEPT23, 0, 4, &h->kept23);
  take(block, v, KF_STAMP, 0, 4, &h->stamp);
  take(block, v, KF_KEPT27, 1, 1, &h->kept27);
  take(block, v, KF_USER_COUNT, 0, 2, &h->user_count);
  take(block, v, KF_SEGMENT_SIZE, 0, 4, &h->segment_size);
  if (v == 5) {
    take(block, v, KF_ABANDONED_HEAD, 0, 4, &h->abandoned_head);
    take(block, v, KF_ABANDONED_SEGMENT, 0, 2, &h->abandoned_head_segment);
    take(block, v, KF_ABANDONED, 0, 4, &h->abandoned);
  }
  // Version 5 widens the node counts to 32 bits and its node space to 48, of which the low
  // 32 bits (two bytes into the field) are kept.
  const int node_width = v == 5 ? 4 : 2;
  take(block, v, KF_NODES, 0, node_width, &h->nodes);
  take(block, v, KF_DELETED_NODES, 0, node_width, &h->deleted_nodes);
  take(block, v, KF_NODE_SPACE, v == 5 ? 2 : 0, 4, &h->node_space_used);
  take(block, v, KF_RECORD_HEADER, 1, 1, record_header);
  take(block, v, KF_SEED_FLAG, 1, 1, seed);
}

bool acceptable(const KHeaderRecord& h) {
  if (h.magic != kMagic && h.magic != kMagicSegmented) return false;
  if (h.version < 2 || h.version > 5) return false;  // as ki_header_from_v2 left it
  if (h.magic == kMagicSegmented && h.version < 4) return false;
  return h.blocking_factor <= (h.version == 5 ? 16 : 2);
}

int not_kelvra() {
  rt_set_file_error(RT_ERR_NOT_KELVRA, 0);
  return 0;
}

}  // namespace

int read_header(const char* name) {
  int handle = f_open(name, 0);
  if (handle < 0) return 0;
  uint8_t block[K_HEADER_SIZE];
  const int fd = Cfiles[handle];
  if (rt_fd_read(fd, block, K_HEADER_SIZE) != K_HEADER_SIZE) {
    // A file long enough to hold a header that still cannot be read is taken as locked.
    const int code = rt_fd_length(fd) >= K_HEADER_SIZE ? RT_ERR_LOCKED : RT_ERR_NOT_KELVRA;
    f_close(handle);
    rt_set_file_error(code, 0);
    return 0;
  }
  f_close(handle);

  // Unpacked into a copy, so that a refused header leaves the record of the last good read.
  // Fields the version does not supply keep the values of that read.
  KHeaderRecord h = file_header;
  int record_header = raw_header_size;
  int seed = per_record_seed;
  const int version = version_of(block);
  if (version < 2 || version > 5) {
    return not_kelvra();
  }
  if (version == 2) {
    // The library refuses blocks it cannot unpack; the record is then not filled, and the
    // file is not taken as a Kelvra file.
    if (!ki_header_from_v2(block, &h)) {
      return not_kelvra();
    }
    record_header = 9;
  } else {
    unpack(block, version, &h, &record_header, &seed);
  }
  if (!acceptable(h)) {
    return not_kelvra();
  }
  file_header = h;
  header_block_bytes = static_cast<uint16_t>(h.blocking_factor * 512u);
  raw_header_size = record_header;
  per_record_seed = seed;
  return 1;
}
