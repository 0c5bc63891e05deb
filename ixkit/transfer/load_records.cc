// -load of fixed and length-prefixed records.
#include <cstdio>

#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/load.h"
#include "ixkit/transfer/seqfile.h"

namespace {

// With d: records whose first 256 bytes (all, when shorter) are zero are not loaded.
bool zero_start(const uint8_t* record, long length) {
  long check = length < 256 ? length : 256;
  for (long i = 0; i < check; ++i) {
    if (record[i] != 0) return false;
  }
  return true;
}

}  // namespace

void load_records(LoadRun* run) {
  const LoadOptions& o = run->options;
  auto reader = o.b ? read_portable_record : read_native_record;
  unsigned long number = 0;  // records read, for the message below
  long length;
  while ((length = reader(run->source, run->record, o.v, o.x, run->record_size)) != 0) {
    if (length == SEQ_READ_FAILED) {
      // A failure is not the end of the data: what came before stays loaded, the run fails.
      rt_report_error(run->source_name);
      raise_exit_status(255);
      return;
    }
    ++number;
    if (length == SEQ_RECORD_TOO_LONG) {
      // The rest of the file cannot be framed: what came before stays loaded.
      rt_fprintf(rt_stderr(),
                 "%s: record %lu is longer than the record size %u; the rest of the file is "
                 "not loaded\n",
                 run->source_name, number, run->record_size);
      raise_exit_status(255);
      return;
    }
    if (o.d && zero_start(run->record, length)) continue;
    if (!write_loaded_record(run->destination, run->record, static_cast<uint32_t>(length), o.r,
                             run->destination_name, o.s)) {
      exit_run(255);
    }
    ++run->written;
  }
}
