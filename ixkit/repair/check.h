// The passes of -check over one open Kelvra file. Each reports the first problem it meets
// to standard error and returns 0; 1 when the pass found the file sound.
#ifndef IXKIT_REPAIR_CHECK_H
#define IXKIT_REPAIR_CHECK_H

#include <functional>

#include "ixkit/libs/kelvra5.h"

// Examines one file: level 0 only the open and the user count, 1 further when the user
// count is not 0, 2 always; key is the key to read, or -1 for the extended examination.
void check_file(const char* name, int level, int key);
// Reads every record through key number key and compares the count with the file's
// record count. 1 also when the file has no such key (after a note on standard output).
int check_by_key(KFile* file, const char* name, int key);
// Reads the whole record area raw and compares the live records with the record count.
int check_raw(KFile* file, const char* name);
// Walks the deleted chain (and in version 5 the abandoned chain) and compares the members
// with the header's counts. The header record must hold the file's header.
int check_free_chains(const char* name);

// Runs a pass of a file that other programs may be changing: 1 sound, 0 damaged (the pass
// reported it), -1 the file changed under every run of the pass (reported as not verified,
// exit status 1). A pass that fails while the file changed is run again, its messages
// dropped: a change is never reported as damage.
int steady_pass(KFile* file, const char* name, const std::function<int()>& pass);

#endif  // IXKIT_REPAIR_CHECK_H
