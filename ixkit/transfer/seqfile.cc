// The block buffer of flat sequential files.
#include "ixkit/transfer/seqfile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

SeqBuffer seq_buffer = {false, -1, 0, nullptr, 0, 0};

namespace {

constexpr uint64_t kDefaultBlock = 4096;

// Whole transfers: rt_read goes on until count bytes came or the data ended, so that a pipe
// delivering less than was asked is not taken for the end of the file; rt_write until all
// bytes are out. Both give -1 after a failure.
long read_whole(int descriptor, void* buffer, uint64_t count) {
  return rt_read(descriptor, buffer, static_cast<long>(count));
}

bool write_whole(int descriptor, const void* buffer, uint64_t count) {
  return rt_write(descriptor, buffer, static_cast<long>(count)) == static_cast<long>(count);
}

bool buffered(int descriptor) {
  return seq_buffer.active && seq_buffer.descriptor == descriptor;
}

// Opens name; one opened for reading must give its first byte (or its end) to a read at its
// start, which does not move a file's offset. A pipe or terminal cannot be read that way
// (ESPIPE) and is taken as it is.
int open_file(const char* name, int flags) {
  int descriptor = rt_os_open(name, flags, 0666);
  if (descriptor < 0 || (flags & O_ACCMODE) != O_RDONLY) return descriptor;
  uint8_t first;
  if (rt_os_pread(descriptor, &first, 1, 0) < 0 && errno != ESPIPE) {
    int reason = errno;
    rt_os_close(descriptor);
    errno = reason;
    return -1;
  }
  return descriptor;
}

}  // namespace

uint64_t seq_block_size(const char* value) {
  if (value == nullptr) return kDefaultBlock;
  long asked = strtol(value, nullptr, 10);  // text that is not a number gives 0
  if (asked <= 0) return 0;
  if (static_cast<uint64_t>(asked) >= SEQ_MAX_BLOCK) return SEQ_MAX_BLOCK;
  uint64_t size = 1;
  while (size < static_cast<uint64_t>(asked)) size <<= 1;
  return size;
}

int seq_open(const char* name, int flags, int want_buffer) {
  uint64_t block = want_buffer ? seq_block_size(getenv("C_SEQ_DEFAULT_BLOCK_SIZE")) : 0;
  seq_buffer.active = false;
  if (block == 0) return open_file(name, flags);

  seq_buffer.buffer = static_cast<uint8_t*>(
      rt_alloc(block, 32768, IXKIT_SOURCE, __LINE__, "ixkit -(un)load file buffer", 0));
  if (seq_buffer.buffer == nullptr) {
    fprintf(stderr, "ixkit: out of memory allocating file buffer\n");
    errno = ENOMEM;
    return -1;
  }
  int descriptor = open_file(name, flags);
  if (descriptor < 0) {
    int reason = errno;  // kept for the caller's report
    rt_free(seq_buffer.buffer, IXKIT_SOURCE, __LINE__, 0);
    seq_buffer.buffer = nullptr;
    errno = reason;
    return -1;
  }
  seq_buffer = {true, descriptor, block, seq_buffer.buffer, 0, 0};
  return descriptor;
}

long seq_read(int descriptor, void* buffer, uint64_t count) {
  if (count == 0) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (!buffered(descriptor)) return read_whole(descriptor, out, count);

  SeqBuffer& b = seq_buffer;
  if (count <= b.fill - b.position) {
    // Most requests are records that the block in hand holds whole.
    memcpy(out, b.buffer + b.position, count);
    b.position += count;
    return static_cast<long>(count);
  }
  uint64_t delivered = 0;
  bool end = false;
  while (true) {
    if (end) return static_cast<long>(delivered);
    if (b.position == b.fill) {
      long n = read_whole(descriptor, b.buffer, b.block_size);
      if (n < 0) return -1;
      b.fill = static_cast<uint64_t>(n);
      b.position = 0;
      // A short block ends this request only; the next one asks the system again.
      end = b.fill < b.block_size;
    }
    uint64_t take = b.fill - b.position;
    if (take > count - delivered) take = count - delivered;
    memcpy(out + delivered, b.buffer + b.position, take);
    b.position += take;
    delivered += take;
    if (delivered == count) return static_cast<long>(delivered);
  }
}

long seq_write(int descriptor, const void* buffer, uint64_t count) {
  if (count == 0) return 0;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  if (!buffered(descriptor)) {
    return write_whole(descriptor, in, count) ? static_cast<long>(count) : -1;
  }

  SeqBuffer& b = seq_buffer;
  uint64_t copied = 0;
  while (true) {
    // A full block goes out only when more bytes arrive: the last one waits for seq_flush.
    if (b.fill == b.block_size) {
      if (!write_whole(descriptor, b.buffer, b.block_size)) return -1;
      b.position = 0;
      b.fill = 0;
    }
    uint64_t take = b.block_size - b.fill;
    if (take > count - copied) take = count - copied;
    memcpy(b.buffer + b.fill, in + copied, take);
    b.fill += take;
    b.position = b.fill;
    copied += take;
    if (copied == count) return static_cast<long>(count);
  }
}

int seq_flush(int descriptor) {
  SeqBuffer& b = seq_buffer;
  if (!buffered(descriptor) || b.fill == 0) return 0;
  if (!write_whole(descriptor, b.buffer, b.fill)) return -1;
  b.position = 0;
  b.fill = 0;
  return 0;
}

int seq_close(int descriptor) {
  if (buffered(descriptor)) {
    rt_free(seq_buffer.buffer, IXKIT_SOURCE, __LINE__, 0);
    seq_buffer = {false, -1, 0, nullptr, 0, 0};
  }
  return rt_os_close(descriptor);
}
