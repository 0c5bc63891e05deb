// Raw records: the scan limits and buffers, record headers of every version, expansion,
// unscrambling and the reading of one record.
#include "ixkit/repair/scanner.h"

#include <cstdio>
#include <cstring>

#include "ixkit/describe/header.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

ScanLimits scan_limits = {0, 0, 0, 0};
uint8_t* expansion_buffer = nullptr;

namespace {

// Versions 4 and later (and any unknown version, read with the version-5 layout) keep
// their records in data segments rather than linked blocks.
bool segmented() {
  return file_header.version != 2 && file_header.version != 3;
}

// The largest slot a record may have. The library gives every slot room for a deleted
// record's link, so in a file whose records are shorter than the link the slot is the
// link's size: such a file is sound and must not be reported broken.
uint32_t stored_limit() {
  uint32_t link = link_data_bytes();
  return scan_limits.max_record_size > link ? scan_limits.max_record_size : link;
}

}  // namespace

int set_scan_limits(KFile* file) {
  char text[K_KEY_TEXT_SIZE + 11] = "";
  unsigned max = 0, min = 0, keys = 0;
  if (!k5_info(file, -1, text)) return 0;
  if (sscanf(text, "%u,%u,%u", &max, &min, &keys) < 2) max = min = 0;
  unsigned blocking = 0, prealloc = 0, extension = 0, compression = 0, encryption = 0;
  text[0] = '\0';
  if (!k5_info(file, -2, text)) return 0;
  sscanf(text, "%u,%u,%u,%u,%u", &blocking, &prealloc, &extension, &compression, &encryption);
  scan_limits.max_record_size = ki_check_record_size(file_header.version, max);
  scan_limits.min_record_size = min;
  scan_limits.compression = compression != 0;
  scan_limits.encryption = encryption != 0;
  return 1;
}

uint8_t* allocate_scan_buffer(uint32_t bytes) {
  void* buffer = rt_alloc(bytes, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0);
  if (buffer == nullptr) out_of_memory();
  return static_cast<uint8_t*>(buffer);
}

void allocate_expansion_buffer() {
  release_expansion_buffer();
  expansion_buffer = allocate_scan_buffer(scan_limits.max_record_size + 50);
}

void release_expansion_buffer() {
  if (expansion_buffer != nullptr) rt_free(expansion_buffer, IXKIT_SOURCE, __LINE__, 0);
  expansion_buffer = nullptr;
}

uint32_t link_data_bytes() {
  uint32_t bytes = ki_check_record_size(file_header.version, 0);
  return bytes < 6 ? bytes : 6;
}

uint32_t file_number(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  const bool little = file_header.version == 2;
  for (int i = 0; i < count; i++) value = value << 8 | bytes[little ? count - 1 - i : i];
  return value;
}

uint32_t record_buffer_size() {
  uint32_t size = stored_limit();
  uint32_t header = static_cast<uint32_t>(raw_header_size);
  return size > header ? size : header;
}

int raw_header_size_sound() {
  switch (file_header.version) {
    case 2:
      return raw_header_size == 9;
    case 3:
    case 4:
      return raw_header_size >= 4;
    default:
      return raw_header_size >= 15;
  }
}

void parse_record_header(uint8_t* bytes, RecordHeaderView* view) {
  *view = RecordHeaderView{0, 0, 0, 0, 0};
  switch (file_header.version) {
    case 2:
      view->stored_size = file_number(bytes, 2);
      view->data_length = file_number(bytes + 2, 2);
      view->link_or_seed = file_number(bytes + 4, 4);
      if (bytes[8] == 0x7F) view->flags = RECORD_DELETED;
      if (bytes[8] == 0x7E) view->flags = RECORD_PLAIN;
      break;
    case 3:
    case 4:
      view->stored_size = file_number(bytes, 2);
      if (bytes[2] & 0x80) view->flags = RECORD_PLAIN;
      bytes[2] &= 0x7F;
      view->data_length = file_number(bytes + 2, 2);
      if (view->data_length == 0) view->flags = RECORD_DELETED;
      if (raw_header_size > 4) view->link_or_seed = file_number(bytes + 4, 4);
      break;
    default:
      view->stored_size = file_number(bytes, 4);
      view->data_length = file_number(bytes + 4, 4);
      view->flags = bytes[8];
      if (view->flags & (RECORD_DELETED | RECORD_ABANDONED)) {
        view->link_or_seed = file_number(bytes + 9, 4);
        view->link_segment = static_cast<uint16_t>(file_number(bytes + 13, 2));
      } else if (per_record_seed) {
        view->link_or_seed = file_number(bytes + 9, 4);
      }
      break;
  }
}

uint32_t expand_record(uint8_t* destination, uint32_t count) {
  const uint8_t* in = expansion_buffer;
  const uint32_t max = scan_limits.max_record_size;
  const bool extended_codes = file_header.version >= 3;
  uint32_t out = 0;
  uint32_t i = 0;
  while (i < count) {
    uint8_t code = in[i];
    uint32_t run = 0;
    uint8_t fill = 0;
    // Stored data that ends inside a code is refused like an overflow: the record is
    // broken (-5), and nothing past the stored length is read.
    if (code == 0xFE) {
      if (count - i < 3) return 0;
      fill = in[i + 1];
      run = in[i + 2];
      i += 3;
    } else if (extended_codes && code >= 0xFB && code <= 0xFD) {
      if (count - i < 2) return 0;
      fill = code == 0xFB ? 0x00 : (code == 0xFC ? '0' : ' ');
      run = in[i + 1];
      i += 2;
    } else {
      if (extended_codes && code == 0xFA) {
        if (count - i < 2) return 0;
        code = in[++i];
      }
      if (out >= max) return 0;
      destination[out++] = code;
      i++;
      continue;
    }
    if (run > max - out) return 0;
    memset(destination + out, fill, run);
    out += run;
  }
  return out;
}

void unscramble(uint8_t* bytes, uint32_t count, uint32_t seed) {
  uint32_t key = seed;  // unsigned: the running key wraps, only its low 8 bits count
  for (uint32_t i = 0; i < count; i++) {
    bytes[i] = static_cast<uint8_t>(bytes[i] - static_cast<uint8_t>(key));
    key += 7;
  }
}

int read_raw_record(int descriptor, uint8_t* buffer, int64_t* position, int expand,
                    int unscramble_data) {
  if (*position == 0) return RAW_END;
  if (!raw_header_size_sound()) return RAW_BROKEN;
  const int64_t header_size = raw_header_size;
  if (segmented() && *position > static_cast<int64_t>(file_header.segment_size) - header_size) {
    return RAW_SEGMENT_END;
  }
  int64_t after = read_span(descriptor, buffer, static_cast<uint32_t>(header_size), *position);
  *position = after;
  // A block chain that is broken or loops is reported, not taken for the end of the records.
  if (after == -2) return RAW_BROKEN;
  if (after <= 0) return RAW_END;
  RecordHeaderView view;
  parse_record_header(buffer, &view);
  if (view.stored_size == 0) {
    return segmented() && view.data_length == 0 ? RAW_SEGMENT_END : RAW_END;
  }
  if (view.stored_size > stored_limit()) return RAW_BROKEN;
  const bool expanding = expand && !(view.flags & RECORD_PLAIN);
  uint8_t* stored = expanding ? expansion_buffer : buffer;
  after = read_span(descriptor, stored, view.stored_size, *position);
  *position = after;
  if (after <= 0) return RAW_BROKEN;
  if (view.flags & RECORD_DELETED) return RAW_DELETED;
  if (view.flags & RECORD_ABANDONED) return RAW_ABANDONED;
  // The meaningful bytes must lie inside the slot just read.
  if (view.data_length == 0 || view.data_length > scan_limits.max_record_size ||
      view.data_length > view.stored_size) {
    return RAW_BROKEN;
  }
  if (unscramble_data) unscramble(stored, view.data_length, view.link_or_seed);
  uint32_t length = view.data_length;
  if (expanding) {
    length = expand_record(buffer, view.data_length);
    if (length == 0) return RAW_BROKEN;
  }
  if (length < scan_limits.min_record_size || length > scan_limits.max_record_size) return RAW_BAD;
  return static_cast<int>(length);
}
