// READ NEXT, READ PREVIOUS, READ by key and START.
#include <algorithm>
#include <cstring>

#include "cobfh/cursor.h"
#include "cobfh/fcd.h"
#include "cobfh/sharing.h"
#include "cobfh/status.h"
#include "cobfh/verbs.h"
#include "ixkit/libs/rtcore.h"

namespace {

bool readable(FCD3* fcd, OpenFile* f) {
  f->last_read = false;
  if (f->mode == OPEN_INPUT || f->mode == OPEN_IO) return true;
  fcd_status(fcd, "47");
  return false;
}

// Hands the record just read (in f->scratch) to the program.
void deliver(FCD3* fcd, OpenFile* f, int length) {
  uint32_t n = std::min(static_cast<uint32_t>(length), get_be32(fcd->maxRecLen));
  memcpy(fcd->recPtr, f->scratch.data(), n);
  put_be32(fcd->curRecLen, n);
  f->current.swap(f->scratch);
  f->current_length = static_cast<uint32_t>(length);
  f->position = Position::Library;
  f->pending = false;
  f->last_read = true;
  fcd_status(fcd, "00");
}

// The key number GnuCOBOL names, or -1 (status 30 set) when the file has no such key.
int reference_key(FCD3* fcd, const OpenFile* f) {
  int k = static_cast<int>(get_be16(fcd->refKey));
  if (k < static_cast<int>(f->layout.keys.size())) return k;
  fcd_status(fcd, "30");
  return -1;
}

// Records a START as the place the next READ NEXT / PREVIOUS goes from.
void keep_start(OpenFile* f, const uint8_t* probe, int length, int mode) {
  f->position = Position::Library;
  f->pending = true;
  f->start.probe.assign(probe, probe + (probe ? f->layout.max_record : 0));
  f->start.length = length;
  f->start.mode = mode;
}

}  // namespace

void verb_read_step(FCD3* fcd, OpenFile* f, bool forward) {
  if (!readable(fcd, f)) return;
  if (!f->file) return fcd_status(fcd, "10");  // OPTIONAL and not there
  Position at = f->position;
  if (at == Position::Invalid || at == (forward ? Position::EndForward : Position::EndBackward)) {
    return fcd_status(fcd, "46");
  }
  if (at == Position::Fresh && !forward) {
    f->position = Position::EndBackward;
    return fcd_status(fcd, "10");
  }
  if (at != Position::Library) {
    // From the start of the file, or back from the end the last read ran into.
    int edge = forward ? START_FIRST : START_LAST;
    if (!cursor_start(f, f->key, nullptr, 0, edge)) {
      f->position = forward ? Position::EndForward : Position::EndBackward;
      bool empty = *rt_file_error() == RT_ERR_NOT_FOUND;
      return fcd_status(fcd, empty ? "10" : status_of_failure(Verb::Read));
    }
    keep_start(f, nullptr, 0, edge);
  }
  int n = sharing_read(fcd, f->file, f->scratch.data(), forward);
  if (n > 0) return deliver(fcd, f, n);
  if (*rt_file_error() != RT_ERR_NOT_FOUND) return fcd_status(fcd, status_of_failure(Verb::Read));
  f->position = forward ? Position::EndForward : Position::EndBackward;
  fcd_status(fcd, "10");
}

void verb_read_key(FCD3* fcd, OpenFile* f) {
  if (!readable(fcd, f)) return;
  if (!f->file) return fcd_status(fcd, "23");
  int k = reference_key(fcd, f);
  if (k < 0) return;
  int n = 0;
  if (cursor_start(f, k, fcd->recPtr, 0, K_START_EQUAL)) {
    n = sharing_read(fcd, f->file, f->scratch.data(), true);
  }
  if (n > 0) {
    f->key = k;
    return deliver(fcd, f, n);
  }
  // A record not found leaves the place where it was.
  const char* status = status_of_failure(Verb::Read);
  cursor_restore(f);
  fcd_status(fcd, status);
}

void verb_start(FCD3* fcd, OpenFile* f, int mode) {
  if (!readable(fcd, f)) return;
  if (!f->file) return fcd_status(fcd, "23");
  int k = reference_key(fcd, f);
  if (k < 0) return;
  f->key = k;
  int length = static_cast<int>(get_be16(fcd->effKeyLen));
  if (length >= static_cast<int>(f->layout.keys[static_cast<size_t>(k)].size)) length = 0;
  // <= on part of a key goes, like GnuCOBOL's own handler, to the first record that
  // begins with the value, when there is one.
  if (mode == K_START_NOT_GREATER && length > 0 &&
      cursor_start(f, k, fcd->recPtr, length, K_START_EQUAL)) {
    mode = K_START_EQUAL;
  } else if (!cursor_start(f, k, fcd->recPtr, length, mode)) {
    f->position = Position::Invalid;
    return fcd_status(fcd, status_of_failure(Verb::Start));
  }
  keep_start(f, mode < 0 ? nullptr : fcd->recPtr, length, mode);
  fcd_status(fcd, "00");
}
