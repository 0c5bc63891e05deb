// Key descriptions, the description texts of k5_make and k5_info, and the dictionary area
// that keeps them in the file.
#ifndef KELVRA_KEYDESC_H
#define KELVRA_KEYDESC_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// Bytes of a duplicate serial number appended to the keys of a key with duplicates.
constexpr int K_SERIAL_SIZE = 4;
// Largest index entry key: key bytes and serial.
constexpr int K_ENTRY_MAX = K_MAX_KEY_SIZE + K_SERIAL_SIZE;

struct KeySegment {
  uint32_t size = 0;
  uint32_t offset = 0;
};

struct KeyDesc {
  int segment_count = 0;
  int duplicates = 0;
  KeySegment segments[K_MAX_SEGMENTS];
  int length = 0;  // key bytes: the sum of the segment sizes
  int entry = 0;   // bytes of an index entry key: length, plus the serial with duplicates
};

// Everything k5_make needs to know, parsed from the texts.
struct FileDescription {
  int version = 5;
  int blocking = 0;
  uint32_t preallocate = 0;
  uint32_t extension = 0;
  int compression = 0;
  int encryption = 0;
  uint32_t max_record = 0;
  uint32_t min_record = 0;
  int key_count = 0;
  KeyDesc keys[K_MAX_KEYS];
  char comment[31] = {};
  int has_collating = 0;
  uint8_t collating[256] = {};
};

// Largest maximum record size of a version.
uint32_t version_record_limit(int version);
// Bytes of the index entry's record address: 4 (versions 2, 3) or 6 (4, 5).
inline int address_size(int version) {
  return version >= 4 ? 6 : 4;
}
// Bytes of a node header: 2 in version 2, else 3.
inline int node_header_size(int version) {
  return version == 2 ? 2 : 3;
}
// Entries of a leaf / an internal node of block_bytes for key k.
int leaf_capacity(int version, int block_bytes, const KeyDesc& k);
int inner_capacity(int version, int block_bytes, const KeyDesc& k);

// Parses "blocking,prealloc,extension,compression,encryption" (missing trailing fields are 0).
int parse_storage(const char* text, FileDescription* d);
// Parses "max,min,keys".
int parse_sizes(const char* text, FileDescription* d);
// Parses the key texts: per key its segment count, duplicates flag, then size and offset of
// each segment, all separated by commas (the fixed-position key texts joined by commas too).
int parse_keys(const char* text, FileDescription* d);
// Parses the version-2 make texts of k2_make.
int parse_v2_texts(const char* parameters, const char* description, FileDescription* d);
// Checks a complete description against the limits of its version and fills in the derived
// sizes and a default blocking factor. Returns 0 (code 2) when it is not acceptable.
int check_description(FileDescription* d);

// Writes the fixed-position key text of k (at most 244 characters and the terminator).
void format_key_text(const KeyDesc& k, char* text);

// Builds the translated key of k from record (len bytes; bytes beyond are taken as 0) into
// out (k.length bytes). collating may be null.
void extract_key(const KeyDesc& k, const uint8_t* collating, const uint8_t* record, uint32_t len,
                 uint8_t* out);
// Translates a caller's key value laid out at the key's positions in record (a start key).
inline void translate(const uint8_t* collating, uint8_t* bytes, int n) {
  if (collating)
    for (int i = 0; i < n; i++) bytes[i] = collating[bytes[i]];
}

// The dictionary: the key descriptions and collating table of a file and each key's tree
// root and height. Stored at the dictionary address in the file's byte order.
struct Dictionary {
  int key_count = 0;
  KeyDesc keys[K_MAX_KEYS];
  int has_collating = 0;
  uint8_t collating[256] = {};
  uint32_t root[K_MAX_KEYS] = {};
  uint8_t height[K_MAX_KEYS] = {};
};

// Bytes the dictionary of d takes in the file.
uint32_t dictionary_size(const Dictionary& d);
void encode_dictionary(const Dictionary& d, int version, uint8_t* out);
// Reads size bytes; 0 when the bytes are not a sound dictionary.
int decode_dictionary(const uint8_t* in, uint32_t size, int version, Dictionary* d);
// The dictionary of a new file.
void dictionary_from_description(const FileDescription& f, Dictionary* d);

// CRC-32 (IEEE) of n bytes.
uint32_t crc32(const uint8_t* p, uint32_t n);

#endif  // KELVRA_KEYDESC_H
