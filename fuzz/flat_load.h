// Shared by the fuzz targets of flat files: a new empty Kelvra file to load into, and the
// load itself as -load runs it once its words are read, with the program's readers and
// writer of loaded records, never ending the process: the destination takes records of
// every length from 1 to its maximum, so no record it is given is refused as fatal.
#ifndef FUZZ_FLAT_LOAD_H
#define FUZZ_FLAT_LOAD_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/info_texts.h"
#include "ixkit/transfer/load.h"
#include "ixkit/transfer/rejects.h"
#include "ixkit/transfer/seqfile.h"

namespace fuzz {

// Makes name anew in format version (2 to 5) with records of 1 to max_size bytes, a unique
// one-byte primary key at the start and, when there is room, a two-byte key with
// duplicates after it; packed: compressed records. False when the version cannot hold it.
inline bool make_flat_destination(const std::string& name, int version, uint32_t max_size,
                                  bool packed) {
  k5_remove(name.c_str());
  rt_config_set("K_VERSION", 0, version);
  const std::string keys = max_size >= 3 ? "1,0,1,0,1,1,2,1" : "1,0,1,0";
  const std::string sizes = std::to_string(max_size) + ",1," + (max_size >= 3 ? "2" : "1");
  return k5_make(name.c_str(), "fuzz", packed ? "1,0,0,1,0" : "1,0,0,0,0", sizes.c_str(),
                 keys.c_str(), nullptr) != 0;
}

// What a load did: records handed to the writer, records rejected for a duplicate key, and
// whether the destination closed cleanly. written is -1 when nothing could be opened.
struct LoadResult {
  long written;
  int32_t rejected;
  bool closed;
};

// Loads source into destination with the option letters of options, as -load does.
inline LoadResult load_flat(const std::string& source, const std::string& destination,
                            const LoadOptions& options) {
  LoadRun run = {};
  run.options = options;
  run.source_name = source.c_str();
  run.destination_name = destination.c_str();
  run.source = seq_open(run.source_name, SEQ_READ, !options.d);
  if (run.source < 0) return {-1, 0, false};
  rejects_begin(run.source_name);
  run.destination = k5_open(run.destination_name, destination_mode(options), "0,0,0");
  if (run.destination == nullptr) {
    seq_close(run.source);
    k5_register_duplicate(nullptr);
    return {-1, 0, false};
  }
  run.record_size = info_record_size(run.destination);
  run.record = static_cast<uint8_t*>(rt_alloc(run.record_size, 0, "fuzz", __LINE__, "record", 0));
  if (run.record == nullptr) abort();
  if (options.t) {
    load_lines(&run);
  } else {
    load_records(&run);
  }
  LoadResult result = {run.written, 0, k5_close(run.destination) != 0};
  seq_close(run.source);
  result.rejected = rejects_store.count;
  rejects_finish();
  rt_free(run.record, "fuzz", __LINE__, 0);
  k5_register_duplicate(nullptr);
  return result;
}

// The number of records in a Kelvra file, -1 when it does not open.
inline long record_count(const std::string& name) {
  KFile* file = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  if (file == nullptr) return -1;
  char text[64] = {};
  long count = -1;
  if (k5_info(file, -4, text) == 0 || sscanf(text, "%ld", &count) != 1) count = -1;
  k5_close(file);
  return count;
}

}  // namespace fuzz

#endif  // FUZZ_FLAT_LOAD_H
