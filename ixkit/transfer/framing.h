// How records are laid out in a flat file written by -unload, -deleted and the
// rejected-records file.
#ifndef IXKIT_TRANSFER_FRAMING_H
#define IXKIT_TRANSFER_FRAMING_H

#include <cstdint>

enum class FlatFraming {
  fixed,     // max_size bytes, the record padded with zero bytes
  native,    // 4-byte length in the machine's order, then the record
  portable,  // big-endian length (4 bytes when max_size > 65535, else 2), then the record
  line,      // the record and a line feed
};

// The framing the option letters b, t and v of -unload and -deleted choose.
FlatFraming written_framing(bool b, bool t, bool v);

// The length prefix of a record of length bytes in a file whose records are at most
// max_size bytes: its bytes in prefix, its size as the result (0 when the framing has none).
int length_prefix(FlatFraming framing, uint32_t max_size, uint32_t length, uint8_t prefix[4]);

// One record as it goes into the flat file: the prefix, then body_bytes bytes of the record
// buffer.
struct FramedRecord {
  uint8_t prefix[4];
  int prefix_bytes;
  uint32_t body_bytes;
};
// Frames the record of length bytes in record, a buffer of max_size bytes (max_size + 1 for
// the line framing, whose line feed is stored after the record). Without a prefix, fixed
// records carry the whole buffer: the caller keeps the bytes after the record zero.
void frame_record(FlatFraming framing, uint32_t max_size, uint32_t length, uint8_t* record,
                  FramedRecord* out);

#endif  // IXKIT_TRANSFER_FRAMING_H
