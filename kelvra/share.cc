// Open, operation and record locks, and the change counter.
#include "kelvra/share.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ixkit/libs/rtcore.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/nodes.h"
#include "kelvra/segments.h"

namespace {

// Lock bytes: far beyond the 4 GiB a segment file can hold. Record locks take one byte per
// record address (segment << 32 | offset) from kRecordBase on.
constexpr off_t kLockBase = off_t{1} << 62;
constexpr off_t kOpenByte = kLockBase;
constexpr off_t kOperationByte = kLockBase + 1;
constexpr off_t kRecordBase = kLockBase + (off_t{1} << 48);
constexpr off_t kRecordSpan = off_t{1} << 48;

struct flock lock_range(int type, off_t start, off_t length) {
  struct flock l = {};
  l.l_type = static_cast<short>(type);
  l.l_whence = SEEK_SET;
  l.l_start = start;
  l.l_len = length;
  return l;
}

int set_lock(int fd, int type, off_t start, off_t length, int wait) {
  struct flock l = lock_range(type, start, length);
  while (true) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &l) == 0) return 1;
    if (errno != EINTR) return 0;
  }
}

// The lock type another open description holds over the range, F_UNLCK when none.
int other_lock(int fd, int type, off_t start, off_t length) {
  struct flock l = lock_range(type, start, length);
  if (fcntl(fd, F_OFD_GETLK, &l) != 0) return type;  // cannot tell: taken to be held
  return l.l_type;
}

uint64_t record_key(KAddress at) {
  return static_cast<uint64_t>(at.segment) << 32 | at.offset;
}

// The lock byte of a record, by its key.
off_t record_byte(uint64_t key) {
  return kRecordBase + static_cast<off_t>(key);
}

}  // namespace

int take_open_lock(int fd, int exclusive) {
  if (set_lock(fd, exclusive ? F_WRLCK : F_RDLCK, kOpenByte, 1, 0)) return 1;
  if (errno == EAGAIN || errno == EACCES) return k_fail(RT_ERR_LOCKED);
  return k_fail_errno();
}

int file_in_use(int fd) {
  return other_lock(fd, F_WRLCK, kOpenByte, 1) != F_UNLCK;
}

int op_lock(KFileState* s, int exclusive) {
  int type = exclusive ? F_WRLCK : F_RDLCK;
  if (!set_lock(s->lock_fd, type, kOperationByte, 1, 1)) return k_fail_errno();
  s->op_held = exclusive ? OP_WRITE : OP_READ;
  s->op_marked = 0;
  return 1;
}

void op_unlock(KFileState* s) {
  if (!s->op_held) return;
  set_lock(s->lock_fd, F_UNLCK, kOperationByte, 1, 0);
  s->op_held = 0;
}

int read_change(KFileState* s, uint64_t* change) {
  uint8_t bytes[8];
  const long got = read_at(s->lock_fd, K_CHANGE_OFFSET, bytes, 8);
  if (got < 0) return k_fail_errno();
  if (got != 8) return k_damaged(K_DAMAGE_HEADER);
  *change = get_uint(bytes, 8, big_endian(s->header.version));
  return 1;
}

int catch_up(KFileState* s) {
  uint64_t now;
  if (!read_change(s, &now)) return 0;
  if (now == s->header.change) return 1;
  return reload_header(s);
}

int mark_changing(KFileState* s) {
  if (s->op_held != OP_WRITE || s->op_marked) return 1;
  s->op_marked = 1;
  uint8_t bytes[8];
  put_uint(bytes, 8, big_endian(s->header.version), s->header.change | 1);
  return write_at(s->lock_fd, K_CHANGE_OFFSET, bytes, 8);
}

int write_op_begin(KFileState* s) {
  if (!s->shared) return 1;
  if (!op_lock(s, 1)) return 0;
  if (catch_up(s)) return 1;
  op_unlock(s);
  return 0;
}

int write_op_end(KFileState* s, int ok) {
  if (!s->shared) {
    // Records a call wrote reach the system before it returns, so a killed process loses none
    // it was told were written; only a new file being filled collects them in large pieces.
    // A record area grown into a new segment is named in the header at once: a rebuild reads
    // the segments the header names.
    if (!ok || (s->mode & K_MODE_NEW)) return ok;
    if (!flush_pending(s)) return 0;
    if (s->header.end.segment != s->disk_end_segment && !write_header(s)) return 0;
    return 1;
  }
  int code = *rt_file_error(), secondary = *rt_file_error2();
  // Records first: a node written before them could name bytes that are not there. Nodes
  // appended at the end of the index are collected too, and written last.
  int written = flush_pending(s) && nodes_flush(s, 0) && flush_pending(s);
  if (s->op_marked || s->header_dirty) {
    // A header written alone needs no odd mark: readers read the counter in it at once.
    s->op_marked = 1;
    s->header.change = (s->header.change | 1) + 1;
    if (!write_header(s)) written = 0;
  }
  op_unlock(s);
  if (!written) return 0;
  if (!ok) k_fail(code, secondary);
  return ok;
}

int record_lock(KFileState* s, KAddress at, int wait) {
  if (!s->shared || record_held(s, at)) return 1;
  if (!set_lock(s->lock_fd, F_WRLCK, record_byte(record_key(at)), 1, wait)) {
    if (errno == EAGAIN || errno == EACCES) return k_fail(RT_ERR_LOCKED_REC);
    return k_fail_errno();
  }
  s->record_locks.push_back(record_key(at));
  return 1;
}

int record_held(const KFileState* s, KAddress at) {
  uint64_t key = record_key(at);
  return std::find(s->record_locks.begin(), s->record_locks.end(), key) != s->record_locks.end();
}

int record_free(KFileState* s, KAddress at) {
  if (!s->shared || record_held(s, at)) return 1;
  if (other_lock(s->lock_fd, F_WRLCK, record_byte(record_key(at)), 1) != F_UNLCK)
    return k_fail(RT_ERR_LOCKED_REC);
  return 1;
}

void record_unlock(KFileState* s, KAddress at) {
  auto it = std::find(s->record_locks.begin(), s->record_locks.end(), record_key(at));
  if (it == s->record_locks.end()) return;
  set_lock(s->lock_fd, F_UNLCK, record_byte(*it), 1, 0);
  s->record_locks.erase(it);
}

void record_unlock_others(KFileState* s, KAddress keep) {
  if (s->record_locks.empty()) return;
  bool kept = !is_null(keep) && record_held(s, keep);
  if (!kept) {
    set_lock(s->lock_fd, F_UNLCK, kRecordBase, kRecordSpan, 0);
    s->record_locks.clear();
    return;
  }
  for (uint64_t key : s->record_locks) {
    if (key != record_key(keep)) {
      set_lock(s->lock_fd, F_UNLCK, record_byte(key), 1, 0);
    }
  }
  s->record_locks.assign(1, record_key(keep));
}
