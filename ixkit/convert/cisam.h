// The C-ISAM reader: the dictionary and key descriptions of name.idx, and the live records
// of the data file (name.dat, or name itself).
#ifndef IXKIT_CONVERT_CISAM_H
#define IXKIT_CONVERT_CISAM_H

#include <cstdint>

#include "ixkit/convert/convert.h"

struct CisamFiles {
  int index;  // descriptors; -1 when closed
  int data;
  // The data file is read many slots at a time into the description's record buffer.
  uint32_t slots_held;  // whole slots in the buffer
  uint32_t slot_at;     // the next of them
};

// Slots the record buffer holds: record size + 1 bytes each.
uint32_t cisam_buffer_slots(const ConvertDescription* d);

// Fills d from the dictionary and key descriptions and leaves both files open in files: 1.
// A negative value after the message, both files closed.
int cisam_read_dictionary(const char* name, ConvertDescription* d, CisamFiles* files);
// Follows the link of the key description node in node (d->block_size bytes): 1 with the
// next node read into it, 0 when the link is 0, -1 when the node cannot be read.
int cisam_next_key_node(uint8_t* node, const ConvertDescription* d, CisamFiles* files);
// The next live record: 1 with *record pointing at it in d->record, 0 after the last whole
// slot, -1 when the data file cannot be read.
int cisam_next_record(CisamFiles* files, ConvertDescription* d, const uint8_t** record);
// Closes both files.
void cisam_close(CisamFiles* files);

#endif  // IXKIT_CONVERT_CISAM_H
