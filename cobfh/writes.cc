// WRITE, REWRITE and DELETE.
#include <algorithm>
#include <vector>

#include "cobfh/cursor.h"
#include "cobfh/fcd.h"
#include "cobfh/status.h"
#include "cobfh/verbs.h"
#include "ixkit/libs/rtcore.h"

namespace {

bool sequential(const FCD3* fcd) {
  return (fcd->accessFlags & ~ACCESS_USER_STAT) == ACCESS_SEQ;
}

// The record length of a WRITE or REWRITE, or 0 (status 44 set) when the file refuses it.
uint32_t record_length(FCD3* fcd, const OpenFile* f) {
  uint32_t length = fcd_record_length(fcd);
  if (length >= f->layout.min_record && length <= f->layout.max_record) return length;
  fcd_status(fcd, "44");
  return 0;
}

std::vector<uint8_t> key_of(const OpenFile* f, int k, const uint8_t* record, uint32_t length) {
  std::vector<uint8_t> key(f->layout.keys[static_cast<size_t>(k)].size);
  layout_key(f->layout, k, record, length, key.data());
  return key;
}

// The values of every key of a record, one after another.
std::vector<uint8_t> keys_of(const OpenFile* f, const uint8_t* record, uint32_t length) {
  size_t total = 0;
  for (const KeyLayout& key : f->layout.keys) total += key.size;
  std::vector<uint8_t> keys(total);
  uint8_t* out = keys.data();
  for (size_t k = 0; k < f->layout.keys.size(); out += f->layout.keys[k++].size) {
    layout_key(f->layout, static_cast<int>(k), record, length, out);
  }
  return keys;
}

// Checks a new record's keys (keys_of) against the fast fill's sets: 22 for a value a unique
// key has already, else whether a key with duplicates has the value already (status 02).
const char* fast_fill_check(const OpenFile* f, const uint8_t* keys) {
  const char* status = "00";
  for (size_t k = 0; k < f->layout.keys.size(); keys += f->layout.keys[k++].size) {
    if (!key_set_contains(f->written[k], keys)) continue;
    if (!f->layout.keys[k].duplicates) return "22";
    status = "02";
  }
  return status;
}

// Adds the keys of a record written; false when the file had to be finished and could not.
bool fast_fill_add(OpenFile* f, const uint8_t* keys) {
  size_t bytes = 0;
  for (size_t k = 0; k < f->layout.keys.size(); keys += f->layout.keys[k++].size) {
    key_set_add(&f->written[k], keys);
    bytes += key_set_bytes(f->written[k]);
  }
  if (bytes <= f->fill_memory) return true;
  // Build the indexes now and go on writing into the finished file.
  f->written.clear();
  f->file = k5_close(f->file) ? k5_open(f->name.c_str(), K_MODE_WRITE, "0,0,0") : nullptr;
  return f->file != nullptr;
}

// Status 02 for a record whose value of a key with duplicates another record has; old is
// the record it replaces (its values are its own), or null.
const char* duplicates_check(OpenFile* f, const uint8_t* record, uint32_t length,
                             const uint8_t* old, uint32_t old_length) {
  for (size_t k = 1; k < f->layout.keys.size(); k++) {
    int key = static_cast<int>(k);
    if (!f->layout.keys[k].duplicates) continue;
    if (old && key_of(f, key, record, length) == key_of(f, key, old, old_length)) {
      continue;
    }
    if (cursor_value_taken(f, key, record, length)) return "02";
  }
  return "00";
}

// REWRITE and DELETE: the file open I-O and, in sequential access, a record just read.
bool may_update(FCD3* fcd, OpenFile* f, bool seq) {
  bool after_read = f->last_read;
  f->last_read = false;
  if (f->mode != OPEN_IO) {
    fcd_status(fcd, "49");
  } else if (seq && !after_read) {
    fcd_status(fcd, "43");
  } else {
    return true;
  }
  return false;
}

}  // namespace

void verb_write(FCD3* fcd, OpenFile* f) {
  f->last_read = false;
  bool seq = sequential(fcd);
  // Sequential access writes in OUTPUT and EXTEND only; EXTEND takes no other access.
  bool allowed =
      f->mode == OPEN_OUTPUT || (f->mode == OPEN_IO && !seq) || (f->mode == OPEN_EXTEND && seq);
  if (!allowed) return fcd_status(fcd, "48");
  uint32_t length = record_length(fcd, f);
  if (!length) return;
  const uint8_t* record = fcd->recPtr;
  std::vector<uint8_t> primary = key_of(f, 0, record, length);
  if (seq && !f->high_key.empty() && primary <= f->high_key) return fcd_status(fcd, "21");
  if (!f->file) return fcd_status(fcd, "30");  // the fast fill could not be finished
  const bool fast = !f->written.empty();
  std::vector<uint8_t> keys = fast ? keys_of(f, record, length) : std::vector<uint8_t>{};
  const char* status =
      fast ? fast_fill_check(f, keys.data()) : duplicates_check(f, record, length, nullptr, 0);
  if (status[0] == '2') return fcd_status(fcd, status);
  if (!k5_write(f->file, record, length)) return fcd_status(fcd, status_of_failure(Verb::Write));
  if (fast && !fast_fill_add(f, keys.data())) return fcd_status(fcd, "30");
  if (seq) f->high_key = primary;
  fcd_status(fcd, status);
}

void verb_rewrite(FCD3* fcd, OpenFile* f) {
  bool seq = sequential(fcd);
  if (!may_update(fcd, f, seq)) return;
  uint32_t length = record_length(fcd, f);
  if (!length) return;
  const uint8_t* record = fcd->recPtr;
  if (seq && key_of(f, 0, record, length) != key_of(f, 0, f->current.data(), f->current_length)) {
    return fcd_status(fcd, "21");
  }
  // The record replaced: the one last read, or the one with this primary key.
  const char* status = "00";
  const auto& keys = f->layout.keys;
  if (std::any_of(keys.begin() + 1, keys.end(), [](const KeyLayout& k) { return k.duplicates; })) {
    int old_length = seq ? static_cast<int>(f->current_length) : cursor_fetch(f, record);
    const uint8_t* old = seq ? f->current.data() : f->scratch.data();
    if (old_length > 0) status = duplicates_check(f, record, length, old, old_length);
  }
  if (!k5_rewrite(f->file, record, length)) {
    return fcd_status(fcd, status_of_failure(Verb::Rewrite));
  }
  fcd_status(fcd, status);
}

void verb_delete(FCD3* fcd, OpenFile* f) {
  bool seq = sequential(fcd);
  if (!may_update(fcd, f, seq)) return;
  // Sequential access deletes the record last read, whatever the record area holds now.
  const uint8_t* target = seq ? f->current.data() : fcd->recPtr;
  if (!k5_delete(f->file, target)) return fcd_status(fcd, status_of_failure(Verb::Delete));
  fcd_status(fcd, "00");
}
