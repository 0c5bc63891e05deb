// What the library says about a file, and its header block read and written raw with the
// C library's unbuffered file calls.
#include "ixkit/describe/header_patch.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "ixkit/describe/description.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

int refuse(const char* name, const char* reason) {
  rt_fprintf(rt_stderr(), "%s: cannot update the header: %s\n", name, reason);
  raise_exit_status(255);
  return 0;
}

// Opens name with flags and reads its header block: the descriptor, or -1 after a message.
int open_and_read(const char* name, int flags, uint8_t* block) {
  int fd = rt_open(name, flags);
  if (fd < 0) return refuse(name, strerror(errno)) - 1;
  long got = rt_read(fd, block, K_HEADER_SIZE);
  if (got == K_HEADER_SIZE) return fd;
  const int error = errno;
  rt_close(fd);
  if (got < 0) return refuse(name, strerror(error)) - 1;
  return refuse(name, "fewer than 512 bytes could be read") - 1;
}

}  // namespace

int library_facts(const char* name, int mode, LibraryFacts* facts) {
  KFile* file = k5_open(name, mode, "0,0,0");
  if (file == nullptr) {
    ki_error(name);
    return 0;
  }
  facts->version = file->version;
  facts->data_segment_high = file->data_segment_high;
  facts->index_segment_high = file->index_segment_high;
  facts->min_record_size = file->min_record_size;
  facts->max_record_size = file->max_record_size;
  k5_close(file);
  return 1;
}

int read_raw_header(const char* name, uint8_t* block) {
  int fd = open_and_read(name, RT_OPEN_READ, block);
  if (fd < 0) return 0;
  rt_close(fd);
  return 1;
}

int patch_header(const char* name, int from, int count, HeaderPatch patch, void* context) {
  if (from < 0 || count < 0 || from + count > K_HEADER_SIZE) {
    return refuse(name, "the bytes to write lie outside the header block");
  }
  uint8_t block[K_HEADER_SIZE];
  int fd = open_and_read(name, RT_OPEN_READ_WRITE, block);
  if (fd < 0) return 0;
  if (!patch(block, context)) {
    rt_close(fd);
    return 1;
  }
  // A failed or short write may leave part of the new bytes on disk: say so, never succeed.
  errno = 0;
  const bool written = rt_seek(fd, from, 0) == from && rt_write(fd, block + from, count) == count;
  const int error = errno;
  const bool closed = rt_close(fd) == 0;
  if (!written) return refuse(name, error != 0 ? strerror(error) : "short write");
  if (!closed) return refuse(name, strerror(errno));
  return 1;
}

int header_field(const char* name, int version, int field, int width) {
  const bool known = version >= 2 && version <= 5 && field >= 0 && field < KF_FIELD_LIMIT;
  const int at = known ? K_offsets[version][field] : -1;
  if (at >= 0 && at + width <= K_HEADER_SIZE) return at;
  rt_fprintf(rt_stderr(), "%s: no header field %d in version %d files\n", name, field, version);
  raise_exit_status(255);
  return -1;
}
