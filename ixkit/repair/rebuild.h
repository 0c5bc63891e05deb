// -rebuild: copies every readable record of a Kelvra file into a new file of the same
// description (changed where the options say) and puts it in the place of the old one,
// directly through a temporary file or through spool volumes.
#ifndef IXKIT_REPAIR_REBUILD_H
#define IXKIT_REPAIR_REBUILD_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// The options of one run, handed to the engine for every file.
struct RebuildOptions {
  int32_t blocking_factor;          // 0 keeps the source's
  int32_t compression;              // -1 keeps the source's compression factor
  int32_t encryption;               // the new file's encryption flag
  int32_t automation;               // how much is decided without asking
  int32_t extension_blocks;         // 0 keeps the source's
  int32_t preallocation_blocks;     // 0 keeps the source's
  int32_t key;                      // -1 reads the record area raw, else this key
  int32_t x_flag;                   // accepted; nothing reads it
  int32_t version;                  // 0 keeps the source's format version
  int32_t restart;                  // read the records from an existing spool
  const char* spool_name;           // null: no spool
  int32_t exclusive;                // open the source exclusively (512) rather than shared
  int32_t directory_given;          // the new file stays in temp_directory; the source is kept
  int32_t slow;                     // write the new file in the ordinary mode, without callbacks
  int32_t segment_size_configured;  // K_SEGMENT_SIZE was set when the command started
};

// Rebuilds one file. Problems are reported and raise exit_status; the engine may set the
// key option to -1 (after a spooled rebuild) for the files that follow.
void rebuild_file(const char* name, RebuildOptions* options);

// The next (forward) or previous record of the source by its current key, into record:
// its length, 0 at the end, -2 for a damaged record (skipped), -5 for a broken chain, -8
// (WALK_READ_FAILED) when the library could not read the file for another reason.
int read_by_key(KFile* source, uint8_t* record, int forward);

#endif  // IXKIT_REPAIR_REBUILD_H
