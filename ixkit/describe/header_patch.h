// The header maintenance commands: what the indexed file library says about a file, then
// its 512-byte header block read and patched directly, beside the library. Every failure of
// the direct access is reported in one line naming the file and the reason, and raises
// exit_status to 255; the command then goes on with its next file.
#ifndef IXKIT_DESCRIBE_HEADER_PATCH_H
#define IXKIT_DESCRIBE_HEADER_PATCH_H

#include <cstdint>

// Read from the open-file record.
struct LibraryFacts {
  int version;
  int data_segment_high;
  int index_segment_high;
  uint32_t min_record_size;
  uint32_t max_record_size;
};

// Opens name through the library in mode, takes its facts and closes it again; 0, after the
// library's message, when the library refuses the file.
int library_facts(const char* name, int mode, LibraryFacts* facts);

// Changes the header block in place; returns 0 to leave the file as it is.
typedef int (*HeaderPatch)(uint8_t* block, void* context);

// Reads the first 512 bytes of name; 0 when the file cannot be opened or is shorter.
int read_raw_header(const char* name, uint8_t* block);

// Opens name for reading and writing, reads its first 512 bytes, lets patch change them and
// writes back the count bytes from position from. Nothing is written unless all 512 bytes
// were read and patch returned non-zero. 0 when the open, read or write failed.
int patch_header(const char* name, int from, int count, HeaderPatch patch, void* context);

// Position of header field number of version (K_offsets) when width bytes from there lie
// inside the block; for the byte counts (fields 44, 46, 52) pass width 0 to get the count.
// -1, reported against name, when the version has no such field.
int header_field(const char* name, int version, int field, int width);

#endif  // IXKIT_DESCRIBE_HEADER_PATCH_H
