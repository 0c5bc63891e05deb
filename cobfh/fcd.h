// Reading and setting the fields of GnuCOBOL's file control description (FCD3): the file
// status, the record lengths and the file's name. Its numbers are big-endian binary
// (get_be16, get_be32 and put_be32 of kelvra/bytes.h read and set them).
#ifndef COBFH_FCD_H
#define COBFH_FCD_H

#include <cstdint>
#include <string>

#include "cobfh/kelvra_fh.h"
#include "kelvra/bytes.h"

// Sets the two-character file status ("00", "23", ...).
void fcd_status(FCD3* fcd, const char* status);

// Length of the record the program gives to WRITE / REWRITE: the current length for
// variable records, the maximum for fixed ones.
uint32_t fcd_record_length(const FCD3* fcd);

// The file name the program assigned, resolved as GnuCOBOL resolves it: an environment
// value DD_NAME, dd_NAME or NAME replaces a name without '/', and a relative result is put
// under COB_FILE_PATH when that is set.
std::string fcd_file_name(const FCD3* fcd);

#endif  // COBFH_FCD_H
