// Describing open files (k5_info) and the record size limits of each version.
#include <cstdio>
#include <cstring>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/keydesc.h"
#include "kelvra/records.h"
#include "kelvra/share.h"

namespace {

// The change counter between two changes: while one is under way, after it.
int settled_change(KFileState* s, uint64_t* change) {
  *change = s->header.change;
  if (!s->shared) return 1;
  if (!read_change(s, change)) return 0;
  if (!(*change & 1)) return 1;
  if (!op_lock(s, 0)) return 0;
  int ok = read_change(s, change);
  op_unlock(s);
  return ok;
}

int describe(KFileState* s, int code, char* buffer) {
  const Header& h = s->header;
  switch (code) {
    case -1:
      snprintf(buffer, 32, "%u,%u,%d", h.max_record, h.min_record, s->dict.key_count);
      return 1;
    case -2:
      snprintf(buffer, 32, "%d,%u,%u,%d,%d", h.blocking, h.preallocate, h.extension, h.compression,
               h.encryption);
      return 1;
    case -3:
      snprintf(buffer, 32, "%s", h.comment);
      return 1;
    case -4:
      snprintf(buffer, 32, "%u", h.records);
      return 1;
    case -5:
      if (!s->dict.has_collating) return 0;
      memcpy(buffer, s->dict.collating, 256);
      return 1;
    default:
      if (code < 0 || code >= s->dict.key_count) return 0;
      format_key_text(s->dict.keys[code], buffer);
      return 1;
  }
}

}  // namespace

int k5_info(KFile* file, int code, char* buffer) {
  k_clear_error();  // an item that does not exist gives 0 with no error code
  KFileState* s = state_of(file);
  if (!s || !buffer) return k_fail(RT_ERR_PARAMETER);
  if (code == -6) {
    uint64_t change;
    if (!settled_change(s, &change)) return 0;
    snprintf(buffer, 32, "%llu", static_cast<unsigned long long>(change));
    return 1;
  }
  // Counts as the file has them now.
  return read_op(
      s, [&] { return describe(s, code, buffer); }, [] {});
}

uint32_t ki_check_record_size(int version, uint32_t size) {
  if (size == 0) return static_cast<uint32_t>(link_data_size(version));
  uint32_t limit = version_record_limit(version);
  return size < limit ? size : limit;
}
