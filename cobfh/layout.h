// The shape of an INDEXED file: record sizes and keys, as the program declares them in the
// FCD's key definition block and as a Kelvra file describes them.
#ifndef COBFH_LAYOUT_H
#define COBFH_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "cobfh/kelvra_fh.h"
#include "ixkit/libs/kelvra5.h"

struct KeyPart {
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct KeyLayout {
  std::vector<KeyPart> parts;
  bool duplicates = false;
  uint32_t size = 0;  // sum of the parts
};

struct FileLayout {
  uint32_t min_record = 0;
  uint32_t max_record = 0;
  std::vector<KeyLayout> keys;  // keys[0] is the primary key
};

// The layout the program declares. Empty keys when the block is missing or describes
// what a Kelvra file cannot hold (sparse keys, too many keys or parts, parts outside the
// record).
FileLayout layout_from_fcd(const FCD3* fcd);

// The layout of an open Kelvra file.
FileLayout layout_of_file(KFile* file);

// Do the program's declaration and the file agree on record size and keys?
bool layouts_match(const FileLayout& declared, const FileLayout& file);

// k5_make's record sizes and keys texts for a layout.
std::string layout_sizes_text(const FileLayout& layout);
std::string layout_keys_text(const FileLayout& layout);

// The bytes of key k of a record of length bytes (zero bytes for what it lacks) into out
// (layout.keys[k].size bytes).
void layout_key(const FileLayout& layout, int k, const uint8_t* record, uint32_t length,
                uint8_t* out);

#endif  // COBFH_LAYOUT_H
