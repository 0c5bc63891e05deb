// The header block of a Kelvra file and of its further segments.
#ifndef KELVRA_FORMAT_H
#define KELVRA_FORMAT_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

constexpr uint32_t K_MAGIC = 0x10121416;
constexpr uint32_t K_MAGIC_SEGMENTED = 0x10121419;  // versions 4 and 5 may carry it

// Library fields of the header beyond those the program reads (numbers of K_offsets).
enum : int {
  KF_MIN_RECORD = 53,
  KF_KEY_COUNT = 54,
  KF_COMPRESSION = 55,
  KF_ENCRYPTION = 56,
  KF_PREALLOCATE = 57,
  KF_EXTENSION = 58,
  KF_FLAGS = 59,
  KF_DICTIONARY_SIZE = 60,
  KF_NODES_ALLOCATED = 61,
  KF_FREE_HEAD = 62,
  KF_FREE_COUNT = 64,
  KF_V2_TREE_HEIGHT = 65,
  KF_V2_FREE_RECORDS = 66,
  KF_V2_FLAG_WORD = 67,
  KF_CHANGE_COUNT = 90,  // beyond K_offsets: bytes 504-511 of every version
};

// Offset of the change counter in the header block (8 bytes, in the file's byte order).
constexpr int K_CHANGE_OFFSET = 504;

// Header flag bits (field 59).
enum : int { K_FLAG_COLLATING = 1 };
// Bit of the version-2 flag word: variable-length records.
constexpr uint32_t K_V2_VARIABLE = 2;

// A position in the record area: byte offset in a data segment.
struct KAddress {
  uint32_t offset = 0;
  uint16_t segment = 0;
};
inline bool operator==(KAddress a, KAddress b) {
  return a.offset == b.offset && a.segment == b.segment;
}
inline bool is_null(KAddress a) {
  return a.offset == 0 && a.segment == 0;
}

// The header, unpacked.
struct Header {
  uint32_t magic = K_MAGIC;
  int version = 5;
  int blocking = 1;
  KAddress end;         // where the next record is appended
  KAddress dictionary;  // key descriptions
  KAddress allocated;   // end of the space given to the last data segment
  KAddress first_record;
  KAddress deleted_head;
  KAddress abandoned_head;  // version 5
  KAddress last_record;     // the record appended last (0, 0 when none)
  uint32_t records = 0;
  uint32_t deleted = 0;
  uint32_t abandoned = 0;
  uint32_t serial = 0;  // next duplicate serial number (field 23)
  uint32_t stamp = 0;
  uint64_t node_space = 0;  // bytes used in the index nodes
  int damage_mark = 0;      // field 27
  int user_count = 0;
  int record_header_size = 0;
  int seed_flag = 0;
  uint32_t segment_size = 0;
  uint32_t used_end = 0;  // versions 2, 3: end of the blocks in use
  uint32_t max_record = 0;
  char comment[31] = {};
  uint32_t min_record = 0;
  int key_count = 0;
  int compression = 0;
  int encryption = 0;
  uint32_t preallocate = 0;
  uint32_t extension = 0;
  int flags = 0;
  uint32_t dictionary_size = 0;
  uint32_t nodes = 0;      // index nodes in use or free
  uint32_t free_head = 0;  // first free node
  uint32_t free_count = 0;
  int v2_tree_height = 0;
  uint32_t v2_free_records = 0;
  uint32_t v2_flag_word = 0;
  uint64_t change = 0;  // change counter: raised by every change made in a shared open
};

// Width in bytes of header field f in version v (0 when absent).
int field_width(int version, int field);

// Version of a header block, from its magic and version bytes; 0 when it is not one.
int header_version(const uint8_t* block);
// Unpacks block; returns 0 when the magic, version or blocking factor are not acceptable.
int decode_header(const uint8_t* block, Header* header);
// Packs header into block (512 bytes), keeping the bytes of block it has no field for.
void encode_header(const Header& header, uint8_t* block);

// Header block of a further data segment (code 255) or an index segment (254).
void encode_segment_header(const Header& header, int code, int number, int block_size,
                           uint8_t* block);
// Checks a segment header block; returns its version stamp through stamp, 0 if malformed.
int decode_segment_header(const Header& header, int code, int number, const uint8_t* block,
                          uint32_t* stamp);

// Block size in bytes.
inline int block_size(const Header& h) {
  return h.blocking * 512;
}
inline bool big_endian(int version) {
  return version != 2;
}

#endif  // KELVRA_FORMAT_H
