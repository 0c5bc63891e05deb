// kelvra_fh: GnuCOBOL's external file handler over the Kelvra indexed file library.
//
// A program compiled with `cobc -fcallfh=kelvra_fh` calls this entry for every file verb.
// INDEXED files are kept as Kelvra files; files of the other organisations are handed to
// GnuCOBOL's own handler (EXTFH). The outcome is in the FCD's file status, as GnuCOBOL's
// own indexed handler gives it.
#ifndef COBFH_KELVRA_FH_H
#define COBFH_KELVRA_FH_H

#include <cstddef>
#include <cstdio>

#include <libcob.h>

extern "C" int kelvra_fh(unsigned char* opcode, FCD3* fcd);

#endif  // COBFH_KELVRA_FH_H
