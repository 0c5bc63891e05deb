// Sharing one file between processes: the open lock, the operation lock, the change counter
// that tells an opener when its cached blocks are stale, and record locks.
//
// The locks are open-file-description byte-range locks (fcntl F_OFD_SETLK) on data segment
// 0, at offsets far beyond any data: they belong to one k5_open, go with its close and with
// the process, and locks on distinct bytes never meet. docs/file-format.md, section 6,
// describes the protocol.
#ifndef KELVRA_SHARE_H
#define KELVRA_SHARE_H

#include <cstdint>

#include "kelvra/file.h"

// Takes the open lock on fd: shared, or exclusive for an exclusive opener. Code 11 when
// another open holds it in a conflicting way.
int take_open_lock(int fd, int exclusive);
// 1 when some open holds the file's open lock (the file named cannot be made or removed).
int file_in_use(int fd);

// The operation lock of a shared open, held across one library call: shared for a reader,
// exclusive for a writer. Waits for other processes' operations to end.
int op_lock(KFileState* s, int exclusive);
void op_unlock(KFileState* s);

// The change counter as it is on disk now (one positioned read of 8 bytes).
int read_change(KFileState* s, uint64_t* change);
// Makes the cached state that of the file now: when the counter on disk differs from the
// one the cache belongs to, re-reads header and dictionary and drops the cached blocks.
int catch_up(KFileState* s);

// A writer's operation in a shared open: takes the exclusive operation lock and catches up;
// the end writes every change through (nodes, appended bytes, header with the counter
// raised) and releases the lock. In an exclusive open the end writes the appended bytes
// through, unless the file is being filled. ok: the result of the operation, returned again.
int write_op_begin(KFileState* s);
int write_op_end(KFileState* s, int ok);
// Called before the first byte an operation writes: marks the counter on disk odd, so that
// a reader that reads without the operation lock sees that its reads may be torn.
int mark_changing(KFileState* s);

// Runs read, a reader's operation (a callable returning the call's result), so that what it
// returns is the file at one moment: without the operation lock while nothing it needs is
// stale, and again under the lock when the file changed while it read from disk. restore
// puts the cursor back before a second run.
template <class Read, class Restore>
int read_op(KFileState* s, Read read, Restore restore) {
  if (!s->shared) return read();
  uint64_t now;
  if (!read_change(s, &now)) return 0;
  if (now == s->header.change && !(now & 1)) {
    uint64_t misses = s->windows.misses;
    int result = read();
    if (misses == s->windows.misses) return result;  // from the cache only
    if (!read_change(s, &now)) return 0;
    if (now == s->header.change) return result;
    restore();
  }
  if (!op_lock(s, 0)) return 0;
  int result = catch_up(s) ? read() : 0;
  op_unlock(s);
  return result;
}

// Record locks of a shared open; an exclusive open has no one to lock against.
// Locks the record at `at` for this open: 1, or 0 with code 5 when another open holds it
// (wait: until it lets go). The caller holds the operation lock unless wait is set.
int record_lock(KFileState* s, KAddress at, int wait);
// 1 when this open holds the lock of the record at `at`.
int record_held(const KFileState* s, KAddress at);
// Code 5 when another open holds the lock of the record at `at`, else 1.
int record_free(KFileState* s, KAddress at);
void record_unlock(KFileState* s, KAddress at);
// Releases every record lock of this open but keep (null address: all).
void record_unlock_others(KFileState* s, KAddress keep);

#endif  // KELVRA_SHARE_H
