// Writes C-ISAM, HV/COBOL-85 and Tolvane files for tests and benchmarks, byte by byte from
// the layouts the converters read. Every number is big-endian. Each writer returns the bytes
// (and where it put things that tests damage on purpose).
#ifndef IXKIT_TESTS_FOREIGN_FOREIGN_FILES_H
#define IXKIT_TESTS_FOREIGN_FOREIGN_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace foreign {

std::string be16(uint32_t n);
std::string be32(uint32_t n);

// ---- C-ISAM: name.idx (dictionary, key description nodes) and name.dat (slots) ----------

struct CisamPart {
  uint16_t length, offset;
  int8_t type = 0;
};
struct CisamKey {
  std::vector<CisamPart> parts;
  bool duplicates = false;
};
struct CisamLayout {
  uint16_t record_length = 40;
  std::vector<CisamKey> keys;
  uint16_t node_size = 1024;
  int declared_keys = -1;  // the dictionary's number of keys; -1: keys.size()
  int keys_per_node = 0;   // descriptions per key description node; 0: as many as fit
};
// The index file: dictionary in node 1, key description nodes from node 2, chained.
std::string cisam_index(const CisamLayout& layout);
// One data slot: record (cut or padded with spaces to length) and its status byte.
std::string cisam_slot(const std::string& record, uint16_t length, bool live);

// ---- HV/COBOL-85: one file of blocks ------------------------------------------------------

struct HvcKey {
  uint16_t offset, length;
  bool duplicates = false;
};
struct HvcLayout {
  uint16_t record_length = 40;
  std::vector<HvcKey> keys;
  uint16_t block_length = 512;
  uint16_t spacing = 0;  // 0: the block length
  bool compressed = false;
  uint8_t fill1 = ' ', fill2 = '0';
  // Records as the file holds them: plain, or compressed by hvc_compress when compressed is
  // set, unless stored gives the stored bytes of every record itself.
  std::vector<std::string> records;
  std::vector<std::string> stored;
  int per_block = 0;          // records per data block; 0: as many as fit
  long stated_records = -1;   // the header's count; -1: the number of records
  bool other_blocks = false;  // a block of another type after every data block
  uint8_t incomplete = 0;     // byte 33
  uint8_t code_set[3] = {};   // bytes 105, 107 and 111
};
std::string hvc_file(const HvcLayout& layout);
// Items that expand to record (trailing fill1 characters may be left out when they are
// spaces, as expansion pads with spaces).
std::string hvc_compress(const std::string& record, uint8_t fill1, uint8_t fill2);

// ---- Tolvane: name.idx (header, key information, trees) and the data file ---------------

struct TolvaneComponent {
  uint16_t length, offset;
};
struct TolvaneKey {
  std::vector<TolvaneComponent> components;
  bool duplicates = false;
  uint8_t compression = 0;
};
struct TolvaneLayout {
  uint16_t max_length = 40, min_length = 40;
  std::vector<TolvaneKey> keys;
  uint16_t node_size = 512;
  uint8_t compression = 0;           // the header's record compression byte
  std::vector<std::string> records;  // in the order of the data file
  int declared_keys = -1;            // the header's number of keys; -1: keys.size()
  int descriptions_per_block = 0;    // key descriptions per key information block; 0: all that fit
};
struct TolvaneFiles {
  std::string index, data;
  std::vector<uint32_t> key_info;  // offsets of the key information blocks
  std::vector<uint32_t> roots;     // root node of each key
  std::vector<int> levels;         // levels of each key's tree
};
TolvaneFiles tolvane_files(const TolvaneLayout& layout);

// The value of a key (its components joined) in a record.
std::string key_value(const std::string& record, const std::vector<TolvaneComponent>& parts);

}  // namespace foreign

#endif  // IXKIT_TESTS_FOREIGN_FOREIGN_FILES_H
