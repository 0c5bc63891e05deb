// Open modes and record locks for COBOL's sharing and locking.
#include "cobfh/sharing.h"

namespace {

bool exclusive(const FCD3* fcd) {
  return (fcd->lockMode & FCD_LOCK_EXCL_LOCK) != 0;
}

}  // namespace

int sharing_open_mode(const FCD3* fcd, int cobol_mode) {
  const int access = cobol_mode == OPEN_INPUT ? K_MODE_READ : K_MODE_WRITE;
  return exclusive(fcd) ? access | K_MODE_EXCLUSIVE : access;
}

int sharing_read(const FCD3* fcd, KFile* file, void* record, bool forward) {
  // Only an open that may write can lock, and one that has the file alone needs no locks.
  const bool lock = (fcd->lockMode & FCD_LOCK_AUTO_LOCK) != 0 && !exclusive(fcd) &&
                    (file->mode & K_MODE_WRITE) != 0;
  if (!lock) return forward ? k5_next(file, record) : k5_previous(file, record);
  return forward ? k5_next_lock(file, record, K_LOCK) : k5_previous_lock(file, record, K_LOCK);
}
