// The -load command: adds the records of a flat file to an existing indexed file.
#include <cstdio>

#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/info_texts.h"
#include "ixkit/transfer/load.h"
#include "ixkit/transfer/rejects.h"
#include "ixkit/transfer/seqfile.h"

namespace {

int load_letter(int letter, OptionWords*, void* context) {
  LoadOptions& o = *static_cast<LoadOptions*>(context);
  switch (letter) {
    case 'b':
      o.b = true;
      break;
    case 'd':
      o.d = true;
      break;
    case 't':
      o.t = true;
      break;
    case 'l':
      o.l = true;
      break;
    case 'n':
      o.n = true;
      break;
    case 'r':
      o.r = true;
      break;
    case 's':
      o.s = true;
      break;
    case 'v':
      o.v = true;
      break;
    case 'x':
      o.x = true;
      break;
    default:
      return 0;
  }
  return 1;
}

bool refused_combination(const LoadOptions& o) {
  return (o.b && (o.d || o.t)) || (o.d && (o.t || o.v || o.x)) || (o.r && o.s);
}

// A source that the library takes for a Kelvra file is refused before the destination is
// touched. Besides one that opens, that is one it finds damaged (6) or in use by a writer
// (11): read as a flat file either would be loaded as garbage.
void refuse_indexed_source(const char* name) {
  KFile* probe = k5_open(name, K_MODE_READ, "0,0,0");
  int code = *rt_file_error();
  if (probe != nullptr) k5_close(probe);
  if (probe != nullptr || code == RT_ERR_DAMAGED || code == RT_ERR_LOCKED) {
    rt_print("%s", rt_message(1274, 0, "Error: input file is Kelvra format\n"));
    exit_run(255);
  }
}

}  // namespace

int destination_mode(const LoadOptions& options) {
  if (options.l) return K_MODE_WRITE;
  if (options.r) return K_MODE_FILL;
  if (!options.s) k5_register_duplicate(on_duplicate_record);
  return K_MODE_FAST_FILL;
}

void load_command(int count, char** words) {
  LoadRun run = {};
  int first = read_options(count, words, 0, load_letter, &run.options);
  const LoadOptions& o = run.options;
  if (refused_combination(o) || count - first != 2) usage();
  run.source_name = words[first];
  run.destination_name = words[first + 1];

  refuse_indexed_source(run.source_name);
  run.source = seq_open(run.source_name, SEQ_READ, !o.d);
  if (run.source < 0) {
    rt_report_error(run.source_name);
    exit_run(255);
  }
  if (o.n && !make_like(run.destination_name, run.destination_name, 0)) exit_run(255);

  rejects_begin(run.source_name);
  run.destination = k5_open(run.destination_name, destination_mode(o), "0,0,0");
  if (run.destination == nullptr) {
    ki_error(run.destination_name);
    exit_run(255);
  }
  run.record_size = info_record_size(run.destination);
  printf(rt_message(998, 0, "Record size = %d\n"), static_cast<int>(run.record_size));
  printf(rt_message(999, 0, "Loading %s...\n"), run.destination_name);
  fflush(stdout);  // before any message on standard error, also when both go to one file

  run.record =
      static_cast<uint8_t*>(rt_alloc(run.record_size, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (run.record == nullptr) out_of_memory();
  if (o.t) {
    load_lines(&run);
  } else {
    load_records(&run);
  }

  if (k5_close(run.destination) == 0) {
    raise_exit_status(255);
    ki_error(run.destination_name);
  }
  seq_close(run.source);
  // Records refused for a duplicate key were counted as written first. The count is printed
  // as the message's int; a Kelvra file holds fewer records than that can show.
  printf(rt_message(1773, 0, "%d records loaded\n"),
         static_cast<int>(run.written - rejects_store.count));
  rejects_finish();
  rt_free(run.record, IXKIT_SOURCE, __LINE__, 0);
  k5_register_duplicate(nullptr);
}
