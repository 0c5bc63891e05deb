// The HV/COBOL-85 reader: one file of equal blocks, block 0 holding the header and the key
// descriptors, data blocks holding the records, plain or compressed.
#ifndef IXKIT_CONVERT_HVC_H
#define IXKIT_CONVERT_HVC_H

#include <cstdint>

#include "ixkit/convert/convert.h"

// Opens name and fills d from its header and key descriptors: the open descriptor, or a
// negative value after the message (the file closed).
int hvc_read_header(const char* name, ConvertDescription* d);

// The next record into d->record (d->record_size bytes, spaces after the stored bytes): 1;
// 0 when there is none or the scan must stop; -1 when a read failed (file error code set). The scan
// needs d->block (block_size bytes) and starts at block 0 with the cursor at the block end.
int hvc_next_record(int fd, ConvertDescription* d);

// Expands the length stored bytes at in into out (size bytes). 1 when every item was
// expanded; 0 when out was full before the items ended; -1 when an item's output would go
// beyond size or its bytes beyond length.
int hvc_expand(const uint8_t* in, uint32_t length, uint8_t* out, uint32_t size, uint8_t fill1,
               uint8_t fill2);

#endif  // IXKIT_CONVERT_HVC_H
