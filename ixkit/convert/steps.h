// The steps the three converters share: the foreign file names, the check every description
// passes before anything is made, the new file under its temporary name, the copy of the
// records, and putting the finished file in place (or removing it after a failure).
#ifndef IXKIT_CONVERT_STEPS_H
#define IXKIT_CONVERT_STEPS_H

#include <cstdint>

#include "ixkit/convert/convert.h"
#include "ixkit/libs/kelvra5.h"

// area (FOREIGN_NAME_AREA bytes) = name followed by extension. 0, after the system's reason
// for name, when name is longer than FOREIGN_NAME_MAX.
int foreign_name(char* area, const char* name, const char* extension);

// Prints "NAME: " and the text of a damaged foreign file that no message of the format
// covers.
void report_damaged(const char* name, const char* what);

// 1 when the new file can take d; otherwise 0 after a message naming the file: no keys, a
// record size of 0 or beyond what the format version to be made holds, a minimum above the
// maximum, a key segment that is empty or lies outside the record.
int check_converted_description(const char* name, const ConvertDescription* d);

// From the compression choice to a new file open for filling under convert_temp_name, with
// progress (a format taking the foreign name) printed. null after the library's message; a
// file made but not opened is removed.
KFile* open_converted_file(const char* name, int choice, ConvertDescription* d,
                           const char* progress);

// Gives copy_records the next record: 1 with *record and *length set (length 0: the record
// size), 0 at the end, -1 when it cannot be fetched (the file error code says why).
typedef int (*FetchRecord)(void* source, const uint8_t** record, uint32_t* length);

struct CopyCount {
  long records;  // records fetched
  int failed;    // a record could not be fetched or written
};

// Writes every record fetch gives into file until the end or a failure.
CopyCount copy_records(KFile* file, FetchRecord fetch, void* source);

// Closes the new file and prints the outcome: on success the record count, then the new file
// is flushed to disk and moved to destination; after a failure "error!" and the library's
// reason for name, and the new file is removed. 1 when the count was printed.
int finish_converted_file(KFile* file, const char* name, const char* destination, CopyCount copied);

#endif  // IXKIT_CONVERT_STEPS_H
