// Foreign file names, and the checks a description passes before the new file is made.
#include "ixkit/convert/checks.h"

#include <cerrno>
#include <cstring>

#include "ixkit/convert/steps.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

int converted_version() {
  long version = rt_config_int("K_VERSION", 0);
  return version >= 2 && version <= 5 ? static_cast<int>(version) : 5;
}

void report_too_large(const char* name) {
  rt_print(rt_message(1063, 0, "%s: record or block size too large\n"), name);
}

void report_too_many_keys(const char* name) {
  rt_print_args(rt_message(1064, 0, "%s: too many keys (%d max)\n"), name, K_MAX_KEYS);
}

void report_too_many_segments(const char* name, int limit) {
  rt_print_args(rt_message(1071, 0, "%s: too many segments (%d max)\n"), name, limit);
}

void report_key_too_large(const char* name) {
  rt_print_args(rt_message(1065, 0, "%s: key too large (%d bytes max)\n"), name, K_MAX_KEY_SIZE);
}

void report_damaged(const char* name, const char* what) {
  rt_print("%s: %s\n", name, what);
}

int foreign_name(char* area, const char* name, const char* extension) {
  size_t length = strlen(name);
  if (length > static_cast<size_t>(FOREIGN_NAME_MAX)) {
    errno = ENAMETOOLONG;
    rt_report_error(name);
    return 0;
  }
  memcpy(area, name, length);
  strcpy(area + length, extension);
  return 1;
}

int check_converted_description(const char* name, const ConvertDescription* d) {
  if (ki_check_record_size(converted_version(), d->record_size) < d->record_size) {
    report_too_large(name);
    return 0;
  }
  // The library refuses all of these too, but only in words about the temporary file.
  bool fits = d->key_count >= 1 && d->record_size >= 1 && d->min_record_size <= d->record_size;
  for (int k = 0; fits && k < d->key_count; ++k) {
    if (d->segments[k] == 0) fits = false;
    for (uint32_t s = 0; s < d->segments[k]; ++s) {
      uint32_t size = d->segment_size[k][s], offset = d->segment_offset[k][s];
      if (size == 0 || offset > d->record_size || size > d->record_size - offset) fits = false;
    }
  }
  if (!fits) report_damaged(name, "keys or record sizes out of range");
  return fits ? 1 : 0;
}
