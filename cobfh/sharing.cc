// Open modes for COBOL's sharing and locking.
#include "cobfh/sharing.h"

#include "ixkit/libs/kelvra5.h"

int sharing_open_mode(const FCD3* fcd, int cobol_mode) {
  if (cobol_mode != OPEN_INPUT) return K_MODE_WRITE;  // the only writer: all records locked
  // LOCK MODE EXCLUSIVE keeps other readers out too.
  return (fcd->lockMode & FCD_LOCK_EXCL_LOCK) ? K_MODE_EXCLUSIVE : K_MODE_READ;
}

int sharing_fill_mode(bool fast) {
  return fast ? K_MODE_FAST_FILL : K_MODE_FILL;
}
