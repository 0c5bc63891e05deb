// -convert: C-ISAM, HV/COBOL-85 and Tolvane indexed files into Kelvra files. The conversion
// description that each format's reader fills, the format detection, the making of the new
// file, and the three converters.
#ifndef IXKIT_CONVERT_CONVERT_H
#define IXKIT_CONVERT_CONVERT_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/repair/replace.h"

// Source name that tracked allocations of this subsystem carry.
#define CONVERT_SOURCE "ixkit/ixkitc"

// Longest foreign file name: detection refuses longer ones, and every converter forms the
// name with a four-character extension (".idx", ".dat", ".kvl") in FOREIGN_NAME_AREA bytes.
constexpr int FOREIGN_NAME_MAX = 252;
constexpr int FOREIGN_NAME_AREA = FOREIGN_NAME_MAX + 5;

// What the new file is made from, and the scan position of an HV/COBOL-85 file. One area
// per run, refilled for every file.
struct ConvertDescription {
  char comment[32];
  uint32_t record_size;  // the maximum record length
  uint8_t compressed;    // the foreign records are compressed
  uint8_t fill1, fill2;  // HV/COBOL-85: the fill characters of the compression
  int16_t key_count;
  uint32_t block_size;        // C-ISAM node size or HV/COBOL-85 block length
  uint32_t block_spacing;     // HV/COBOL-85: block b begins at b x spacing
  uint32_t expected_records;  // HV/COBOL-85: the header's record count
  uint32_t block_count;       // HV/COBOL-85: blocks to scan
  uint32_t segments[K_MAX_KEYS];
  uint8_t duplicates[K_MAX_KEYS];
  uint32_t segment_size[K_MAX_KEYS][K_MAX_SEGMENTS];
  uint32_t segment_offset[K_MAX_KEYS][K_MAX_SEGMENTS];
  int16_t keys_with_duplicates;  // HV/COBOL-85
  uint8_t* block;                // HV/COBOL-85: one block of the file
  uint8_t* record;               // the record being copied; lives for one file
  uint32_t block_number;         // HV/COBOL-85: the next block to examine
  uint32_t cursor, block_end;    // HV/COBOL-85: positions in block
  uint32_t min_record_size;      // 0: equal to record_size
};

// Formats detect_format tells apart.
enum : int { FORMAT_UNKNOWN = 0, FORMAT_HVC = 1, FORMAT_CISAM = 2, FORMAT_TOLVANE = 3 };

// The compression factor of compressed new files (option -f), 1 unless given.
extern int compression_factor;
// The name the file being converted is built under.
extern char convert_temp_name[TEMP_NAME_SIZE];

// The format of the file name: HV/COBOL-85 by the file itself, C-ISAM or Tolvane by the
// first bytes of name.idx; FORMAT_UNKNOWN when none fits or the file is missing.
int detect_format(const char* name);
// Converts one file of any of the three formats. choice: +1 compress the new file, -1 do
// not, 0 as the foreign file is.
void convert_file(const char* name, int choice, ConvertDescription* d);
// Makes the new, empty Kelvra file temporary from d; non-zero on success.
int make_converted_file(const char* temporary, ConvertDescription* d, int choice);

// The converters: each reads its file's description, builds the new file under
// convert_temp_name and moves it into place (name.kvl, or the HV/COBOL-85 file's own name).
void convert_cisam(const char* name, int choice, ConvertDescription* d);
void convert_hvc(const char* name, int choice, ConvertDescription* d);
void convert_tolvane(const char* name, int choice, ConvertDescription* d);

#endif  // IXKIT_CONVERT_CONVERT_H
