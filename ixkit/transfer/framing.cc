// Record layouts of the flat files the program writes.
#include "ixkit/transfer/framing.h"

#include <cstring>

FlatFraming written_framing(bool b, bool t, bool v) {
  if (t) return FlatFraming::line;
  if (!v) return FlatFraming::fixed;
  return b ? FlatFraming::portable : FlatFraming::native;
}

int length_prefix(FlatFraming framing, uint32_t max_size, uint32_t length, uint8_t prefix[4]) {
  switch (framing) {
    case FlatFraming::native:
      memcpy(prefix, &length, 4);
      return 4;
    case FlatFraming::portable:
      if (max_size > 65535) {
        prefix[0] = static_cast<uint8_t>(length >> 24);
        prefix[1] = static_cast<uint8_t>(length >> 16);
        prefix[2] = static_cast<uint8_t>(length >> 8);
        prefix[3] = static_cast<uint8_t>(length);
        return 4;
      }
      prefix[0] = static_cast<uint8_t>(length >> 8);  // the low 16 bits
      prefix[1] = static_cast<uint8_t>(length);
      return 2;
    case FlatFraming::fixed:
    case FlatFraming::line:
      break;
  }
  return 0;
}

void frame_record(FlatFraming framing, uint32_t max_size, uint32_t length, uint8_t* record,
                  FramedRecord* out) {
  out->prefix_bytes = length_prefix(framing, max_size, length, out->prefix);
  switch (framing) {
    case FlatFraming::fixed:
      out->body_bytes = max_size;
      break;
    case FlatFraming::line:
      record[length] = '\n';
      out->body_bytes = length + 1;
      break;
    case FlatFraming::native:
    case FlatFraming::portable:
      out->body_bytes = length;
      break;
  }
}
