// The file verbs on INDEXED files. Each sets the FCD's status and the fields GnuCOBOL reads
// back; the caller has checked that the file is open (or, for OPEN, that it is not).
#ifndef COBFH_VERBS_H
#define COBFH_VERBS_H

#include "cobfh/kelvra_fh.h"
#include "cobfh/open_file.h"

void verb_open(FCD3* fcd, int cobol_mode);
void verb_close(FCD3* fcd, OpenFile* f);
void verb_delete_file(FCD3* fcd);

void verb_read_step(FCD3* fcd, OpenFile* f, bool forward);
void verb_read_key(FCD3* fcd, OpenFile* f);
// mode: a k5_start mode, START_FIRST or START_LAST.
void verb_start(FCD3* fcd, OpenFile* f, int mode);

void verb_write(FCD3* fcd, OpenFile* f);
void verb_rewrite(FCD3* fcd, OpenFile* f);
void verb_delete(FCD3* fcd, OpenFile* f);

#endif  // COBFH_VERBS_H
