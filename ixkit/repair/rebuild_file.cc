// The rebuild engine: preparing one file, running its stages, and cleaning up after it.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>

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

// The job whose temporary file is being filled, for the exit routine to remove.
RebuildJob* g_filling = nullptr;

void discard_on_exit() {
  if (g_filling != nullptr) discard_temp_file(g_filling);
}

bool same_file(const struct stat& a, const char* path) {
  struct stat b;
  return stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path names the open file's own data or one of its segments: building a temporary
// file or a spool there would destroy the records before they are read.
bool part_of_source(const RebuildJob* job, const char* path) {
  struct stat target;
  if (stat(path, &target) != 0) return false;
  const KFile* f = job->source;
  const int data_high = f->version >= 4 ? f->data_segment_high : 0;
  const int index_high = f->version >= 4 ? f->index_segment_high : -1;
  for (int n = 0; n <= data_high; ++n) {
    if (same_file(target, ki_segment_name(job->name, K_SEGMENT_DATA, n))) return true;
  }
  for (int n = 0; n <= index_high; ++n) {
    if (same_file(target, ki_segment_name(job->name, K_SEGMENT_INDEX, n))) return true;
  }
  return false;
}

void refuse_name(RebuildJob* job, const char* what, const char* path) {
  rt_fprintf(rt_stderr(), "%s: the %s %s is the file itself or one of its segments\n", job->name,
             what, path);
  raise_exit_status(255);
  close_source(job);
}

// Reads the source's description texts into the job and scan_limits; code -2 is rewritten
// with the options. 0 when the library could not give them: a new file must not be made
// from texts that are not the source's.
int read_description(RebuildJob* job) {
  KFile* source = job->source;
  if (!set_scan_limits(source) || !k5_info(source, -1, job->sizes) ||
      !k5_info(source, -2, job->storage) || !k5_info(source, -3, job->comment)) {
    return 0;
  }
  job->has_collating = k5_info(source, -5, reinterpret_cast<char*>(job->collating)) != 0;
  if (!job->has_collating && *rt_file_error() != 0) return 0;
  unsigned max = 0, min = 0, keys = 0;
  sscanf(job->sizes, "%u,%u,%u", &max, &min, &keys);
  job->key_count = keys > static_cast<unsigned>(K_MAX_KEYS) ? K_MAX_KEYS : static_cast<int>(keys);
  job->keys = join_key_texts(source, job->key_count);

  unsigned blocking = 0, prealloc = 0, extension = 0, compression = 0, encryption = 0;
  sscanf(job->storage, "%u,%u,%u,%u,%u", &blocking, &prealloc, &extension, &compression,
         &encryption);
  const RebuildOptions* o = job->options;
  if (o->blocking_factor != 0) blocking = static_cast<unsigned>(o->blocking_factor);
  if (o->extension_blocks != 0) extension = static_cast<unsigned>(o->extension_blocks);
  if (o->preallocation_blocks != 0) prealloc = static_cast<unsigned>(o->preallocation_blocks);
  if (o->compression >= 0) compression = static_cast<unsigned>(o->compression);
  encryption = static_cast<unsigned>(o->encryption);
  snprintf(job->storage, sizeof job->storage, "%u,%u,%u,%u,%u", blocking, prealloc, extension,
           compression, encryption);
  return 1;
}

// The record buffer: the maximum record size and 30 bytes, and never less than a raw record
// header needs; records start 2 bytes in.
void allocate_record_buffer(RebuildJob* job) {
  uint32_t size = scan_limits.max_record_size + 28;
  if (job->source->max_record_size + 28 > size) size = job->source->max_record_size + 28;
  if (record_buffer_size() > size) size = record_buffer_size();
  job->buffer_size = size;
  job->buffer = allocate_scan_buffer(size + 2);
}

// Spool mode: the spool name in temp_name and volume 1 made (or, on a restart, the notice).
Stage start_spool(RebuildJob* job) {
  const RebuildOptions* o = job->options;
  // The stream's 2-byte lengths cannot carry longer records: nothing is touched then.
  if (scan_limits.max_record_size > SPOOL_MAX_RECORD) {
    rt_fprintf(rt_stderr(),
               "%s: records of up to %u bytes do not fit a spool (at most %u); rebuild it "
               "without -s\n",
               job->name, scan_limits.max_record_size, SPOOL_MAX_RECORD);
    raise_exit_status(255);
    close_source(job);
    return STAGE_END;
  }
  if (strlen(o->spool_name) >= sizeof job->temp_name || part_of_source(job, o->spool_name)) {
    refuse_name(job, "spool", o->spool_name);
    return STAGE_END;
  }
  strcpy(job->temp_name, o->spool_name);
  spool_begin_writing(job->temp_name, o->restart ? 0 : static_cast<uint32_t>(time(nullptr)));
  if (!o->restart) {
    spool_create_volume();
    if (spool.descriptor < 0) exit_run(255);
  } else {
    rt_print(rt_message(1030, 0, "Restarting rebuild of %s\n"), job->name);
    rt_print("%s", rt_message(1031, 0, "Warning: proceeding will overwrite file\n"));
  }
  job->pass = PASS_SPOOLING;
  return STAGE_COPY;
}

// Direct mode: the temporary file made and opened.
Stage start_temp_file(RebuildJob* job) {
  make_temp_name(job->temp_name, job->name);
  if (part_of_source(job, job->temp_name)) {
    refuse_name(job, "temporary file", job->temp_name);
    return STAGE_END;
  }
  exit_cleanup = discard_on_exit;
  g_filling = job;
  if (!make_new_file(job, job->temp_name, 1)) {
    raise_exit_status(255);
    close_source(job);
    return STAGE_END;
  }
  job->pass = PASS_DIRECT;
  return STAGE_COPY;
}

// Positions key reading at the first record; a key without records ends the copy at once.
Stage start_key_reading(RebuildJob* job) {
  uint8_t* key = job_record(job);
  memset(key, job->has_collating ? collating_edge(job->collating, 0) : 0,
         scan_limits.max_record_size);
  job->forward = 1;
  if (k5_start(job->source, key, job->options->key, 0, K_START_NOT_LESS)) return STAGE_COPY;
  if (*rt_file_error() == RT_ERR_NOT_FOUND) {
    rt_print(rt_message(1032, 0,
                        "No records to read from key %d.  The new file is a clean empty file.\n"),
             job->options->key);
    close_source(job);
    // In spool mode nothing was read: the source stays as it is rather than be remade from
    // an empty spool, and the volume just begun goes.
    if (job->pass == PASS_SPOOLING) {
      spool_close();
      rt_remove(job->temp_name);
      return STAGE_END;
    }
    k5_register_progress(nullptr);  // no copy was shown, so no completion either
    if (!k5_close(job->target)) ki_error(job->temp_name);
    job->target = nullptr;
    job->temp_made = 0;
    exit_cleanup = nullptr;
    job->result = 0;
    return STAGE_REPLACE;
  }
  rt_print(rt_message(1033, 0, "Unable to start on key %d - rebuild aborted\n"), job->options->key);
  raise_exit_status(255);
  close_source(job);
  return STAGE_END;
}

// Everything still held, on every way out.
void clean_up(RebuildJob* job) {
  interrupt_state = -1;
  if (job->temp_made) discard_temp_file(job);
  if (job->target != nullptr) k5_close(job->target);
  job->target = nullptr;
  close_source(job);
  spool_close();
  k5_register_progress(nullptr);
  k5_register_duplicate(nullptr);
  rejects_finish();
  if (job->keys != nullptr) rt_free(job->keys, IXKIT_SOURCE, __LINE__, 0);
  if (job->buffer != nullptr) rt_free(job->buffer, IXKIT_SOURCE, __LINE__, 0);
  release_expansion_buffer();
  exit_cleanup = nullptr;
  g_filling = nullptr;
}

}  // namespace

void set_make_version(const RebuildJob* job) {
  const int version = job->options->version != 0 ? job->options->version : file_header.version;
  rt_config_set("K_VERSION", 0, version);
  // The new file keeps the source's segment size, unless the configuration names one.
  if (!job->options->segment_size_configured) {
    if (file_header.version >= 4) {
      rt_config_set("K_SEGMENT_SIZE", 0, static_cast<long>(file_header.segment_size));
    } else {
      rt_config_unset("K_SEGMENT_SIZE");
    }
  }
}

int make_new_file(RebuildJob* job, const char* name, int temporary) {
  set_make_version(job);
  // Made and opened in one step, so that the new file never lies on disk looking complete
  // while it is empty.
  job->target = k5_make_open(name, job->comment, job->storage, job->sizes, job->keys,
                             job->has_collating ? job->collating : nullptr, job->new_mode);
  if (job->target == nullptr) {
    ki_error(name);
    return 0;
  }
  job->temp_made = temporary;
  return 1;
}

void close_source(RebuildJob* job) {
  if (job->source != nullptr) k5_close(job->source);
  job->source = nullptr;
  if (job->walk.descriptor >= 0) walk_close(&job->walk);
}

void discard_temp_file(RebuildJob* job) {
  k5_register_progress(nullptr);
  k5_register_duplicate(nullptr);
  if (job->target != nullptr) k5_close(job->target);
  job->target = nullptr;
  k5_remove(job->temp_name);
  job->temp_made = 0;
}

Stage prepare_rebuild(RebuildJob* job) {
  const char* name = job->name;
  RebuildOptions* o = job->options;
  if (!read_header(name)) {
    ki_error(name);
    raise_exit_status(255);
    return STAGE_END;
  }
  if (o->key == -1) k_open_no_index = 1;
  job->source = k5_open(name, o->exclusive ? K_MODE_EXCLUSIVE : K_MODE_SHARED, "0,0,0");
  k_open_no_index = 0;
  if (job->source == nullptr) {
    const bool locked = *rt_file_error() == RT_ERR_LOCKED;
    ki_error(name);
    raise_exit_status(locked ? 1 : 255);
    return STAGE_END;
  }
  if (!read_description(job)) {
    ki_error(name);
    raise_exit_status(255);
    close_source(job);
    return STAGE_END;
  }
  if (o->key >= job->key_count) {
    rt_print_args(rt_message(1029, 0, "%s: key number %d does not exist\n"), name, o->key);
    raise_exit_status(255);
    close_source(job);
    return STAGE_END;
  }
  if (o->slow) {
    job->new_mode = K_MODE_FILL;
  } else {
    job->new_mode = K_MODE_FAST_FILL;
    k5_register_progress(on_progress);
    k5_register_duplicate(on_duplicate_record);
  }
  const Stage started = o->spool_name != nullptr ? start_spool(job) : start_temp_file(job);
  if (started == STAGE_END) return STAGE_END;
  allocate_record_buffer(job);
  if (o->restart) {
    close_source(job);
    return STAGE_MOUNT;
  }
  if (o->key == -1) {
    allocate_expansion_buffer();
    if (walk_start(&job->walk, name) != 1) {
      rt_report_error(name);
      raise_exit_status(255);
      close_source(job);
      return STAGE_END;
    }
  } else {
    const Stage next = start_key_reading(job);
    if (next != STAGE_COPY) return next;
  }
  rt_print_args(rt_message(1034, 0, "Input = %1, Output = %2, %3 records\n"), name, job->temp_name,
                number_text(static_cast<long>(file_header.records)).text);
  return STAGE_COPY;
}

void rebuild_file(const char* name, RebuildOptions* options) {
  RebuildJob job = {};
  job.name = name;
  job.options = options;
  job.walk.descriptor = -1;
  job.spooled = -1;
  rejects_begin(name);
  Stage stage = prepare_rebuild(&job);
  while (stage != STAGE_END) {
    switch (stage) {
      case STAGE_COPY:
        stage = copy_pass(&job);
        break;
      case STAGE_MOUNT:
        stage = mount_spool(&job);
        break;
      case STAGE_FINISH:
        stage = finish_rebuild(&job);
        break;
      case STAGE_REPLACE:
        stage = replace_source(&job);
        break;
      case STAGE_END:
        break;
    }
  }
  clean_up(&job);
}
