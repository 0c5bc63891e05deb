// The key pass of -check: every record through one key, counted against the record count.
#include <cstdio>
#include <cstring>

#include "ixkit/describe/description.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"
#include "ixkit/repair/scanner.h"

namespace {

void report_bad_record(const char* name) {
  rt_fprintf(rt_stderr(), "%s: ", name);
  rt_fprintf(rt_stderr(), "%s", rt_message(1631, 0, "found a bad record header\n"));
}

// Reports why reading stopped before `records` records: a damaged record, fewer records
// than counted, or another failure of the library.
void report_failed_read(const char* name, long records, long found) {
  int code = *rt_file_error();
  int secondary = *rt_file_error2();
  if (code == RT_ERR_DAMAGED && secondary >= 80 && secondary <= 85) {
    report_bad_record(name);
  } else if (code == RT_ERR_NOT_FOUND) {
    rt_fprint_args(rt_stderr(), rt_message(1057, 0, "%1: expected %2 records, found %3\n"), name,
                   number_text(records).text, number_text(found).text);
  } else {
    ki_error(name);
  }
}

// Reads the records of key from the first on; 1 when exactly `records` came.
int read_every_record(KFile* file, const char* name, uint8_t* buffer, int key, long records,
                      unsigned min, unsigned max) {
  if (records > 0 && !k5_start(file, buffer, key, 0, K_START_NOT_LESS)) {
    ki_error(name);
    return 0;
  }
  long found = 0;
  for (; found < records; found++) {
    int length = k5_next(file, buffer);
    if (length <= 0) {
      report_failed_read(name, records, found);
      return 0;
    }
    if (static_cast<unsigned>(length) > max || static_cast<unsigned>(length) < min) {
      report_bad_record(name);
      return 0;
    }
  }
  if (k5_next(file, buffer) != 0) {
    rt_fprintf(rt_stderr(), rt_message(1058, 0, "%s: found more records than expected\n"), name);
    return 0;
  }
  if (*rt_file_error() != RT_ERR_NOT_FOUND) {
    // The read after the last counted record failed for another reason than the end of
    // the key (a damaged node or record): the pass is not sound.
    report_failed_read(name, records, found);
    return 0;
  }
  return 1;
}

}  // namespace

int check_by_key(KFile* file, const char* name, int key) {
  char text[K_KEY_TEXT_SIZE + 11] = "";
  unsigned max = 0, min = 0, keys = 0;
  long records = 0;
  k5_info(file, -1, text);
  sscanf(text, "%u,%u,%u", &max, &min, &keys);
  text[0] = '\0';
  k5_info(file, -4, text);
  sscanf(text, "%ld", &records);
  // One byte at least, so that a description without a size still gets a buffer.
  uint8_t* buffer = allocate_scan_buffer(max > 0 ? max : 1);
  int sound = 1;
  if (static_cast<unsigned>(key) >= keys) {
    rt_print(rt_message(1056, 0, "%s: key %d does not exist in this file, '-k' ignored\n"), name,
             key);
  } else {
    // The buffer is also the key: the lowest key value reaches the first record.
    // The lowest character of the table's order: a table need not give byte 0 the first
    // place, and a start on any other character would miss the records below it.
    if (file->collating != nullptr) memset(buffer, collating_edge(file->collating, 0), max);
    sound = read_every_record(file, name, buffer, key, records, min, max);
  }
  rt_free(buffer, IXKIT_SOURCE, __LINE__, 0);
  return sound;
}
