// File sharing and record locking: what a COBOL open and read ask for, mapped to the library.
// Readers and writers of other programs share a file; LOCK MODE EXCLUSIVE (and OPEN OUTPUT)
// has it alone. In I-O with LOCK MODE AUTOMATIC every read locks the record it returns, which
// releases the record locked before; another program's locking read of it then gives 51, as
// do its REWRITE and DELETE. Locks go at UNLOCK and CLOSE.
#ifndef COBFH_SHARING_H
#define COBFH_SHARING_H

#include "cobfh/kelvra_fh.h"
#include "ixkit/libs/kelvra5.h"

// The k5_open mode for OPEN INPUT, I-O or EXTEND (cobol_mode: OPEN_INPUT ...) of an existing
// file.
int sharing_open_mode(const FCD3* fcd, int cobol_mode);

// The next (forward) or previous record by the current key, locked when the open asks for
// automatic record locks: as k5_next / k5_previous.
int sharing_read(const FCD3* fcd, KFile* file, void* record, bool forward);

#endif  // COBFH_SHARING_H
