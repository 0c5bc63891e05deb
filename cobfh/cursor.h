// Positioning on a key without losing the program's place: looking a key value up for
// status 02, putting the library's cursor back where READ NEXT expects it, and the records
// at either end of a key.
#ifndef COBFH_CURSOR_H
#define COBFH_CURSOR_H

#include <cstdint>

#include "cobfh/open_file.h"

// Positions the library on key k (a k5_start mode, or START_FIRST / START_LAST); record
// holds the key value. Non-zero when a record was found.
int cursor_start(OpenFile* f, int k, const uint8_t* record, int length, int mode);

// Puts the library's cursor back on the program's place (after a lookup or a failed READ
// moved it).
void cursor_restore(OpenFile* f);

// Reads the record with the primary key of record into f->scratch, keeping the program's
// place. Its length, or 0.
int cursor_fetch(OpenFile* f, const uint8_t* record);

// Does a record other than the one being written hold this value of key k? The library's
// cursor is put back afterwards.
bool cursor_value_taken(OpenFile* f, int k, const uint8_t* record, uint32_t length);

#endif  // COBFH_CURSOR_H
