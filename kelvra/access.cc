// Record access: write, rewrite, delete, start, next and previous.
#include <cstring>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/btree.h"
#include "kelvra/bulk.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/records.h"
#include "kelvra/share.h"

namespace {

// The index entry of key k for a record: its key bytes and, with duplicates, serial.
void make_entry(KFileState* s, int k, const uint8_t* record, uint32_t length, uint32_t serial,
                uint8_t* entry) {
  const KeyDesc& key = s->dict.keys[k];
  extract_key(key, collating_of(s), record, length, entry);
  if (key.duplicates) put_be32(entry + key.length, serial);
}

// Puts the cursor on the entry of its key found at `at`, as of the file's present trees.
void place_cursor(KFileState* s, const uint8_t* entry, KAddress address, TreePlace at,
                  CursorState state) {
  Cursor& c = s->cursor;
  memcpy(c.entry, entry, static_cast<size_t>(s->dict.keys[c.key].entry));
  c.address = address;
  c.leaf = at.leaf;
  c.slot = at.slot;
  c.generation = s->generation;
  c.state = state;
}

int check_length(KFileState* s, uint32_t* length) {
  if (*length == 0) *length = s->header.max_record;
  if (*length < s->header.min_record || *length > s->header.max_record) {
    return k_fail(RT_ERR_PARAMETER, 8);
  }
  return 1;
}

int writable_file(KFileState* s) {
  if (!s) return k_fail(RT_ERR_PARAMETER);
  if (!s->writable || s->bulk || s->no_index) return k_fail(RT_ERR_MODE);
  return 1;
}

// Is a record with this value of unique key k already there?
int key_taken(KFileState* s, int k, const uint8_t* entry, int* taken) {
  const KeyDesc& key = s->dict.keys[k];
  TreePlace at;
  *taken = 0;
  if (!tree_seek(s, k, entry, key.length, 0, &at)) return 0;
  if (at.leaf == 0) return 1;
  std::vector<uint8_t> found(static_cast<size_t>(key.entry));
  KAddress a;
  if (!tree_entry(s, k, at, found.data(), &a)) return 0;
  *taken = memcmp(found.data(), entry, static_cast<size_t>(key.length)) == 0;
  return 1;
}

// The record that rewrite and delete work on: the current record when it carries the
// primary key of record, else the first record with that primary key.
int find_target(KFileState* s, const uint8_t* record, KAddress* at, std::vector<uint8_t>* old,
                uint32_t* old_length) {
  const KeyDesc& primary = s->dict.keys[0];
  std::vector<uint8_t> wanted(static_cast<size_t>(primary.entry));
  make_entry(s, 0, record, s->header.max_record, 0, wanted.data());
  old->resize(s->header.max_record);
  std::vector<uint8_t> have(static_cast<size_t>(primary.entry));
  Cursor& c = s->cursor;
  if (c.state == CURSOR_CURRENT && read_record(s, c.address, old->data(), old_length)) {
    make_entry(s, 0, old->data(), *old_length, 0, have.data());
    if (memcmp(have.data(), wanted.data(), static_cast<size_t>(primary.length)) == 0) {
      *at = c.address;
      return 1;
    }
  }
  TreePlace place;
  if (!tree_seek(s, 0, wanted.data(), primary.length, 0, &place)) return 0;
  if (place.leaf == 0) return k_fail(RT_ERR_NOT_FOUND);
  if (!tree_entry(s, 0, place, have.data(), at)) return 0;
  if (memcmp(have.data(), wanted.data(), static_cast<size_t>(primary.length)) != 0) {
    return k_fail(RT_ERR_NOT_FOUND);
  }
  return read_record(s, *at, old->data(), old_length);
}

// Marks the file damaged when a change stopped half-way through its indexes.
int half_done(KFileState* s) {
  int code = *rt_file_error(), secondary = *rt_file_error2();
  s->header.damage_mark = 1;
  s->header_dirty = 1;
  return k_fail(code, secondary);
}

int read_step(KFileState* s, void* record, int forward) {
  Cursor& c = s->cursor;
  int k = c.key;
  const KeyDesc& key = s->dict.keys[k];
  LeafView& view = s->view;
  if (s->view_generation != s->generation) view.leaf = 0;
  s->view_generation = s->generation;
  TreePlace at;
  bool same_tree = c.generation == s->generation;
  switch (c.state) {
    case CURSOR_NONE:
      if (!tree_edge(s, k, forward, &at)) return 0;
      break;
    case CURSOR_END:
      return k_fail(RT_ERR_NOT_FOUND);
    case CURSOR_PENDING:
      if (same_tree) {
        at = {c.leaf, c.slot};
      } else {
        // Find the entry again; if it went, take its neighbour in the reading direction.
        if (!tree_seek(s, k, c.entry, key.entry, 0, &at)) return 0;
        if (!forward) {
          std::vector<uint8_t> e(static_cast<size_t>(key.entry));
          KAddress a;
          if (at.leaf == 0) {
            if (!tree_edge(s, k, 0, &at)) return 0;
          } else {
            if (!tree_entry(s, k, at, e.data(), &a, &view)) return 0;
            if (memcmp(e.data(), c.entry, static_cast<size_t>(key.entry)) != 0 &&
                !tree_step(s, k, &at, 0, &view)) {
              return 0;
            }
          }
        }
      }
      break;
    case CURSOR_CURRENT:
      if (same_tree) {
        at = {c.leaf, c.slot};
        if (!tree_step(s, k, &at, forward, &view)) return 0;
      } else if (forward) {
        if (!tree_seek(s, k, c.entry, key.entry, 1, &at)) return 0;
      } else {
        if (!tree_seek(s, k, c.entry, key.entry, 0, &at)) return 0;
        if (at.leaf == 0) {
          if (!tree_edge(s, k, 0, &at)) return 0;
        } else if (!tree_step(s, k, &at, 0, &view)) {
          return 0;
        }
      }
      break;
  }
  if (at.leaf == 0) {
    c.state = CURSOR_END;
    return k_fail(RT_ERR_NOT_FOUND);
  }
  uint8_t entry[K_ENTRY_MAX];
  KAddress address;
  if (!tree_entry(s, k, at, entry, &address, &view)) return 0;
  uint32_t length = 0;
  uint8_t* out = static_cast<uint8_t*>(record);
  int ok = read_record(s, address, out, &length);
  if (ok) {
    // The record must carry the key that led to it.
    uint8_t got[K_ENTRY_MAX];
    make_entry(s, k, out, length, 0, got);
    if (memcmp(got, entry, static_cast<size_t>(key.length)) != 0) {
      ok = k_damaged(K_DAMAGE_REC_KEY);
    }
  }
  if (!ok && !k_ixkit) return 0;  // the cursor stays: the same record fails again
  place_cursor(s, entry, address, at, CURSOR_CURRENT);
  return ok ? static_cast<int>(length) : 0;
}

int write_record(KFileState* s, const uint8_t* rec, uint32_t length) {
  if (!check_length(s, &length)) return 0;
  KAddress at;
  if (s->bulk) {
    // Fast fill: the keys are sorted and indexed at close.
    if (!store_record(s, rec, length, 0, &at)) return 0;
    return bulk_add(s, rec, length, at);
  }
  int keys = s->dict.key_count;
  std::vector<uint8_t> entries(static_cast<size_t>(keys) * K_ENTRY_MAX);
  bool serial_used = false;
  for (int k = 0; k < keys; k++) {
    uint8_t* e = entries.data() + k * K_ENTRY_MAX;
    make_entry(s, k, rec, length, s->header.serial, e);
    if (s->dict.keys[k].duplicates) {
      serial_used = true;
      continue;
    }
    int taken;
    if (!key_taken(s, k, e, &taken)) return 0;
    if (taken) return k_fail(RT_ERR_DUPLICATE);
  }
  if (!store_record(s, rec, length, 1, &at)) return 0;
  if (serial_used) s->header.serial++;
  for (int k = 0; k < keys; k++) {
    if (!tree_insert(s, k, entries.data() + k * K_ENTRY_MAX, at)) return half_done(s);
  }
  publish(s);
  return 1;
}

int rewrite_record(KFileState* s, const uint8_t* rec, uint32_t length) {
  if (!check_length(s, &length)) return 0;
  KAddress at;
  std::vector<uint8_t> old;
  uint32_t old_length;
  if (!find_target(s, rec, &at, &old, &old_length) || !record_free(s, at)) return 0;
  int keys = s->dict.key_count;
  std::vector<uint8_t> before(K_ENTRY_MAX), after(K_ENTRY_MAX);
  // Refuse a new value of a unique key that another record holds.
  for (int k = 1; k < keys; k++) {
    const KeyDesc& key = s->dict.keys[k];
    if (key.duplicates) continue;
    make_entry(s, k, old.data(), old_length, 0, before.data());
    make_entry(s, k, rec, length, 0, after.data());
    if (memcmp(before.data(), after.data(), static_cast<size_t>(key.length)) == 0) continue;
    int taken;
    if (!key_taken(s, k, after.data(), &taken)) return 0;
    if (taken) return k_fail(RT_ERR_DUPLICATE);
  }
  KAddress moved;
  if (!replace_record(s, at, rec, length, &moved)) return half_done(s);
  bool serial_used = false;
  for (int k = 0; k < keys; k++) {
    const KeyDesc& key = s->dict.keys[k];
    make_entry(s, k, old.data(), old_length, 0, before.data());
    make_entry(s, k, rec, length, s->header.serial, after.data());
    bool same = memcmp(before.data(), after.data(), static_cast<size_t>(key.length)) == 0;
    if (same && moved == at) continue;
    TreePlace place;
    if (!tree_find(s, k, before.data(), key.length, at, &place)) return half_done(s);
    if (same) {
      if (!tree_set_address(s, k, place, moved)) return half_done(s);
      continue;
    }
    if (!tree_erase(s, k, place) || !tree_insert(s, k, after.data(), moved)) return half_done(s);
    if (key.duplicates) serial_used = true;
  }
  if (serial_used) s->header.serial++;
  if (s->cursor.state == CURSOR_CURRENT && s->cursor.address == at) s->cursor.address = moved;
  if (!(moved == at) && record_held(s, at)) {
    // The lock goes with the record to its new place, where nobody else can hold one.
    record_lock(s, moved, 0);
    record_unlock(s, at);
  }
  publish(s);
  return 1;
}

int delete_target(KFileState* s, const uint8_t* record) {
  KAddress at;
  std::vector<uint8_t> old;
  uint32_t old_length;
  if (!find_target(s, record, &at, &old, &old_length) || !record_free(s, at)) return 0;
  std::vector<uint8_t> entry(K_ENTRY_MAX);
  for (int k = 0; k < s->dict.key_count; k++) {
    make_entry(s, k, old.data(), old_length, 0, entry.data());
    TreePlace place;
    if (!tree_find(s, k, entry.data(), s->dict.keys[k].length, at, &place) ||
        !tree_erase(s, k, place)) {
      return half_done(s);
    }
  }
  if (!delete_record(s, at)) return half_done(s);
  record_unlock(s, at);  // the slot is free: a later record there is not locked
  publish(s);
  return 1;
}

int start_at(KFileState* s, const void* record, int key, int length, int mode) {
  const KeyDesc& desc = s->dict.keys[key];
  Cursor& c = s->cursor;
  c.key = key;
  c.state = CURSOR_END;
  uint8_t probe[K_ENTRY_MAX];
  make_entry(s, key, static_cast<const uint8_t*>(record), s->header.max_record, 0, probe);
  int m = (length == 0 || length > desc.length) ? desc.length : length;
  bool upper = mode == K_START_GREATER || mode == K_START_NOT_GREATER;
  TreePlace at;
  if (!tree_seek(s, key, probe, m, upper, &at)) return 0;
  if (mode == K_START_LESS || mode == K_START_NOT_GREATER) {
    // The last entry before the place found.
    if (at.leaf == 0) {
      if (!tree_edge(s, key, 0, &at)) return 0;
    } else if (!tree_step(s, key, &at, 0)) {
      return 0;
    }
  }
  if (at.leaf == 0) return k_fail(RT_ERR_NOT_FOUND);
  uint8_t entry[K_ENTRY_MAX];
  KAddress address;
  if (!tree_entry(s, key, at, entry, &address)) return 0;
  if (mode == K_START_EQUAL && memcmp(entry, probe, static_cast<size_t>(m)) != 0) {
    return k_fail(RT_ERR_NOT_FOUND);
  }
  place_cursor(s, entry, address, at, CURSOR_PENDING);
  k_clear_error();
  return 1;
}

// The step of k5_next_lock / k5_previous_lock in a shared open, under the operation lock:
// the record is locked before anyone can change it. A record another open holds leaves the
// cursor where it was (code 5), unless the call waits for it.
int locked_step(KFileState* s, void* record, int forward, int flags) {
  KAddress waited{};  // a lock this call waited for
  bool had_waited = false;
  for (int tries = 0; tries < 64; tries++) {
    Cursor before = s->cursor;
    if (!op_lock(s, 0)) return 0;
    int n = catch_up(s) ? read_step(s, record, forward) : 0;
    KAddress at = s->cursor.address;
    if (n <= 0 || record_lock(s, at, 0)) {
      if (n > 0 && !(flags & K_LOCK_KEEP)) record_unlock_others(s, at);
      op_unlock(s);
      if (!had_waited || (n > 0 && at == waited)) return n;
      int code = *rt_file_error(), secondary = *rt_file_error2();
      record_unlock(s, waited);  // the record waited for is not the one read now
      if (n <= 0) k_fail(code, secondary);
      return n;
    }
    s->cursor = before;  // the same call reads the same record again
    op_unlock(s);
    if (!(flags & K_LOCK_WAIT)) return 0;
    if (had_waited) record_unlock(s, waited);
    // Wait without the operation lock, then read again: the record may have changed.
    if (!record_lock(s, at, 1)) return 0;
    waited = at;
    had_waited = true;
  }
  return k_fail(RT_ERR_LOCKED_REC);
}

// A read of the record after or before the current one, as one operation.
int step(KFile* file, void* record, int forward, int flags) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  if (s->bulk || s->no_index) return k_fail(RT_ERR_MODE);
  if (flags & ~(K_LOCK | K_LOCK_WAIT | K_LOCK_KEEP)) return k_fail(RT_ERR_PARAMETER);
  if ((flags & K_LOCK) && !s->writable) return k_fail(RT_ERR_MODE);  // locks are for writers
  if ((flags & K_LOCK) && s->shared) return locked_step(s, record, forward, flags);
  Cursor before = s->cursor;
  return read_op(
      s, [&] { return read_step(s, record, forward); }, [&] { s->cursor = before; });
}

}  // namespace

int k5_write(KFile* file, const void* record, uint32_t length) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  if (!s->writable || s->no_index) return k_fail(RT_ERR_MODE);
  if (!write_op_begin(s)) return 0;
  return write_op_end(s, write_record(s, static_cast<const uint8_t*>(record), length));
}

int k5_rewrite(KFile* file, const void* record, uint32_t length) {
  KFileState* s = state_of(file);
  if (!writable_file(s) || !write_op_begin(s)) return 0;
  return write_op_end(s, rewrite_record(s, static_cast<const uint8_t*>(record), length));
}

int k5_delete(KFile* file, const void* record) {
  KFileState* s = state_of(file);
  if (!writable_file(s) || !write_op_begin(s)) return 0;
  return write_op_end(s, delete_target(s, static_cast<const uint8_t*>(record)));
}

int k5_start(KFile* file, const void* record, int key, int length, int mode) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  if (s->bulk || s->no_index) return k_fail(RT_ERR_MODE);
  if (key < 0 || key >= s->dict.key_count || mode < 0 || mode > K_START_NOT_GREATER || length < 0) {
    return k_fail(RT_ERR_PARAMETER);
  }
  Cursor before = s->cursor;
  return read_op(
      s, [&] { return start_at(s, record, key, length, mode); }, [&] { s->cursor = before; });
}

int k5_next(KFile* file, void* record) {
  return step(file, record, 1, 0);
}

int k5_previous(KFile* file, void* record) {
  return step(file, record, 0, 0);
}

int k5_next_lock(KFile* file, void* record, int flags) {
  return step(file, record, 1, flags);
}

int k5_previous_lock(KFile* file, void* record, int flags) {
  return step(file, record, 0, flags);
}

int k5_unlock(KFile* file) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  record_unlock_others(s, KAddress{});
  return 1;
}
