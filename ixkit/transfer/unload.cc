// The -unload command: copies every record of an indexed file into a flat file.
#include <cstdio>
#include <cstring>

#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/framing.h"
#include "ixkit/transfer/info_texts.h"
#include "ixkit/transfer/seqfile.h"
#include "ixkit/transfer/writer_options.h"

namespace {

[[noreturn]] void write_failed(const char* destination, uint8_t* record) {
  rt_print(rt_message(1003, 0, "%s: write error\n"), destination);
  rt_free(record, IXKIT_SOURCE, __LINE__, 0);
  exit_run(255);
}

}  // namespace

void unload_command(int count, char** words) {
  WriterOptions o = {};
  o.allow_l = true;
  read_writer_options(count, words, &o);
  refuse_same_names(o.source, o.destination);

  KFile* source = k5_open(o.source, o.l ? K_MODE_SHARED : K_MODE_READ, "0,0,0");
  if (source == nullptr) {
    ki_error(o.source);
    exit_run(255);
  }
  if (info_encrypted(source)) {
    rt_print(rt_message(1001, 0, "%s encrypted, unload not allowed\n"), o.source);
    k5_close(source);
    return;
  }
  uint32_t record_size = info_record_size(source);
  int destination = seq_open(o.destination, SEQ_WRITE, 1);
  if (destination < 0) {
    rt_report_error(o.destination);
    exit_run(255);
  }
  FlatFraming framing = written_framing(o.b, o.t, o.v);
  uint64_t buffer_size = static_cast<uint64_t>(record_size) + (o.t ? 1 : 0);
  uint8_t* record =
      static_cast<uint8_t*>(rt_alloc(buffer_size, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (record == nullptr) out_of_memory();
  printf(rt_message(998, 0, "Record size = %d\n"), static_cast<int>(record_size));
  printf(rt_message(1002, 0, "Unloading %s...\n"), o.source);
  fflush(stdout);  // before any message on standard error, also when both go to one file

  int length;
  while ((length = k5_next(source, record)) > 0) {
    FramedRecord framed;
    frame_record(framing, record_size, static_cast<uint32_t>(length), record, &framed);
    seq_write(destination, framed.prefix, static_cast<uint64_t>(framed.prefix_bytes));
    if (seq_write(destination, record, framed.body_bytes) != static_cast<long>(framed.body_bytes)) {
      write_failed(o.destination, record);
    }
    // Only the bytes this record used (and its line feed) can be non-zero; fixed records
    // need the zero padding.
    uint32_t used = static_cast<uint32_t>(length) + 1;
    memset(record, 0, used < record_size ? used : record_size);
  }
  if (*rt_file_error() != RT_ERR_NOT_FOUND) ki_error(o.source);
  k5_close(source);
  if (seq_flush(destination) != 0) write_failed(o.destination, record);
  seq_close(destination);
  rt_free(record, IXKIT_SOURCE, __LINE__, 0);
}
