// -load of a line file: one record per line, overlong lines cut at the record size.
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/load.h"
#include "ixkit/transfer/seqfile.h"

namespace {

constexpr uint8_t kLineFeed = 10;
constexpr uint8_t kCarriageReturn = 13;
constexpr uint8_t kEndOfText = 26;  // Ctrl-Z ends a text file's input

// The line being gathered, carried over chunk boundaries.
struct LineState {
  uint32_t fill;         // bytes of the line in the record buffer
  bool warned;           // the truncation of this line has been reported
  bool carriage_return;  // a CR came last and waits for what follows
  unsigned long number;  // line number, from 1
};

// Data bytes of the line: stored while they fit, the rest dropped with one warning.
void add_bytes(LoadRun* run, LineState* line, const uint8_t* bytes, uint64_t count) {
  uint64_t room = run->record_size - line->fill;
  uint64_t take = count < room ? count : room;
  memcpy(run->record + line->fill, bytes, take);
  line->fill += static_cast<uint32_t>(take);
  if (take < count && !line->warned) {
    rt_print(rt_message(726, 0, "Record #%lu is being truncated\n"), line->number);
    line->warned = true;
  }
}

// Where the next line feed, carriage return and byte 26 lie in a chunk, each found with one
// forward search when the one before has been passed, so that a chunk is searched once.
struct ControlBytes {
  long at[3];
};
constexpr uint8_t kControls[3] = {kLineFeed, kCarriageReturn, kEndOfText};

// The position of the first control byte at or after from (got when there is none).
long next_control(const uint8_t* chunk, long got, long from, ControlBytes* next) {
  long first = got;
  for (int c = 0; c < 3; ++c) {
    if (next->at[c] < from) {
      const void* found = memchr(chunk + from, kControls[c], static_cast<size_t>(got - from));
      next->at[c] = found != nullptr ? static_cast<const uint8_t*>(found) - chunk : got;
    }
    if (next->at[c] < first) first = next->at[c];
  }
  return first;
}

// The line ends: its record is written and the buffer made zero again.
void end_line(LoadRun* run, LineState* line, uint8_t* chunk) {
  if (!write_loaded_record(run->destination, run->record, line->fill, run->options.r,
                           run->destination_name, run->options.s)) {
    rt_free(chunk, IXKIT_SOURCE, __LINE__, 0);
    exit_run(255);
  }
  ++line->number;
  ++run->written;
  memset(run->record, 0, line->fill);
  line->fill = 0;
  line->warned = false;
}

}  // namespace

void load_lines(LoadRun* run) {
  // One byte more than a record, so that a whole record and its line feed fit one chunk.
  uint64_t chunk_size = static_cast<uint64_t>(run->record_size) + 1;
  uint8_t* chunk =
      static_cast<uint8_t*>(rt_alloc(chunk_size, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (chunk == nullptr) out_of_memory();

  LineState line = {0, false, false, 1};
  long got = 0;
  bool ended = false;
  while (!ended && (got = seq_read(run->source, chunk, chunk_size)) > 0) {
    ControlBytes next = {{-1, -1, -1}};
    for (long i = 0; i < got; ++i) {
      uint8_t byte = chunk[i];
      // CR LF counts as one line feed; a CR before anything else is a data byte.
      if (line.carriage_return) {
        line.carriage_return = false;
        if (byte != kLineFeed) add_bytes(run, &line, &kCarriageReturn, 1);
      }
      if (byte == kEndOfText) {
        ended = true;  // what follows is not read; an unfinished line is not loaded
        break;
      }
      if (byte == kCarriageReturn) {
        line.carriage_return = true;
      } else if (byte == kLineFeed) {
        end_line(run, &line, chunk);
      } else {
        // A run of plain bytes goes in at once.
        long end = next_control(chunk, got, i, &next);
        add_bytes(run, &line, chunk + i, static_cast<uint64_t>(end - i));
        i = end - 1;
      }
    }
  }
  if (got < 0) {
    // A failure is not the end of the data: the lines before stay loaded, the run fails.
    rt_report_error(run->source_name);
    raise_exit_status(255);
  }
  // Bytes after the last line feed make no record.
  rt_free(chunk, IXKIT_SOURCE, __LINE__, 0);
}
