// Mounting the spool after spooling (or on a restart) and making the source again empty, so
// that the records go back into it from the spool.
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/rebuild_job.h"
#include "ixkit/repair/spool.h"

namespace {

// Whether volume 1 is mounted without asking the operator first.
bool mount_at_once(const RebuildJob* job) {
  const int automation = job->options->automation;
  if (job->spooled < 0) return automation >= 1;  // a restart
  return automation >= 1 && spool.volume == 1 && (job->result == 0 || automation >= 2);
}

}  // namespace

Stage mount_spool(RebuildJob* job) {
  bool ask = !mount_at_once(job);
  if (ask) {
    rt_print("%s", rt_message(1044, 0, "Ready to start reading records from the spool file\n"));
  }
  while (true) {
    if (ask) {
      if (quiet) exit_run(99);
      rt_print("%s",
               rt_message(1045, 0, "Please insure that volume 1 of the spool file is mounted\n"));
      if (ask_yes_no(rt_message(1046, 0, "Type 'Y' when ready, 'N' to abort: "), 0, -1) != 1) {
        rt_print("%s", rt_message(1026, 0, "*** Aborted ***\n"));
        raise_exit_status(255);
        return STAGE_END;
      }
    }
    spool_begin_reading(job->temp_name);
    spool_mount_volume();
    if (spool.descriptor >= 0) break;
    ask = true;
  }
  close_source(job);
  if (!make_new_file(job, job->name, 0)) {
    raise_exit_status(255);
    return STAGE_END;
  }
  job->options->key = -1;
  job->pass = PASS_FROM_SPOOL;
  return STAGE_COPY;
}
