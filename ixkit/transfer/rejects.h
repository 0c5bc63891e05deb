// The rejected-records file: records that a duplicate key kept out of an indexed file during
// -load or -rebuild, kept in the portable variable format so that -load -bv (with x when the
// prefixes are 4 bytes) takes them back.
#ifndef IXKIT_TRANSFER_REJECTS_H
#define IXKIT_TRANSFER_REJECTS_H

#include <climits>
#include <cstdint>

#include "ixkit/libs/kelvra5.h"

enum : int {
  REJECTS_NOT_OPEN = -1,  // no record rejected yet in this run of the command
  REJECTS_FAILED = -2,    // the file could not be made: records are counted, not stored
};

// One for the whole program; the command that sets the base name owns it until
// rejects_finish.
struct RejectsStore {
  const char* base_name;    // the rejected-records file is named base_name + ".rej"
  char name[PATH_MAX + 8];  // its name once formed (any path the platform allows)
  int handle;               // f_open handle, or REJECTS_NOT_OPEN / REJECTS_FAILED
  int32_t count;            // records rejected in this run of the command
};
extern RejectsStore rejects_store;

// Starts a command's rejections: nothing stored or counted yet, named after base_name.
void rejects_begin(const char* base_name);
// Counts one rejected record of file and appends it to the rejected-records file, making
// the file at the first rejection.
void store_rejected_record(KFile* file, uint32_t length, const uint8_t* record);
// The duplicate callback of the fast fill (k5_register_duplicate).
void on_duplicate_record(const KDuplicate* report);
// Prints how many records were rejected and where they are, closes the file and resets the
// store for the next command.
void rejects_finish();

#endif  // IXKIT_TRANSFER_REJECTS_H
