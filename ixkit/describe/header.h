// The program's own reading of a Kelvra file's header block: versions 2 to 5, checked and
// unpacked into the program-wide header record.
#ifndef IXKIT_DESCRIBE_HEADER_H
#define IXKIT_DESCRIBE_HEADER_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// The header record of the file read last, and the values derived from it.
extern KHeaderRecord file_header;
extern uint16_t header_block_bytes;  // blocking factor x 512
extern int raw_header_size;          // bytes in front of each raw record
extern int per_record_seed;          // whether live version-5 record headers carry a seed

// 1 when name is a Kelvra file of a supported version (the record then holds its header),
// else 0 with the file error code saying why (f_open's code, or 11 or 13).
int read_header(const char* name);

#endif  // IXKIT_DESCRIBE_HEADER_H
