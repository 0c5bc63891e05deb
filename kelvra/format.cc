// Header layouts of each format version, K_offsets, and the header block codec.
#include "kelvra/format.h"

#include <cstring>

#include "kelvra/bytes.h"

namespace {

struct FieldPlace {
  int field;
  int offset;
  int width;  // bytes; 0 for the byte counts 44, 46, 52 and the positions 75, 80
};

// Version 2: little-endian; the user count, the maximum record size, the flag word and the
// comment sit where older tools patch them directly.
constexpr FieldPlace kLayout2[] = {
    {KF_VERSION, 4, 2},           {KF_BLOCKING, 6, 2},        {KF_END_OFFSET, 8, 4},
    {KF_ADDRESS7, 12, 4},         {KF_ADDRESS9, 16, 4},       {KF_FIRST_RECORD, 20, 4},
    {KF_DELETED_HEAD, 24, 4},     {KF_ADDRESS18, 28, 4},      {KF_RECORDS, 32, 4},
    {KF_DELETED, 36, 4},          {KF_KEPT23, 40, 4},         {KF_STAMP, 44, 4},
    {KF_NODE_SPACE, 48, 4},       {KF_KEPT27, 52, 2},         {KF_NODES, 54, 4},
    {KF_DELETED_NODES, 58, 4},    {KF_RECORD_HEADER, 62, 2},  {KF_V3_END, 64, 4},
    {KF_NODES_ALLOCATED, 68, 4},  {KF_FREE_HEAD, 72, 4},      {KF_FREE_COUNT, 76, 4},
    {KF_KEY_COUNT, 80, 2},        {KF_V2_TREE_HEIGHT, 82, 2}, {KF_V2_FREE_RECORDS, 84, 4},
    {KF_USER_COUNT, 126, 2},      {KF_ZERO_BYTES, 144, 0},    {KF_MIN_RECORD, 144, 4},
    {KF_MAX_RECORD, 162, 2},      {KF_COMPRESSION, 164, 2},   {KF_ENCRYPTION, 166, 2},
    {KF_PREALLOCATE, 168, 4},     {KF_EXTENSION, 172, 4},     {KF_FLAGS, 176, 2},
    {KF_DICTIONARY_SIZE, 178, 4}, {KF_V2_FLAG_WORD, 244, 4},  {KF_COMMENT, 248, 31},
    {KF_AUGMENT_BYTES, 280, 0},   {KF_NOTE_BYTES, 280, 0},    {KF_CHANGE_COUNT, K_CHANGE_OFFSET, 8},
};

// Version 3: one file, no segment numbers; field 40 is the end of the blocks in use.
constexpr FieldPlace kLayout3[] = {
    {KF_VERSION, 4, 2},
    {KF_BLOCKING, 6, 2},
    {KF_END_OFFSET, 8, 4},
    {KF_ADDRESS7, 12, 4},
    {KF_ADDRESS9, 16, 4},
    {KF_FIRST_RECORD, 20, 4},
    {KF_DELETED_HEAD, 24, 4},
    {KF_ADDRESS18, 28, 4},
    {KF_RECORDS, 32, 4},
    {KF_DELETED, 36, 4},
    {KF_KEPT23, 40, 4},
    {KF_STAMP, 44, 4},
    {KF_NODE_SPACE, 48, 4},
    {KF_KEPT27, 52, 2},
    {KF_USER_COUNT, 54, 2},
    {KF_NODES, 56, 2},
    {KF_DELETED_NODES, 58, 2},
    {KF_RECORD_HEADER, 60, 2},
    {KF_SEED_FLAG, 62, 2},
    {KF_V3_END, 64, 4},
    {KF_MAX_RECORD, 68, 2},
    {KF_COMMENT, 70, 31},
    {KF_MIN_RECORD, 102, 4},
    {KF_KEY_COUNT, 106, 2},
    {KF_COMPRESSION, 108, 2},
    {KF_ENCRYPTION, 110, 2},
    {KF_PREALLOCATE, 112, 4},
    {KF_EXTENSION, 116, 4},
    {KF_FLAGS, 120, 2},
    {KF_DICTIONARY_SIZE, 122, 4},
    {KF_NODES_ALLOCATED, 126, 4},
    {KF_FREE_HEAD, 130, 4},
    {KF_FREE_COUNT, 134, 4},
    {KF_ZERO_BYTES, 56, 0},
    {KF_AUGMENT_BYTES, 70, 0},
    {KF_NOTE_BYTES, 101, 0},
    {KF_CHANGE_COUNT, K_CHANGE_OFFSET, 8},
};

// Version 4: data and index segments; 16-bit node counts and maximum record size.
constexpr FieldPlace kLayout4[] = {
    {KF_VERSION, 4, 2},
    {KF_BLOCKING, 6, 2},
    {KF_END_OFFSET, 8, 4},
    {KF_END_SEGMENT, 12, 2},
    {KF_ADDRESS7, 14, 4},
    {KF_SEGMENT8, 18, 2},
    {KF_ADDRESS9, 20, 4},
    {KF_SEGMENT10, 24, 2},
    {KF_FIRST_RECORD, 26, 4},
    {KF_FIRST_SEGMENT, 30, 2},
    {KF_DELETED_HEAD, 32, 4},
    {KF_DELETED_SEGMENT, 36, 2},
    {KF_ADDRESS18, 38, 4},
    {KF_SEGMENT19, 42, 2},
    {KF_RECORDS, 44, 4},
    {KF_DELETED, 48, 4},
    {KF_KEPT23, 52, 4},
    {KF_STAMP, 56, 4},
    {KF_NODE_SPACE, 60, 4},
    {KF_KEPT27, 64, 2},
    {KF_USER_COUNT, 66, 2},
    {KF_NODES, 68, 2},
    {KF_DELETED_NODES, 70, 2},
    {KF_RECORD_HEADER, 72, 2},
    {KF_SEED_FLAG, 74, 2},
    {KF_SEGMENT_SIZE, 76, 4},
    {KF_MAX_RECORD, 80, 2},
    {KF_COMMENT, 82, 31},
    {KF_MIN_RECORD, 114, 4},
    {KF_KEY_COUNT, 118, 2},
    {KF_COMPRESSION, 120, 2},
    {KF_ENCRYPTION, 122, 2},
    {KF_PREALLOCATE, 124, 4},
    {KF_EXTENSION, 128, 4},
    {KF_FLAGS, 132, 2},
    {KF_DICTIONARY_SIZE, 134, 4},
    {KF_NODES_ALLOCATED, 138, 4},
    {KF_FREE_HEAD, 142, 4},
    {KF_FREE_COUNT, 146, 4},
    {KF_ZERO_BYTES, 68, 0},
    {KF_AUGMENT_BYTES, 82, 0},
    {KF_NOTE_BYTES, 113, 0},
    {KF_DATA_STAMP, 12, 0},
    {KF_INDEX_STAMP, 16, 0},
    {KF_CHANGE_COUNT, K_CHANGE_OFFSET, 8},
};

// Version 5: the abandoned chain, 32-bit node counts, a 48-bit node space, 32-bit sizes.
constexpr FieldPlace kLayout5[] = {
    {KF_VERSION, 4, 2},
    {KF_BLOCKING, 6, 2},
    {KF_END_OFFSET, 8, 4},
    {KF_END_SEGMENT, 12, 2},
    {KF_ADDRESS7, 14, 4},
    {KF_SEGMENT8, 18, 2},
    {KF_ADDRESS9, 20, 4},
    {KF_SEGMENT10, 24, 2},
    {KF_FIRST_RECORD, 26, 4},
    {KF_FIRST_SEGMENT, 30, 2},
    {KF_DELETED_HEAD, 32, 4},
    {KF_DELETED_SEGMENT, 36, 2},
    {KF_ABANDONED_HEAD, 38, 4},
    {KF_ABANDONED_SEGMENT, 42, 2},
    {KF_ADDRESS18, 44, 4},
    {KF_SEGMENT19, 48, 2},
    {KF_RECORDS, 50, 4},
    {KF_DELETED, 54, 4},
    {KF_ABANDONED, 58, 4},
    {KF_KEPT23, 62, 4},
    {KF_STAMP, 66, 4},
    {KF_NODE_SPACE, 70, 6},
    {KF_KEPT27, 76, 2},
    {KF_USER_COUNT, 78, 2},
    {KF_NODES, 80, 4},
    {KF_DELETED_NODES, 84, 4},
    {KF_RECORD_HEADER, 88, 2},
    {KF_SEED_FLAG, 90, 2},
    {KF_SEGMENT_SIZE, 92, 4},
    {KF_MAX_RECORD, 96, 4},
    {KF_COMMENT, 100, 31},
    {KF_MIN_RECORD, 132, 4},
    {KF_KEY_COUNT, 136, 2},
    {KF_COMPRESSION, 138, 2},
    {KF_ENCRYPTION, 140, 2},
    {KF_PREALLOCATE, 142, 4},
    {KF_EXTENSION, 146, 4},
    {KF_FLAGS, 150, 2},
    {KF_DICTIONARY_SIZE, 152, 4},
    {KF_NODES_ALLOCATED, 156, 4},
    {KF_FREE_HEAD, 160, 4},
    {KF_FREE_COUNT, 164, 4},
    {KF_ZERO_BYTES, 80, 0},
    {KF_AUGMENT_BYTES, 100, 0},
    {KF_NOTE_BYTES, 131, 0},
    {KF_DATA_STAMP, 12, 0},
    {KF_INDEX_STAMP, 16, 0},
    {KF_CHANGE_COUNT, K_CHANGE_OFFSET, 8},
};

struct LayoutSpan {
  const FieldPlace* places;
  int count;
};

template <int N>
constexpr LayoutSpan span(const FieldPlace (&a)[N]) {
  return {a, N};
}

constexpr LayoutSpan layout(int version) {
  switch (version) {
    case 2:
      return span(kLayout2);
    case 3:
      return span(kLayout3);
    case 4:
      return span(kLayout4);
    case 5:
      return span(kLayout5);
    default:
      return {nullptr, 0};
  }
}

struct OffsetTable {
  int16_t offset[6][KF_FIELD_LIMIT];
};

constexpr OffsetTable build_offsets() {
  OffsetTable t{};
  for (int v = 0; v < 6; v++) {
    for (int f = 0; f < KF_FIELD_LIMIT; f++) t.offset[v][f] = -1;
    LayoutSpan s = layout(v);
    for (int i = 0; i < s.count; i++) {
      if (s.places[i].field < KF_FIELD_LIMIT) {
        t.offset[v][s.places[i].field] = static_cast<int16_t>(s.places[i].offset);
      }
    }
  }
  return t;
}

constexpr OffsetTable kOffsets = build_offsets();

const FieldPlace* find_place(int version, int field) {
  LayoutSpan s = layout(version);
  for (int i = 0; i < s.count; i++) {
    if (s.places[i].field == field && s.places[i].width > 0) return &s.places[i];
  }
  return nullptr;
}

// Reads field f, or dflt when the version has no such field.
uint64_t get_field(const uint8_t* block, int version, int field, uint64_t dflt = 0) {
  const FieldPlace* p = find_place(version, field);
  if (!p) return dflt;
  return get_uint(block + p->offset, p->width, big_endian(version));
}

// Writes field f, saturating at the largest value the field holds.
void put_field(uint8_t* block, int version, int field, uint64_t value) {
  const FieldPlace* p = find_place(version, field);
  if (!p) return;
  if (p->width < 8) {
    uint64_t limit = (uint64_t{1} << (8 * p->width)) - 1;
    if (value > limit) value = limit;
  }
  put_uint(block + p->offset, p->width, big_endian(version), value);
}

KAddress get_address(const uint8_t* block, int version, int offset_field, int segment_field) {
  KAddress a;
  a.offset = static_cast<uint32_t>(get_field(block, version, offset_field));
  a.segment = static_cast<uint16_t>(get_field(block, version, segment_field));
  return a;
}

void put_address(uint8_t* block, int version, int offset_field, int segment_field, KAddress a) {
  put_field(block, version, offset_field, a.offset);
  put_field(block, version, segment_field, a.segment);
}

}  // namespace

const int16_t (&K_offsets)[6][KF_FIELD_LIMIT] = kOffsets.offset;

int field_width(int version, int field) {
  const FieldPlace* p = find_place(version, field);
  return p ? p->width : 0;
}

int header_version(const uint8_t* block) {
  if (get_uint(block, 4, false) == K_MAGIC && get_uint(block + 4, 2, false) == 2) return 2;
  int at = kOffsets.offset[3][KF_VERSION];
  if (block[at] != 0) return 0;
  int v = block[at + 1];
  return v >= 2 && v <= 5 ? v : 0;
}

int decode_header(const uint8_t* block, Header* h) {
  int v = header_version(block);
  if (v == 0) return 0;
  *h = Header{};
  h->version = v;
  h->magic = static_cast<uint32_t>(get_uint(block, 4, big_endian(v)));
  if (h->magic != K_MAGIC && !(h->magic == K_MAGIC_SEGMENTED && v >= 4)) return 0;
  h->blocking = static_cast<int>(get_field(block, v, KF_BLOCKING));
  if (h->blocking < 1 || h->blocking > (v == 5 ? 16 : 2)) return 0;
  h->end = get_address(block, v, KF_END_OFFSET, KF_END_SEGMENT);
  h->dictionary = get_address(block, v, KF_ADDRESS7, KF_SEGMENT8);
  h->allocated = get_address(block, v, KF_ADDRESS9, KF_SEGMENT10);
  h->first_record = get_address(block, v, KF_FIRST_RECORD, KF_FIRST_SEGMENT);
  h->deleted_head = get_address(block, v, KF_DELETED_HEAD, KF_DELETED_SEGMENT);
  h->abandoned_head = get_address(block, v, KF_ABANDONED_HEAD, KF_ABANDONED_SEGMENT);
  h->last_record = get_address(block, v, KF_ADDRESS18, KF_SEGMENT19);
  h->records = static_cast<uint32_t>(get_field(block, v, KF_RECORDS));
  h->deleted = static_cast<uint32_t>(get_field(block, v, KF_DELETED));
  h->abandoned = static_cast<uint32_t>(get_field(block, v, KF_ABANDONED));
  h->serial = static_cast<uint32_t>(get_field(block, v, KF_KEPT23));
  h->stamp = static_cast<uint32_t>(get_field(block, v, KF_STAMP));
  h->node_space = get_field(block, v, KF_NODE_SPACE);
  h->damage_mark = static_cast<int>(get_field(block, v, KF_KEPT27));
  h->user_count = static_cast<int>(get_field(block, v, KF_USER_COUNT));
  h->record_header_size = static_cast<int>(get_field(block, v, KF_RECORD_HEADER));
  h->seed_flag = static_cast<int>(get_field(block, v, KF_SEED_FLAG));
  h->segment_size = static_cast<uint32_t>(get_field(block, v, KF_SEGMENT_SIZE));
  h->used_end = static_cast<uint32_t>(get_field(block, v, KF_V3_END));
  h->max_record = static_cast<uint32_t>(get_field(block, v, KF_MAX_RECORD));
  const FieldPlace* c = find_place(v, KF_COMMENT);
  memcpy(h->comment, block + c->offset, 30);
  h->comment[30] = 0;
  h->min_record = static_cast<uint32_t>(get_field(block, v, KF_MIN_RECORD));
  h->key_count = static_cast<int>(get_field(block, v, KF_KEY_COUNT));
  h->compression = static_cast<int>(get_field(block, v, KF_COMPRESSION));
  h->encryption = static_cast<int>(get_field(block, v, KF_ENCRYPTION));
  h->preallocate = static_cast<uint32_t>(get_field(block, v, KF_PREALLOCATE));
  h->extension = static_cast<uint32_t>(get_field(block, v, KF_EXTENSION));
  h->flags = static_cast<int>(get_field(block, v, KF_FLAGS));
  h->dictionary_size = static_cast<uint32_t>(get_field(block, v, KF_DICTIONARY_SIZE));
  h->nodes = static_cast<uint32_t>(get_field(block, v, KF_NODES_ALLOCATED));
  h->free_head = static_cast<uint32_t>(get_field(block, v, KF_FREE_HEAD));
  h->free_count = static_cast<uint32_t>(get_field(block, v, KF_FREE_COUNT));
  h->v2_tree_height = static_cast<int>(get_field(block, v, KF_V2_TREE_HEIGHT));
  h->v2_free_records = static_cast<uint32_t>(get_field(block, v, KF_V2_FREE_RECORDS));
  h->v2_flag_word = static_cast<uint32_t>(get_field(block, v, KF_V2_FLAG_WORD));
  h->change = get_field(block, v, KF_CHANGE_COUNT);
  return 1;
}

void encode_header(const Header& h, uint8_t* block) {
  int v = h.version;
  put_uint(block, 4, big_endian(v), h.magic);
  put_field(block, v, KF_VERSION, static_cast<uint64_t>(v));
  put_field(block, v, KF_BLOCKING, static_cast<uint64_t>(h.blocking));
  put_address(block, v, KF_END_OFFSET, KF_END_SEGMENT, h.end);
  put_address(block, v, KF_ADDRESS7, KF_SEGMENT8, h.dictionary);
  put_address(block, v, KF_ADDRESS9, KF_SEGMENT10, h.allocated);
  put_address(block, v, KF_FIRST_RECORD, KF_FIRST_SEGMENT, h.first_record);
  put_address(block, v, KF_DELETED_HEAD, KF_DELETED_SEGMENT, h.deleted_head);
  put_address(block, v, KF_ABANDONED_HEAD, KF_ABANDONED_SEGMENT, h.abandoned_head);
  put_address(block, v, KF_ADDRESS18, KF_SEGMENT19, h.last_record);
  put_field(block, v, KF_RECORDS, h.records);
  put_field(block, v, KF_DELETED, h.deleted);
  put_field(block, v, KF_ABANDONED, h.abandoned);
  put_field(block, v, KF_KEPT23, h.serial);
  put_field(block, v, KF_STAMP, h.stamp);
  put_field(block, v, KF_NODE_SPACE, h.node_space);
  put_field(block, v, KF_KEPT27, static_cast<uint64_t>(h.damage_mark));
  put_field(block, v, KF_USER_COUNT, static_cast<uint64_t>(h.user_count));
  // The node counts of the program's view; versions 3 and 4 hold 16 bits and saturate.
  put_field(block, v, KF_NODES, h.nodes);
  put_field(block, v, KF_DELETED_NODES, h.free_count);
  put_field(block, v, KF_RECORD_HEADER, static_cast<uint64_t>(h.record_header_size));
  put_field(block, v, KF_SEED_FLAG, static_cast<uint64_t>(h.seed_flag));
  put_field(block, v, KF_SEGMENT_SIZE, h.segment_size);
  put_field(block, v, KF_V3_END, h.used_end);
  put_field(block, v, KF_MAX_RECORD, h.max_record);
  const FieldPlace* c = find_place(v, KF_COMMENT);
  memset(block + c->offset, 0, 31);
  memcpy(block + c->offset, h.comment, strnlen(h.comment, 30));
  put_field(block, v, KF_MIN_RECORD, h.min_record);
  put_field(block, v, KF_KEY_COUNT, static_cast<uint64_t>(h.key_count));
  put_field(block, v, KF_COMPRESSION, static_cast<uint64_t>(h.compression));
  put_field(block, v, KF_ENCRYPTION, static_cast<uint64_t>(h.encryption));
  put_field(block, v, KF_PREALLOCATE, h.preallocate);
  put_field(block, v, KF_EXTENSION, h.extension);
  put_field(block, v, KF_FLAGS, static_cast<uint64_t>(h.flags));
  put_field(block, v, KF_DICTIONARY_SIZE, h.dictionary_size);
  put_field(block, v, KF_NODES_ALLOCATED, h.nodes);
  put_field(block, v, KF_FREE_HEAD, h.free_head);
  put_field(block, v, KF_FREE_COUNT, h.free_count);
  put_field(block, v, KF_V2_TREE_HEIGHT, static_cast<uint64_t>(h.v2_tree_height));
  put_field(block, v, KF_V2_FREE_RECORDS, h.v2_free_records);
  put_field(block, v, KF_V2_FLAG_WORD, h.v2_flag_word);
  put_field(block, v, KF_CHANGE_COUNT, h.change);
}

// Segment header: magic, version, segment code, segment number, block size, version stamp
// (at the position fields 75 and 80 give).
void encode_segment_header(const Header& h, int code, int number, int block_bytes, uint8_t* block) {
  memset(block, 0, K_HEADER_SIZE);
  put_be32(block, h.magic);
  put_be16(block + 4, static_cast<uint16_t>(h.version));
  put_be16(block + 6, static_cast<uint16_t>(code));
  put_be32(block + 8, static_cast<uint32_t>(number));
  int stamp_at =
      kOffsets.offset[h.version][code == K_SEGMENT_DATA ? KF_DATA_STAMP : KF_INDEX_STAMP];
  if (code == K_SEGMENT_INDEX) put_be32(block + 12, static_cast<uint32_t>(block_bytes));
  put_be32(block + stamp_at, h.stamp);
}

int decode_segment_header(const Header& h, int code, int number, const uint8_t* block,
                          uint32_t* stamp) {
  if (h.version < 4) return 0;
  if (get_be32(block) != h.magic || get_be16(block + 4) != h.version) return 0;
  if (get_be16(block + 6) != code || get_be32(block + 8) != static_cast<uint32_t>(number)) return 0;
  int stamp_at =
      kOffsets.offset[h.version][code == K_SEGMENT_DATA ? KF_DATA_STAMP : KF_INDEX_STAMP];
  *stamp = get_be32(block + stamp_at);
  return 1;
}
