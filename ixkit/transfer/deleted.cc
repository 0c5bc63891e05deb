// The -deleted command: copies the records on the deleted and abandoned chains of a
// version-5 file into a flat file, walking the chains raw.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ixkit/describe/header.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/scanner.h"
#include "ixkit/transfer/framing.h"
#include "ixkit/transfer/info_texts.h"
#include "ixkit/transfer/writer_options.h"

namespace {

// One recovery in progress.
struct Recovery {
  const char* source_name;
  const char* destination_name;
  int destination;
  FlatFraming framing;
  uint32_t record_size;  // R, as the format version allows it
  uint8_t* record;       // record_capacity bytes, zero past the record being written
  uint32_t record_capacity;
  uint8_t* header;  // one record header and the link bytes after it
  long found[2];    // deleted and abandoned records copied
};

// Writes all of count bytes; false (after message 1003) when fewer went out.
bool write_all(const Recovery& r, const uint8_t* bytes, uint32_t count) {
  if (rt_write(r.destination, bytes, count) == static_cast<long>(count)) return true;
  rt_print(rt_message(1003, 0, "%s: write error\n"), r.destination_name);
  return false;
}

// Reads the data of the member chain_read has just read and writes it to the flat file.
// false when the recovery must end (reported, except a record that does not expand).
bool copy_member(Recovery* r, const ChainWalk& walk, const RecordHeaderView& view) {
  uint32_t length = view.data_length;
  bool expanding = scan_limits.compression != 0 && !(view.flags & RECORD_PLAIN);
  uint8_t* target = expanding ? expansion_buffer : r->record;
  // A length beyond the buffer it goes into (R, or R + 50 stored bytes when compressed) is
  // no record of this file: the walk ends with an error rather than read past the buffer.
  uint32_t room = expanding ? r->record_size + 50 : r->record_size;
  if (length > room) {
    rt_fprintf(rt_stderr(), "%s: %s record of %u bytes does not fit its buffer of %u bytes\n",
               r->source_name, walk.abandoned ? "an abandoned" : "a deleted", length, room);
    return false;
  }
  if (read_span(walk.descriptor, target, length, walk.data_position) <= 0) {
    rt_fprint_args(rt_stderr(), rt_message(1771, 0, "could not read record\n"));
    return false;
  }
  if (expanding) {
    length = expand_record(r->record, length);
    if (length == 0) return false;
  }
  FramedRecord framed;
  frame_record(r->framing, r->record_size, length, r->record, &framed);
  if (!write_all(*r, framed.prefix, static_cast<uint32_t>(framed.prefix_bytes)) ||
      !write_all(*r, r->record, framed.body_bytes)) {
    return false;
  }
  uint32_t used = length + 1;  // the record and a line feed
  memset(r->record, 0, used < r->record_capacity ? used : r->record_capacity);
  return true;
}

// Walks both chains; true when they ended normally.
bool recover_chains(Recovery* r) {
  // The walk ends where the deleted chain's head is empty, abandoned records or not.
  if (file_header.deleted_head == 0 && file_header.deleted_head_segment == 0) return true;
  ChainWalk walk;
  chain_start(&walk, r->source_name);
  bool sound = false;
  while (true) {
    RecordHeaderView view;
    int result = chain_read(&walk, r->header, &view);
    if (result == 0) {
      sound = true;
      break;
    }
    if (result == WALK_OPEN_FAILED || result == WALK_READ_FAILED) {
      rt_report_error(walk.segment_name);
      break;
    }
    if (result == CHAIN_UNREADABLE) {
      rt_fprint_args(rt_stderr(), rt_message(1633, 0, "could not read record header\n"));
      break;
    }
    if (result == CHAIN_LOOP) {
      // A chain that comes back on itself would be walked for ever: the walk ends there.
      // Members met again before the loop was seen may have been written twice.
      rt_fprintf(rt_stderr(), "%s: the %s records list loops back on itself\n", r->source_name,
                 walk.abandoned ? "abandoned" : "deleted");
      break;
    }
    if (!walk.abandoned && !(view.flags & RECORD_DELETED)) {
      rt_fprint_args(rt_stderr(), rt_message(1634, 0, "found non-deleted record\n"));
      break;
    }
    if (walk.abandoned && !(view.flags & RECORD_ABANDONED)) {
      rt_fprint_args(rt_stderr(), rt_message(1780, 0, "found non-abandoned record\n"));
      break;
    }
    if (!copy_member(r, walk, view)) break;
    ++r->found[walk.abandoned];
  }
  chain_close(&walk);
  return sound;
}

}  // namespace

void deleted_command(int count, char** words) {
  WriterOptions o = {};
  read_writer_options(count, words, &o);
  // The destination is emptied at its opening: under the source's own name that would
  // destroy the file whose records are to be recovered.
  refuse_same_names(o.source, o.destination);

  KFile* source = k5_open(o.source, K_MODE_READ, "0,0,0");
  if (source == nullptr) {
    ki_error(o.source);
    raise_exit_status(255);
    return;
  }
  if (!read_header(o.source)) {
    k5_close(source);
    usage();
  }
  if (source->version <= 4) {
    rt_print(rt_message(1770, 0, "%s not Kelvra version 5 or greater\n"), o.source);
    k5_close(source);
    raise_exit_status(255);
    return;
  }
  if (!set_scan_limits(source)) {
    ki_error(o.source);
    k5_close(source);
    raise_exit_status(255);
    return;
  }
  if (info_encrypted(source)) {
    rt_print(rt_message(1768, 0, "%s encrypted, recovery of deleted records not allowed\n"),
             o.source);
    k5_close(source);
    raise_exit_status(255);
    return;
  }
  Recovery r = {};
  r.source_name = o.source;
  r.destination_name = o.destination;
  r.destination = rt_os_open(o.destination, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (r.destination < 0) {
    rt_report_error(o.destination);
    k5_close(source);
    raise_exit_status(255);
    return;
  }
  r.framing = written_framing(o.b, o.t, o.v);
  r.record_size = scan_limits.max_record_size;
  r.record_capacity = record_buffer_size() + (o.t ? 1 : 0);
  r.record = allocate_scan_buffer(r.record_capacity);
  allocate_expansion_buffer();
  r.header = allocate_scan_buffer(static_cast<uint32_t>(raw_header_size) + 6);
  printf(rt_message(998, 0, "Record size = %d\n"), static_cast<int>(r.record_size));
  printf(rt_message(1769, 0, "Recovering deleted records from %s...\n"), o.source);
  fflush(stdout);  // before any message on standard error, also when both go to one file

  bool sound = recover_chains(&r);
  if (sound) {
    // The count is the message's int; a chain of more records than that is not possible in
    // a file whose record count is 32 bits.
    rt_fprint_args(rt_stderr(), rt_message(1772, 0, "%d deleted records recovered\n"),
                   static_cast<int>(r.found[0] + r.found[1]));
  }
  k5_close(source);
  // What was written stays, also after a failure; a close that fails loses data.
  if (rt_os_close(r.destination) != 0) {
    rt_report_error(o.destination);
    sound = false;
  }
  rt_free(r.record, IXKIT_SOURCE, __LINE__, 0);
  rt_free(r.header, IXKIT_SOURCE, __LINE__, 0);
  release_expansion_buffer();
  if (!sound) raise_exit_status(255);
}
