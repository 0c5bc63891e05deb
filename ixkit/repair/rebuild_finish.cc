// Finishing a rebuild: closing the new file, the counts, the warning of lost records, and
// putting the new file in the place of the source.
#include <cstdio>
#include <cstdlib>

#include "ixkit/describe/header.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/progress.h"
#include "ixkit/repair/rebuild_job.h"
#include "ixkit/transfer/rejects.h"

namespace {

void print_summary(const RebuildJob* job) {
  if (job->options->key == -1) {
    rt_print_args(rt_message(1049, 0, "%1 records recovered, %2 deleted records removed"),
                  number_text(job->output).text, number_text(job->deleted).text);
    if (job->broken > 0) {
      rt_print(rt_message(1050, 0, ", %ld broken records skipped\n"), job->broken);
    } else {
      rt_print("\n");
    }
  } else {
    rt_print_args(rt_message(1048, 0, "%1 records recovered, %2 broken records skipped\n"),
                  number_text(job->output).text, number_text(job->broken).text);
  }
}

// Prints the lost-records warning when fewer than expected came through; 1 then.
int warn_lost(long expected, long got) {
  if (got >= expected) return 0;
  rt_print(rt_message(1043, 0, "Warning: %ld records lost!\n"), expected - got);
  raise_exit_status(2);
  return 1;
}

// The new file, opened again, holds the records written (less those a duplicate key kept
// out while its indexes were built); it is on disk before the source goes.
int new_file_sound(RebuildJob* job) {
  if (!make_durable(job->temp_name)) return 0;
  KFile* file = k5_open(job->temp_name, K_MODE_READ, "0,0,0");
  long held = -1;
  if (file != nullptr) {
    char count[32] = "";
    if (k5_info(file, -4, count)) held = strtol(count, nullptr, 10);
    k5_close(file);
  }
  const long expected = job->output - job->rejected_at_close;
  if (held == expected) return 1;
  rt_fprintf(rt_stderr(), "%s: holds %ld records where %ld were written; %s left as it was\n",
             job->temp_name, held, expected, job->name);
  return 0;
}

}  // namespace

Stage finish_rebuild(RebuildJob* job) {
  const long rejected_before = rejects_store.count;
  const int closed = k5_close(job->target);
  job->target = nullptr;
  if (!closed) {
    char text[64];
    snprintf(text, sizeof text, rt_message(1038, 0, "Output record %ld"), job->output);
    rt_print("\n");
    ki_error(text);
    job->result = -1;
    job->write_failed = 1;
  } else {
    finish_progress();
  }
  job->rejected_at_close = rejects_store.count - rejected_before;
  // The temporary file is whole now (or known broken): it is no longer removed on the way out.
  job->temp_made = 0;
  exit_cleanup = nullptr;
  close_source(job);
  if (job->pass == PASS_FROM_SPOOL) {
    rt_print(rt_message(1047, 0, "%ld records recovered\n"), job->output);
    rejects_finish();
    // Records spooled in this run that did not come back (a volume refused or unreadable).
    if (job->spooled >= 0) warn_lost(job->spooled, job->input);
    return STAGE_END;
  }
  print_summary(job);
  rejects_finish();
  if (warn_lost(static_cast<long>(file_header.records), job->output)) job->result = -1;
  if (job->write_failed) {
    // A new file that refused a record may hold any part of what it was given: it must not
    // pass for a copy of the source.
    const char* fate = k5_remove(job->temp_name) ? "removed" : "remove it by hand";
    rt_fprintf(rt_stderr(), "%s: not complete, %s; %s left as it was\n", job->temp_name, fate,
               job->name);
    raise_exit_status(255);
    return STAGE_END;
  }
  return STAGE_REPLACE;
}

Stage replace_source(RebuildJob* job) {
  const int automation = job->options->automation;
  if ((automation >= 1 && job->result == 0) || automation >= 2) {
    rt_print("%s", rt_message(1051, 0, "Renaming temporary file...\n"));
  } else if (ask_yes_no(rt_message(1052, 0, "Replace original file with new one? "), 0, -1) != 1) {
    return STAGE_END;  // the temporary file stays; the source is unchanged
  }
  if (!new_file_sound(job)) {
    raise_exit_status(255);
    return STAGE_END;
  }
  if (!job->options->directory_given) {
    if (job->options->key == -1) k_open_no_index = 1;
    const int removed = k5_remove(job->name);
    k_open_no_index = 0;
    if (!removed) {
      // Somebody holds the source (or it cannot be removed): nothing is moved over it.
      ki_error(job->name);
      raise_exit_status(255);
      return STAGE_END;
    }
  }
  replace_file(job->temp_name, job->name);
  return STAGE_END;
}
