// The raw reader: one 4096-byte buffer over one descriptor at a time, and spans of the
// record area that follow the block links of versions 2 and 3.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ixkit/describe/header.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/scanner.h"

RawReader raw_reader = {-1, 0, -1, 0, 0, 0, {}};

namespace {

void empty_buffer() {
  raw_reader.buffer_start = -1;
  raw_reader.buffer_count = 0;
}

bool linked_blocks() {
  return file_header.version == 2 || file_header.version == 3;
}

// Fills the buffer from the 512-byte boundary at or below the current position.
bool fill_buffer() {
  int64_t start = raw_reader.position - raw_reader.position % 512;
  int32_t count = 0;
  while (count < RAW_BUFFER_SIZE) {
    long got = rt_os_pread(raw_reader.descriptor, raw_reader.buffer + count,
                           static_cast<size_t>(RAW_BUFFER_SIZE - count), start + count);
    if (got < 0) {
      raw_reader.error = errno;
      empty_buffer();
      return false;
    }
    if (got == 0) break;
    count += static_cast<int32_t>(got);
  }
  raw_reader.buffer_start = start;
  raw_reader.buffer_count = count;
  return true;
}

// A block chain that is not merely ended but wrong: read_span gives -2, which callers that
// test for a positive position take as a failed read.
constexpr int64_t BROKEN_CHAIN = -2;

}  // namespace

int raw_open(const char* name, int flags, int permission) {
  int descriptor = rt_os_open(name, O_RDONLY | flags, permission);
  if (descriptor < 0) return descriptor;
  raw_reader.descriptor = descriptor;
  raw_reader.position = 0;
  raw_reader.error = 0;
  empty_buffer();
  // A sound block chain visits each block of the file once; one link more than the file
  // has blocks can only come from a chain that loops.
  struct stat info;
  int64_t length = fstat(descriptor, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
  raw_reader.links_left = header_block_bytes > 0 ? length / header_block_bytes + 1 : 0;
  return descriptor;
}

int64_t raw_seek(int descriptor, int64_t position) {
  if (descriptor != raw_reader.descriptor) {
    raw_reader.descriptor = descriptor;
    empty_buffer();
  }
  raw_reader.position = position;
  return position;
}

long raw_read(int descriptor, void* destination, long count) {
  if (descriptor < 0 || descriptor != raw_reader.descriptor) return -1;
  uint8_t* out = static_cast<uint8_t*>(destination);
  long delivered = 0;
  while (delivered < count) {
    int64_t offset = raw_reader.position - raw_reader.buffer_start;
    if (raw_reader.buffer_start < 0 || offset < 0 || offset >= raw_reader.buffer_count) {
      if (raw_reader.position < 0 || !fill_buffer()) return -1;
      offset = raw_reader.position - raw_reader.buffer_start;
      if (offset >= raw_reader.buffer_count) return delivered;  // end of the file
    }
    long take = raw_reader.buffer_count - offset;
    if (take > count - delivered) take = count - delivered;
    memcpy(out + delivered, raw_reader.buffer + offset, static_cast<size_t>(take));
    delivered += take;
    raw_reader.position += take;
  }
  return delivered;
}

void raw_close(int descriptor) {
  if (descriptor < 0) return;
  rt_os_close(descriptor);
  if (descriptor == raw_reader.descriptor) {
    raw_reader.descriptor = -1;
    empty_buffer();
  }
}

int64_t read_span(int descriptor, void* destination, uint32_t count, int64_t position) {
  uint8_t* out = static_cast<uint8_t*>(destination);
  raw_seek(descriptor, position);
  if (!linked_blocks()) {
    if (count > 0 && raw_read(descriptor, out, count) != static_cast<long>(count)) return -1;
    return position + count;
  }
  int64_t block = header_block_bytes;
  // A block must have room for its link and at least one byte; a blocking factor of 0
  // passes the header checks but leaves no record area to read.
  if (block <= 4) return BROKEN_CHAIN;
  while (true) {
    int64_t room = block - position % block - 4;
    // A position inside a link field does not occur in a sound file: broken, not ended.
    // Room 0 is a record ending right at the link; the area goes on where it points.
    if (room < 0) return BROKEN_CHAIN;
    uint32_t take = count < room ? count : static_cast<uint32_t>(room);
    if (take > 0 && raw_read(descriptor, out, take) != static_cast<long>(take)) return -1;
    out += take;
    count -= take;
    position += take;
    if (count == 0) return position;
    uint8_t link[4];
    if (raw_read(descriptor, link, 4) != 4) return -1;
    // Version 3 keeps the continuation - 1; computed in 64 bits so that a link of
    // 0xFFFFFFFF does not wrap to 0.
    int64_t next = file_number(link, 4) + (file_header.version == 3 ? 1 : 0);
    if (next == 0 || next == 1) return 0;
    // Continuations are block starts; anything else, or more links than the file has
    // blocks, is a broken or looping chain.
    if (next % block != 0 || --raw_reader.links_left < 0) return BROKEN_CHAIN;
    position = next;
    raw_seek(descriptor, position);
  }
}
