// Describing open files (k5_info) and the record size limits of each version.
#include <cstdio>
#include <cstring>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/keydesc.h"
#include "kelvra/records.h"

int k5_info(KFile* file, int code, char* buffer) {
  KFileState* s = state_of(file);
  if (!s || !buffer) return k_fail(RT_ERR_PARAMETER);
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

uint32_t ki_check_record_size(int version, uint32_t size) {
  if (size == 0) return static_cast<uint32_t>(link_data_size(version));
  uint32_t limit = version_record_limit(version);
  return size < limit ? size : limit;
}
