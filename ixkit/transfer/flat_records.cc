// The record readers of -load: fixed records, or records behind a length prefix.
#include <cstring>

#include "ixkit/transfer/seqfile.h"

namespace {

// Reads a record whose length, when variable, comes from a prefix of prefix_bytes bytes,
// big-endian or in the machine's order.
long read_record(int descriptor, uint8_t* record, int variable, int prefix_bytes, bool big_endian,
                 uint32_t max_size) {
  uint32_t length = max_size;
  if (variable) {
    uint8_t prefix[4];
    long got = seq_read(descriptor, prefix, static_cast<uint64_t>(prefix_bytes));
    if (got < 0) return SEQ_READ_FAILED;
    if (got != prefix_bytes) return 0;
    if (big_endian) {
      length = 0;
      for (int i = 0; i < prefix_bytes; ++i) length = length << 8 | prefix[i];
    } else {
      memcpy(&length, prefix, sizeof length);
    }
    // More than the buffer holds is no record of this file (a wrong framing, most likely):
    // nothing is read into the buffer and the caller ends the input with a message.
    if (length > max_size) return SEQ_RECORD_TOO_LONG;
  }
  if (length == 0) return 0;
  // A partial last record is dropped: it ends the input like the end of the data.
  long got = seq_read(descriptor, record, length);
  if (got < 0) return SEQ_READ_FAILED;
  return got == static_cast<long>(length) ? got : 0;
}

}  // namespace

long read_portable_record(int descriptor, uint8_t* record, int variable, int wide,
                          uint32_t max_size) {
  return read_record(descriptor, record, variable, wide ? 4 : 2, true, max_size);
}

long read_native_record(int descriptor, uint8_t* record, int variable, int, uint32_t max_size) {
  return read_record(descriptor, record, variable, 4, false, max_size);
}
