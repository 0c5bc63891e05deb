// Spool volumes: writing the record stream out, reading it back, and the operator's dialogue
// at each change of volume.
#include "ixkit/repair/spool.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

SpoolState spool = {nullptr, -1, 0, 0, 0, 0, 2147483647, 0, 0, {}};

namespace {

constexpr int kMarkBytes = 10;  // "KSPL", volume number, set identifier

uint32_t get_be(const uint8_t* p, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | p[i];
  return value;
}
void put_be(uint8_t* p, int width, uint32_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) p[i] = static_cast<uint8_t>(value);
}

bool has_magic(const uint8_t* block) {
  return block[0] == 'K' && block[3] == 'L';
}

// Bytes the volume limit still allows.
long room(long count) {
  int64_t left = spool.volume_limit - spool.volume_bytes;
  if (left < 0) left = 0;
  return count < left ? count : static_cast<long>(left);
}

// Forgets the open volume, decreasing the number of the volume last opened.
void drop_volume() {
  rt_close(spool.descriptor);
  spool.descriptor = -1;
  --spool.volume;
}

// Asks for the next volume until one is open (create: for writing). 0 when the operator
// gives up.
int ask_for_volume(bool create) {
  while (spool.descriptor < 0) {
    if (ask_yes_no(rt_message(1025, 0, "Type 'Y' to continue, 'N' to abort: "), 0, -1) != 1) {
      rt_print("%s", rt_message(1026, 0, "*** Aborted ***\n"));
      return 0;
    }
    if (create) {
      spool_create_volume();
    } else {
      spool_mount_volume();
    }
  }
  return 1;
}

// Whether a volume of this set was already written in this run (it lies at the path now).
bool volume_used_already() {
  int fd = rt_open(spool.name, RT_OPEN_READ);
  if (fd < 0) return false;
  uint8_t head[1024] = {};
  long got = rt_read(fd, head, sizeof head);
  rt_close(fd);
  return got >= kMarkBytes && has_magic(head) && get_be(head + 6, 4) == spool.set_id;
}

}  // namespace

void spool_begin_writing(const char* name, uint32_t set_id) {
  spool.name = name;
  spool.descriptor = -1;
  spool.volume = 0;
  spool.set_id = set_id;
  spool.writing = 1;
  spool.current = 0;
  spool.end = SPOOL_BLOCK;
}

void spool_begin_reading(const char* name) {
  spool.name = name;
  spool.descriptor = -1;
  spool.volume = 0;
  spool.writing = 0;
  spool.current = 0;
  spool.end = 0;
}

void spool_create_volume() {
  if (spool.volume > 0 && volume_used_already()) {
    rt_print("%s", rt_message(1027, 0, "You used that volume already!\n"));
    return;
  }
  spool.descriptor = rt_open(spool.name, RT_OPEN_CREATE);
  if (spool.descriptor < 0) {
    rt_report_error(spool.name);
    return;
  }
  ++spool.volume;
  // The header block is the buffer with the mark over its first bytes: what the rest holds
  // has no meaning there, and the buffer keeps its records.
  uint8_t kept[kMarkBytes];
  memcpy(kept, spool.buffer, kMarkBytes);
  memcpy(spool.buffer, "KSPL", 4);
  put_be(spool.buffer + 4, 2, static_cast<uint32_t>(spool.volume));
  put_be(spool.buffer + 6, 4, spool.set_id);
  spool.volume_bytes = 0;
  long written = spool_write_block(SPOOL_BLOCK);
  memcpy(spool.buffer, kept, kMarkBytes);
  if (written < SPOOL_BLOCK) {
    rt_report_error(spool.name);
    drop_volume();
  }
}

void spool_mount_volume() {
  spool.descriptor = rt_open(spool.name, RT_OPEN_READ);
  if (spool.descriptor < 0) {
    rt_report_error(spool.name);
    return;
  }
  ++spool.volume;
  spool.volume_bytes = 0;
  long got = spool_read_block(SPOOL_BLOCK);
  const uint8_t* block = spool.buffer;
  if (got < 0) {
    rt_report_error(spool.name);
  } else if (got < SPOOL_BLOCK || !has_magic(block)) {
    rt_print("%s", rt_message(1021, 0, "\nThat's not a spool volume!\n"));
  } else {
    uint32_t id = get_be(block + 6, 4);
    if (spool.set_id == 0) spool.set_id = id;  // a restart takes the set of its first volume
    const int found = static_cast<int>(get_be(block + 4, 2));
    if (id != spool.set_id) {
      rt_print("%s", rt_message(1022, 0, "\nThat volume is for a different file!\n"));
    } else if (found == spool.volume) {
      spool.current = spool.end = 0;  // the header block is used up
      return;
    } else {
      char found_text[16], expected_text[16];
      snprintf(found_text, sizeof found_text, "%d", found);
      snprintf(expected_text, sizeof expected_text, "%d", spool.volume);
      rt_print_args(rt_message(1023, 0, "\nThat's volume %1, please mount volume %2\n"), found_text,
                    expected_text);
    }
  }
  drop_volume();
}

long spool_write_block(long count) {
  long asked = room(count);
  off_t before = lseek(spool.descriptor, 0, SEEK_CUR);
  long written = rt_write(spool.descriptor, spool.buffer, asked);
  spool.volume_bytes += asked;
  if (written < 0 && (errno == ENOSPC || errno == EFBIG) && before >= 0) {
    // A full medium: what went onto it counts, and the rest goes onto the next volume.
    off_t after = lseek(spool.descriptor, 0, SEEK_CUR);
    if (after >= before) written = static_cast<long>(after - before);
  }
  return written;
}

long spool_read_block(long count) {
  long asked = room(count);
  long got = rt_read(spool.descriptor, spool.buffer, asked);
  spool.volume_bytes += asked;
  return got;
}

int spool_flush() {
  if (spool.current == 0) return 1;
  if (spool.descriptor < 0) {
    if (quiet) exit_run(99);
    rt_print(rt_message(1028, 0, "\nEnd of media on spool file #%d, mount next volume\n"),
             spool.volume);
    if (!ask_for_volume(true)) return 0;
  }
  long written = spool_write_block(SPOOL_BLOCK);
  if (written == SPOOL_BLOCK) {
    spool.current = 0;
    return 1;
  }
  if (written < 0) {
    rt_report_error(spool.name);
    return 0;
  }
  // The end of the medium or of the volume limit: the unwritten bytes wait for the next.
  spool_close();
  memmove(spool.buffer, spool.buffer + written, static_cast<size_t>(SPOOL_BLOCK - written));
  spool.current = written >= spool.current ? 0 : spool.current - static_cast<int>(written);
  return 1;
}

int spool_refill() {
  while (true) {
    spool.current = 0;
    long got = spool_read_block(SPOOL_BLOCK);
    if (got > 0) {
      spool.end = static_cast<int>(got);
      return 1;
    }
    if (got < 0) {
      rt_report_error(spool.name);
      return 0;
    }
    spool_close();
    if (quiet) exit_run(99);
    rt_print(rt_message(1024, 0, "\nEnd of media on spool file, mount volume %d\n"),
             spool.volume + 1);
    if (!ask_for_volume(false)) return 0;
  }
}

int spool_put(uint8_t* record, uint32_t length) {
  put_be(record - 2, 2, length);
  const uint8_t* from = record - 2;
  uint32_t left = length + 2;
  while (left > 0) {
    uint32_t take = static_cast<uint32_t>(spool.end - spool.current);
    if (take > left) take = left;
    memcpy(spool.buffer + spool.current, from, take);
    spool.current += static_cast<int>(take);
    from += take;
    left -= take;
    if (spool.current == spool.end && !spool_flush()) return 0;
  }
  return 1;
}

namespace {

// Copies count bytes of the stream into to, refilling as needed. 0 when it cannot.
int take(uint8_t* to, uint32_t count) {
  while (count > 0) {
    if (spool.current == spool.end && !spool_refill()) return 0;
    uint32_t piece = static_cast<uint32_t>(spool.end - spool.current);
    if (piece > count) piece = count;
    memcpy(to, spool.buffer + spool.current, piece);
    spool.current += static_cast<int>(piece);
    to += piece;
    count -= piece;
  }
  return 1;
}

}  // namespace

long spool_get(uint8_t* buffer, uint32_t capacity) {
  uint8_t prefix[2];
  if (!take(prefix, 2)) return -1;
  uint32_t length = get_be(prefix, 2);
  if (length > capacity) {
    // Not a record of this file: the stream cannot be trusted past it.
    rt_fprintf(rt_stderr(), "%s: a spool record of %u bytes is longer than the file allows\n",
               spool.name, length);
    return -1;
  }
  if (length == 0) return 0;
  return take(buffer, length) ? static_cast<long>(length) : -1;
}

void spool_close() {
  if (spool.descriptor < 0) return;
  // A volume written is on the medium before it is given up: in spool mode the source is
  // remade empty after spooling, and then the spool is the only copy of the records.
  if (spool.writing) rt_os_sync(spool.descriptor);
  rt_close(spool.descriptor);
  spool.descriptor = -1;
}
