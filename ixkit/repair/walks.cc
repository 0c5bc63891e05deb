// Walking the record area segment after segment, and the chains of free records.
#include <cerrno>

#include "ixkit/describe/header.h"
#include "ixkit/repair/scanner.h"

namespace {

// Opens data segment n of name as the current raw descriptor.
int open_segment(const char* name, int n, int* descriptor, const char** segment_name) {
  *segment_name = ki_segment_name(name, K_SEGMENT_DATA, n);
  *descriptor = raw_open(*segment_name, 0, 0666);
  return *descriptor >= 0;
}

void forget_loop_mark(ChainWalk* walk) {
  walk->loop_mark = UINT64_MAX;  // no address has all 64 bits set
  walk->loop_steps = 0;
  walk->loop_span = 1;
}

// A member that cannot be read: the system refused the read, or the bytes are not there.
int unreadable(ChainWalk* walk) {
  if (raw_reader.error == 0) return CHAIN_UNREADABLE;
  walk->segment_name = ki_segment_name(walk->name, K_SEGMENT_DATA, walk->segment);
  errno = raw_reader.error;
  return WALK_READ_FAILED;
}

bool has_abandoned_chain() {
  return file_header.version != 2 && file_header.version != 3 && file_header.version != 4;
}

}  // namespace

int walk_start(SegmentWalk* walk, const char* name) {
  walk->name = name;
  walk->segment = file_header.first_record_segment;
  walk->position = file_header.first_record;
  if (!open_segment(name, walk->segment, &walk->descriptor, &walk->segment_name)) {
    return WALK_OPEN_FAILED;
  }
  return 1;
}

int walk_next(SegmentWalk* walk, uint8_t* buffer, int expand, int unscramble_data) {
  while (true) {
    int result =
        read_raw_record(walk->descriptor, buffer, &walk->position, expand, unscramble_data);
    if ((result == RAW_END || result == RAW_BROKEN) && raw_reader.error != 0) {
      walk->segment_name = ki_segment_name(walk->name, K_SEGMENT_DATA, walk->segment);
      errno = raw_reader.error;
      return WALK_READ_FAILED;
    }
    if (result != RAW_SEGMENT_END) return result;
    // Segment numbers only grow, up to the last data segment: the walk ends.
    if (walk->segment + 1 > file_header.end_segment) return RAW_END;
    walk_close(walk);
    walk->segment++;
    if (!open_segment(walk->name, walk->segment, &walk->descriptor, &walk->segment_name)) {
      return WALK_OPEN_FAILED;
    }
    walk->position = K_HEADER_SIZE;
  }
}

void walk_close(SegmentWalk* walk) {
  raw_close(walk->descriptor);
  walk->descriptor = -1;
}

void chain_start(ChainWalk* walk, const char* name) {
  walk->name = name;
  walk->abandoned = 0;
  walk->segment = -1;
  walk->descriptor = -1;
  walk->offset = file_header.deleted_head;
  walk->next_segment = file_header.deleted_head_segment;
  walk->data_position = 0;
  walk->segment_name = nullptr;
  forget_loop_mark(walk);
}

int chain_read(ChainWalk* walk, uint8_t* bytes, RecordHeaderView* view) {
  if (walk->offset == 0 && walk->next_segment == 0) {
    // The abandoned chain is walked after the deleted chain even when that is empty, so
    // that its members are always checked and counted.
    if (walk->abandoned || !has_abandoned_chain()) return 0;
    walk->abandoned = 1;
    walk->offset = file_header.abandoned_head;
    walk->next_segment = file_header.abandoned_head_segment;
    // Each chain is watched for loops on its own: a member shared with the deleted chain is
    // then reported for its flags, not as a loop.
    forget_loop_mark(walk);
    if (walk->offset == 0 && walk->next_segment == 0) return 0;
  }
  // Brent's cycle detection: an address is kept and compared with every later member; the
  // kept address moves on after 1, 2, 4 ... steps, so any loop meets it within twice the
  // chain's length, with no memory per member.
  uint64_t address = static_cast<uint64_t>(walk->next_segment) << 32 | walk->offset;
  if (address == walk->loop_mark) return CHAIN_LOOP;
  if (++walk->loop_steps == walk->loop_span) {
    walk->loop_mark = address;
    walk->loop_steps = 0;
    walk->loop_span *= 2;
  }
  if (walk->next_segment != walk->segment) {
    chain_close(walk);
    walk->segment = walk->next_segment;
    if (!open_segment(walk->name, walk->segment, &walk->descriptor, &walk->segment_name)) {
      walk->segment = -1;
      return WALK_OPEN_FAILED;
    }
  }
  if (!raw_header_size_sound()) return CHAIN_UNREADABLE;
  const uint32_t header_size = static_cast<uint32_t>(raw_header_size);
  int64_t after = read_span(walk->descriptor, bytes, header_size, walk->offset);
  if (after <= 0) return unreadable(walk);
  walk->data_position = after;
  // Versions 2 to 4 keep the link in the first data bytes (at most 6).
  uint32_t link_bytes = has_abandoned_chain() ? 0 : link_data_bytes();
  if (link_bytes > 0 && read_span(walk->descriptor, bytes + header_size, link_bytes, after) <= 0) {
    return unreadable(walk);
  }
  parse_record_header(bytes, view);
  if (has_abandoned_chain()) {
    walk->offset = view->link_or_seed;
    walk->next_segment = view->link_segment;
  } else {
    // Version 3 has one data segment: the segment stays.
    walk->offset = file_number(bytes + header_size, 4);
    if (link_bytes >= 6)
      walk->next_segment = static_cast<uint16_t>(file_number(bytes + header_size + 4, 2));
  }
  return 1;
}

void chain_close(ChainWalk* walk) {
  raw_close(walk->descriptor);
  walk->descriptor = -1;
  walk->segment = -1;
}
