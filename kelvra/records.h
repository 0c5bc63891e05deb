// The record area: record headers of each version, reading and storing records, the chains
// of deleted and abandoned records, and growing the area (block chains in versions 2 and 3,
// data segments in versions 4 and 5).
#ifndef KELVRA_RECORDS_H
#define KELVRA_RECORDS_H

#include <cstdint>

#include "kelvra/file.h"

enum : int { REC_DELETED = 1, REC_ABANDONED = 2, REC_PLAIN = 4 };

// A record header, decoded.
struct RecordHeader {
  uint32_t stored = 0;  // bytes after the header in the record's slot
  uint32_t length = 0;  // meaningful stored bytes (compressed length when compressed)
  uint32_t link = 0;    // chain link (deleted, abandoned) or scrambling seed (live)
  uint16_t link_segment = 0;
  int flags = 0;
};

// Record header size of a new file.
int new_record_header_size(int version, int encrypted);
// Data bytes that hold the chain link of a deleted record (versions 2 to 4), else 0.
int link_data_size(int version);
void encode_record_header(int version, int size, const RecordHeader& h, uint8_t* out);
void decode_record_header(int version, int size, const uint8_t* in, RecordHeader* h);

// Reads count bytes of the record area at `at` (following block links in versions 2, 3);
// after, when not null, receives the position just past them.
int area_read(KFileState* s, KAddress at, void* buffer, uint32_t count, KAddress* after,
              int damage);

// Reads the live record at `at` into out (max_record bytes): unscrambled and expanded.
// Fails with file error 6 and a secondary code from 80 to 85 when it is not sound.
int read_record(KFileState* s, KAddress at, uint8_t* out, uint32_t* length);
// Stores a new record; reuse: take the space of a deleted or abandoned record that fits.
int store_record(KFileState* s, const uint8_t* record, uint32_t length, int reuse, KAddress* at);
// Replaces the record at `at`; where it moves, *moved_to differs from at.
int replace_record(KFileState* s, KAddress at, const uint8_t* record, uint32_t length,
                   KAddress* moved_to);
// Puts the record at `at` on the deleted chain (its data stays for recovery).
int delete_record(KFileState* s, KAddress at);

// A new zero block at the end of the blocks in use (versions 2, 3); pos receives its offset.
int allocate_block(KFileState* s, uint32_t* pos);

// Scratch buffers sized for the file's largest record.
uint8_t* record_scratch(KFileState* s, int which);

#endif  // KELVRA_RECORDS_H
