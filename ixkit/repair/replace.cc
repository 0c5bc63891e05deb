// Temporary names, and moving a finished file into place.
#include "ixkit/repair/replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

char fixed_temp_name[257];

namespace {

// The one-letter prefix of the temporary names rt_temp_name makes.
constexpr const char* kTempPrefix = "K";

// Copies text into area (TEMP_NAME_SIZE bytes); an empty name when it does not fit, so that
// making the file fails with the reason instead of using a cut name. 0 when it did not fit.
int copy_name(char* area, const char* text, size_t length) {
  if (length >= static_cast<size_t>(TEMP_NAME_SIZE)) {
    area[0] = '\0';
    return 0;
  }
  memcpy(area, text, length);
  area[length] = '\0';
  return 1;
}

// The directory part of path (separator included) followed by base, in area.
void name_beside(char* area, const char* path, const char* base) {
  size_t directory = static_cast<size_t>(rt_path_base(path) - path);
  size_t length = strlen(base);
  if (directory + length >= static_cast<size_t>(TEMP_NAME_SIZE)) {
    area[0] = '\0';
    return;
  }
  memcpy(area, path, directory);
  memcpy(area + directory, base, length + 1);
}

// Flushes the directory that holds path; file systems that cannot are not an error.
int sync_directory(const char* path) {
  char directory[TEMP_NAME_SIZE];
  name_beside(directory, path, ".");
  int fd = rt_os_open(directory, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return 0;
  int ok = rt_os_sync(fd) == 0 || errno == EINVAL || errno == EROFS;
  rt_os_close(fd);
  return ok;
}

// Whether a hard link failed only because the file system does not make them here.
bool links_unsupported(int error) {
  return error == EPERM || error == EXDEV || error == ENOTSUP || error == EOPNOTSUPP ||
         error == EMLINK || error == ENOSYS;
}

// Segments of a Kelvra file: the version and the highest data and index segment numbers.
struct SegmentCounts {
  int data_high;
  int index_high;  // -1: no index segments (versions 2 and 3)
};

int count_segments(const char* name, SegmentCounts* counts) {
  KFile* file = k5_open(name, K_MODE_READ, "0,0,0");
  if (file == nullptr) return 0;
  if (file->version < 4) {
    *counts = {0, -1};
  } else {
    *counts = {file->data_segment_high, file->index_segment_high};
  }
  k5_close(file);
  return 1;
}

// Number of segments in all, and the code and number of segment i of them, data first.
int segment_total(const SegmentCounts& c) {
  return c.data_high + 1 + (c.index_high + 1);
}
void segment_at(const SegmentCounts& c, int i, int* code, int* n) {
  *code = i <= c.data_high ? K_SEGMENT_DATA : K_SEGMENT_INDEX;
  *n = i <= c.data_high ? i : i - c.data_high - 1;
}

}  // namespace

void make_temp_name(char* area, const char* target) {
  const int fits =
      temp_directory[0] != '\0'
          ? copy_name(area, temp_directory, strlen(temp_directory))
          : copy_name(area, target, static_cast<size_t>(rt_path_base(target) - target));
  if (!fits) return;  // an empty name: never one in another directory
  if (fixed_temp_name[0] != '\0') {
    if (strlen(area) + 1 + strlen(fixed_temp_name) >= static_cast<size_t>(TEMP_NAME_SIZE)) {
      area[0] = '\0';
      return;
    }
    rt_path_append(area, fixed_temp_name);
  } else {
    rt_temp_name(area, kTempPrefix, 0, area, TEMP_NAME_SIZE);
  }
}

int rename_over(const char* source, const char* destination) {
  if (strcmp(source, destination) == 0) return 2;  // already in place
  rt_remove(destination);
  if (rt_os_link(source, destination) == 0) return 1;
  if (links_unsupported(errno) && rt_os_rename(source, destination) == 0) return 2;
  rt_report_error(destination);
  raise_exit_status(255);
  return 0;
}

int move_segment(const char* source, const char* target) {
  char destination[TEMP_NAME_SIZE];
  name_beside(destination, source, rt_path_base(target));
  return rename_over(source, destination);
}

void replace_file(const char* temporary, const char* target) {
  SegmentCounts counts;
  if (!count_segments(temporary, &counts)) {
    ki_error(temporary);
    raise_exit_status(255);
    return;
  }
  const int total = segment_total(counts);
  // What each move did: 1 gave the segment a second name, 2 renamed it, 0 failed.
  uint8_t* moved = static_cast<uint8_t*>(
      rt_alloc(static_cast<size_t>(total), 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (moved == nullptr) out_of_memory();
  char source[TEMP_NAME_SIZE];
  int code, n, failed = 0, renamed = 0;
  // Every segment gets its target name first; the temporary names go only when all have it.
  for (int i = 0; i < total; ++i) {
    segment_at(counts, i, &code, &n);
    const char* name = ki_segment_name(temporary, code, n);
    copy_name(source, name, strlen(name));
    moved[i] = static_cast<uint8_t>(move_segment(source, ki_segment_name(target, code, n)));
    failed += moved[i] == 0;
    renamed += moved[i] == 2;
  }
  if (!sync_directory(temporary)) {
    rt_report_error(temporary);
    raise_exit_status(255);
  }
  if (failed > 0) {
    // The new file keeps all its temporary names: it stays whole there.
    if (renamed == 0) {
      rt_fprintf(rt_stderr(), "%s: the new file is kept whole as %s\n", target, temporary);
    }
  } else {
    for (int i = 0; i < total; ++i) {
      segment_at(counts, i, &code, &n);
      const char* name = ki_segment_name(temporary, code, n);
      if (moved[i] == 1 && rt_remove(name) != 0) {
        rt_report_error(name);
        raise_exit_status(255);
      }
    }
    if (!sync_directory(temporary)) {
      rt_report_error(temporary);
      raise_exit_status(255);
    }
  }
  rt_free(moved, IXKIT_SOURCE, __LINE__, 0);
}

int make_durable(const char* name) {
  SegmentCounts counts;
  if (!count_segments(name, &counts)) {
    ki_error(name);
    return 0;
  }
  for (int i = 0; i < segment_total(counts); ++i) {
    int code, n;
    segment_at(counts, i, &code, &n);
    const char* segment = ki_segment_name(name, code, n);
    int fd = rt_os_open(segment, O_RDONLY, 0);
    if (fd < 0 || rt_os_sync(fd) != 0) {
      rt_report_error(segment);
      if (fd >= 0) rt_os_close(fd);
      return 0;
    }
    rt_os_close(fd);
  }
  if (!sync_directory(name)) {
    rt_report_error(name);
    return 0;
  }
  return 1;
}
