// The copy pass of -rebuild: every record from the source (raw or by key) or from the spool,
// into the new file or out to the spool.
#include <cstdio>
#include <cstring>

#include "ixkit/describe/description.h"
#include "ixkit/describe/header.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/progress.h"
#include "ixkit/repair/rebuild_job.h"
#include "ixkit/repair/spool.h"
#include "ixkit/transfer/rejects.h"

namespace {

// Results of getting a record besides a length and the RAW_ codes.
constexpr int STOP = -1;              // the pass ends here
constexpr int ABANDON = -9;           // the file is given up
constexpr int GO_ON = RAW_ABANDONED;  // nothing to count; the pass goes on

// After a broken chain met by key: the library's reason, then reading on backward from the
// highest key. STOP when that is not possible.
int read_from_end(RebuildJob* job) {
  ki_error(job->name);
  if (!job->forward) return STOP;
  rt_print("%s", rt_message(1037, 0, "Trying to read from end...\n"));
  uint8_t* key = job_record(job);
  memset(key, job->has_collating ? collating_edge(job->collating, 1) : 0xFF,
         scan_limits.max_record_size);
  if (!k5_start(job->source, key, job->options->key, 0, K_START_NOT_GREATER)) {
    ki_error(job->name);
    return STOP;
  }
  job->forward = 0;
  return GO_ON;
}

// The next record into the job's buffer: its length or a code.
int next_record(RebuildJob* job) {
  uint8_t* record = job_record(job);
  if (job->pass == PASS_FROM_SPOOL) {
    return static_cast<int>(spool_get(record, scan_limits.max_record_size));
  }
  if (job->options->key != -1) {
    int got = read_by_key(job->source, record, job->forward);
    if (got == WALK_READ_FAILED) {
      ki_error(job->name);
      raise_exit_status(255);
      return ABANDON;
    }
    if (got != RAW_BROKEN) return got;
    rt_print("\n");
    return read_from_end(job);
  }
  int got = walk_next(&job->walk, record, scan_limits.compression, scan_limits.encryption);
  if (got == WALK_OPEN_FAILED || got == WALK_READ_FAILED) {
    rt_report_error(job->walk.segment_name);
    raise_exit_status(255);
    return ABANDON;
  }
  if (got == RAW_BROKEN) {
    rt_print("\n%s", rt_message(1036, 0, "Chain of records is broken!\n"));
    return STOP;
  }
  return got;
}

// Puts one record into the new file or the spool. STOP or ABANDON when the pass cannot go
// on, else 1.
int put_record(RebuildJob* job, uint32_t length) {
  uint8_t* record = job_record(job);
  if (job->pass == PASS_SPOOLING) {
    if (!spool_put(record, length)) {
      raise_exit_status(255);
      return ABANDON;
    }
    ++job->output;
    return 1;
  }
  if (k5_write(job->target, record, length)) {
    ++job->output;
    return 1;
  }
  if (*rt_file_error() == RT_ERR_DUPLICATE) {
    store_rejected_record(job->target, length, record);
    return 1;
  }
  char text[64];
  snprintf(text, sizeof text, rt_message(1038, 0, "Output record %ld"), job->output + 1);
  rt_print("\n");
  ki_error(text);
  job->write_failed = 1;
  return STOP;
}

// The operator's interrupt: 1 when the copy is to stop.
int stop_asked(RebuildJob* job) {
  if (quiet) exit_run(99);
  rt_print("\n");
  rt_print_args(rt_message(1039, 0, "Input records = %1, output records = %2\n"),
                number_text(job->input).text, number_text(job->output).text);
  const int stop = ask_yes_no(rt_message(1040, 0, "Do you want to terminate? "), 0, -1) == 1;
  if (stop) rt_print("%s", rt_message(1041, 0, "Rebuild terminated\n"));
  interrupt_state = 0;
  return stop;
}

// Ends the spool after the last record. STAGE_MOUNT, or STAGE_END when it cannot be written.
Stage end_spooling(RebuildJob* job) {
  if (!spool_put(job_record(job), 0)) {
    raise_exit_status(255);
    return STAGE_END;
  }
  while (spool.current > 0) {
    if (!spool_flush()) {
      raise_exit_status(255);
      return STAGE_END;
    }
  }
  spool_close();
  rt_print("\n");
  rt_print(rt_message(1042, 0, "%ld records spooled\n"), job->output);
  job->spooled = job->output;
  if (job->output < static_cast<long>(file_header.records)) {
    rt_print(rt_message(1043, 0, "Warning: %ld records lost!\n"),
             static_cast<long>(file_header.records) - job->output);
    raise_exit_status(2);
    job->result = -1;
  }
  return STAGE_MOUNT;
}

}  // namespace

int read_by_key(KFile* source, uint8_t* record, int forward) {
  k_ixkit = 1;
  int length = forward ? k5_next(source, record) : k5_previous(source, record);
  k_ixkit = 0;
  if (length == 0) {
    const int code = *rt_file_error(), secondary = *rt_file_error2();
    if (code == RT_ERR_NOT_FOUND) return RAW_END;
    if (code == RT_ERR_DAMAGED) return secondary >= 80 && secondary <= 85 ? RAW_BAD : RAW_BROKEN;
    // Not damage: the system refused a read (or memory ran out), and what follows is unknown.
    return WALK_READ_FAILED;
  }
  const uint32_t max = ki_check_record_size(source->version, source->max_record_size);
  if (static_cast<uint32_t>(length) > max ||
      static_cast<uint32_t>(length) < source->min_record_size) {
    return RAW_BAD;
  }
  return length;
}

Stage copy_pass(RebuildJob* job) {
  if (job->pass == PASS_SPOOLING) {
    rt_print("%s", rt_message(1035, 0, "Spooling records...\n"));
  } else {
    rt_print("%s", rt_message(1101, 0, "Rebuilding...\n"));
  }
  job->input = job->output = job->deleted = job->broken = 0;
  progress_mark = 0;
  interrupt_state = 0;
  const bool whole_file = !job->options->slow && job->pass != PASS_SPOOLING;
  int got;
  do {
    got = next_record(job);
    if (got == ABANDON) return STAGE_END;
    if (got > 0) {
      ++job->input;
      const int put = put_record(job, static_cast<uint32_t>(got));
      if (put == ABANDON) return STAGE_END;
      if (put == STOP) got = STOP;
      show_progress(nullptr, job->input, job->key_count, whole_file);
    } else if (got == RAW_DELETED) {
      ++job->deleted;
    } else if (got == RAW_BAD) {
      ++job->broken;
    }
    if (interrupt_state > 0 && stop_asked(job)) got = STOP;
  } while (got != RAW_END && got != STOP);
  interrupt_state = -1;  // outside the copy an interrupt ends the run at once
  job->result = got == STOP ? -1 : 0;
  if (job->pass == PASS_SPOOLING) return end_spooling(job);
  if (job->pass == PASS_FROM_SPOOL) spool_close();
  return STAGE_FINISH;
}
