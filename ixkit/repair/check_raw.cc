// The raw pass of -check: every record of the record area, counted against the record count.
#include <cstdio>

#include "ixkit/describe/header.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"
#include "ixkit/repair/scanner.h"

namespace {

// Walks the records; 1 after a normal end, 0 after a broken or bad record, -1 when a data
// segment could not be opened (already reported). live receives the live records met.
int walk_records(SegmentWalk* walk, uint8_t* buffer, uint32_t* live) {
  while (true) {
    int result = walk_next(walk, buffer, scan_limits.compression, scan_limits.encryption);
    if (result > 0) {
      ++*live;
      continue;
    }
    switch (result) {
      case RAW_DELETED:
      case RAW_ABANDONED:
        continue;
      case RAW_END:
        return 1;
      case RAW_BAD:
        rt_fprintf(rt_stderr(), "%s", rt_message(1631, 0, "found a bad record header\n"));
        return 0;
      case WALK_OPEN_FAILED:
      case WALK_READ_FAILED:
        rt_report_error(walk->segment_name);
        raise_exit_status(255);
        return -1;
      default:  // RAW_BROKEN
        rt_fprintf(rt_stderr(), "%s", rt_message(1036, 0, "Chain of records is broken!\n"));
        return 0;
    }
  }
}

}  // namespace

int check_raw(KFile* file, const char* name) {
  if (!set_scan_limits(file)) {
    ki_error(name);
    raise_exit_status(255);
    return 0;
  }
  uint8_t* buffer = allocate_scan_buffer(record_buffer_size());
  allocate_expansion_buffer();
  SegmentWalk walk;
  int ended = -1;
  uint32_t live = 0;  // the header's record count is 32 bits wide
  if (walk_start(&walk, name) == WALK_OPEN_FAILED) {
    rt_report_error(name);
    raise_exit_status(255);
  } else {
    ended = walk_records(&walk, buffer, &live);
    walk_close(&walk);
  }
  rt_free(buffer, IXKIT_SOURCE, __LINE__, 0);
  release_expansion_buffer();
  if (ended < 0) return 0;
  if (live != file_header.records) {
    rt_fprintf(rt_stderr(), "%s", rt_message(1632, 0, "wrong number of records found\n"));
    return 0;
  }
  return ended;
}
