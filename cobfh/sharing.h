// File sharing and record locking: what a COBOL open asks for, mapped to the library's open
// modes. The library shares a file among readers and gives a writer the file alone, so every
// record lock a program asks for in I-O mode is held (nobody else can reach the record) and
// what it cannot give (a second program writing, or reading while one writes) is refused at
// OPEN with status 61.
#ifndef COBFH_SHARING_H
#define COBFH_SHARING_H

#include "cobfh/kelvra_fh.h"

// The k5_open mode for OPEN INPUT, I-O or EXTEND (cobol_mode: OPEN_INPUT ...) of an existing
// file.
int sharing_open_mode(const FCD3* fcd, int cobol_mode);

// The mode in which OPEN OUTPUT fills the new file: fast (indexes built at CLOSE) or not.
int sharing_fill_mode(bool fast);

#endif  // COBFH_SHARING_H
