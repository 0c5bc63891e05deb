// The rebuild of one file, shared by the stages of the engine: preparation, the copy pass,
// mounting the spool, and finishing.
#ifndef IXKIT_REPAIR_REBUILD_JOB_H
#define IXKIT_REPAIR_REBUILD_JOB_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/repair/rebuild.h"
#include "ixkit/repair/replace.h"
#include "ixkit/repair/scanner.h"

// What the copy pass does: source to temporary file, source to spool, spool to the source
// made again empty.
enum PassMode { PASS_DIRECT = 0, PASS_SPOOLING = 1, PASS_FROM_SPOOL = 2 };

// What the engine does next.
enum Stage {
  STAGE_END,      // cleanup
  STAGE_COPY,     // a copy pass
  STAGE_MOUNT,    // after spooling or on a restart: mount the spool and make the source again
  STAGE_FINISH,   // close the new file, summary, replacement
  STAGE_REPLACE,  // the replacement question and the move (a key without records)
};

struct RebuildJob {
  const char* name;
  RebuildOptions* options;
  KFile* source;
  KFile* target;  // the temporary file, or the source made again empty
  // The source's description texts, code -2 rewritten with the options.
  char sizes[64], storage[64], comment[64];
  uint8_t collating[256];
  int has_collating;
  char* keys;  // joined key texts
  int key_count;
  int new_mode;                    // open mode of the new file
  char temp_name[TEMP_NAME_SIZE];  // temporary file, or in spool mode the spool
  uint8_t* buffer;                 // records start 2 bytes in (room for the
  uint32_t buffer_size;            // spool's length), buffer_size bytes from there
  SegmentWalk walk;                // raw reading; walk.descriptor -1 when closed
  int forward;                     // key reading: 0 after the switch to backward
  PassMode pass;
  long input, output, deleted, broken;  // counts of the current pass
  long spooled;                         // records spooled in this run, -1 when unknown
  long rejected_at_close;  // records a duplicate key kept out while the indexes were built
  int result;              // 0 after a clean pass, -1 after a stop
  int temp_made;           // the temporary file exists and is not complete
  int write_failed;        // the new file refused a record or its close: it is not whole
};

// Steps of the engine, each returning the next stage.
Stage prepare_rebuild(RebuildJob* job);
Stage copy_pass(RebuildJob* job);
Stage mount_spool(RebuildJob* job);
Stage finish_rebuild(RebuildJob* job);
Stage replace_source(RebuildJob* job);

// The record area of the job's buffer.
inline uint8_t* job_record(RebuildJob* job) {
  return job->buffer + 2;
}
// Sets K_VERSION for a make (the version option, or the source's) and K_SEGMENT_SIZE (the
// source's, unless configured).
void set_make_version(const RebuildJob* job);
// Makes name empty with the job's description texts and opens it in the new-file mode
// (temporary: it is the job's temporary file, removed if the job ends before it is
// complete). 0 after reporting the library's reason for name.
int make_new_file(RebuildJob* job, const char* name, int temporary);
// Closes the source and the raw descriptor, when open.
void close_source(RebuildJob* job);
// Closes and removes a temporary file that is not complete.
void discard_temp_file(RebuildJob* job);

#endif  // IXKIT_REPAIR_REBUILD_JOB_H
