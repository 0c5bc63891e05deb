// The pieces of -load: the two ways records come from the flat file, the writer that deals
// with refused records, and the make that empties the destination for the option n.
#ifndef IXKIT_TRANSFER_LOAD_H
#define IXKIT_TRANSFER_LOAD_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// The option letters of -load (q is read by the option reader).
struct LoadOptions {
  bool b, d, t, l, n, r, s, v, x;
};

// One load in progress.
struct LoadRun {
  LoadOptions options;
  const char* source_name;
  const char* destination_name;
  int source;            // flat file descriptor
  KFile* destination;    // the indexed file
  uint8_t* record;       // record_size bytes, zero past the record being written
  uint32_t record_size;  // the destination's maximum record size
  long written;          // records handed to the writer and not refused as fatal
};

// The mode in which the destination is opened: ordinary writing (l), filling (r) or the
// fast fill, which keeps refused records in the rejected-records file unless s drops them
// (the callback is registered here).
int destination_mode(const LoadOptions& options);

// Loads one record per text line (LF or CR LF; a byte 26 ends the input).
void load_lines(LoadRun* run);
// Loads fixed or length-prefixed records.
void load_records(LoadRun* run);

// Writes one record; a duplicate key is replaced (replace), dropped (silent) or kept in the
// rejected-records file. 1 to go on; 0 when the load must stop, the destination then
// closed and record freed.
int write_loaded_record(KFile* destination, uint8_t* record, uint32_t length, int replace,
                        const char* name, int silent);

// Makes new_name empty, with the description of model (record sizes, keys, comment,
// collating table, format version; version 0 keeps the model's). Non-zero on success; a
// failure has been reported.
int make_like(const char* model, const char* new_name, int version);

#endif  // IXKIT_TRANSFER_LOAD_H
