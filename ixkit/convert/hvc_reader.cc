// The HV/COBOL-85 reader. Every number is big-endian. Block b begins at b x spacing; block 0
// holds the header (its first 256 bytes) and, from offset 256, the 36-byte key descriptors,
// which go on at offset 6 of the next block where one would not fit. Data blocks (type 6 or
// 7) hold record entries from offset 8 up to the end their bytes 6 and 7 give.
#include <cerrno>
#include <cstring>

#include "ixkit/convert/checks.h"
#include "ixkit/convert/hvc.h"
#include "ixkit/convert/steps.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr uint32_t kLargestSize = 32767;
constexpr uint32_t kDescriptorSize = 36;
// A block must hold one key descriptor after its 6-byte head.
constexpr uint32_t kSmallestBlock = 6 + kDescriptorSize;

int refuse(int fd) {
  rt_close(fd);
  return -1;
}

// The checks of the header block, each refusal with its message: 1 when it passes.
int header_passes(const char* name, const uint8_t* h) {
  const char* refusal = nullptr;
  if (get_be(h, 2) != 1 || memcmp(h + 6, "HVKF", 4) != 0) {
    refusal = rt_message(1060, 0, "%s: not an HV/COBOL-85 indexed file\n");
  } else if (h[33] & 0x10) {
    refusal = rt_message(1061, 0, "%s: incomplete indexed file\n");
  } else if ((h[105] != 0 && h[105] != 2) || (h[107] != 0 && h[107] != 2) || get_be(h + 110, 2)) {
    refusal = rt_message(1062, 0, "%s: non-ASCII code-set or collating sequence\n");
  }
  if (refusal != nullptr) {
    rt_print(refusal, name);
    return 0;
  }
  if (get_be(h + 18, 2) > kLargestSize || get_be(h + 26, 2) > kLargestSize) {
    report_too_large(name);
    return 0;
  }
  if (h[25] > K_MAX_KEYS) {
    report_too_many_keys(name);
    return 0;
  }
  return 1;
}

// The line end and message of a record chain that cannot be followed: the records end.
int chain_corrupt() {
  rt_print("\n");
  rt_print("%s", rt_message(1015, 0, "Error: the chain of records appears to be corrupt!\n"));
  return 0;
}

// Reads the next data block into d->block and sets the cursor at its first entry: 1, 0 when
// the blocks end, -1 when the system refused a read (the file error code says why: the
// records that follow are not known, so the conversion must not end as if they were none).
int next_data_block(int fd, ConvertDescription* d) {
  for (; d->block_number < d->block_count; ++d->block_number) {
    const long long at = static_cast<long long>(d->block_number) * d->block_spacing;
    const long got = rt_seek(fd, at, 0) == at ? rt_read(fd, d->block, d->block_size) : -1;
    if (got < 0) {
      rt_set_file_error(RT_ERR_SYSTEM, errno);
      return -1;
    }
    if (got == 0) return 0;
    const uint32_t type = got >= 2 ? get_be(d->block, 2) : 0;
    if (type != 6 && type != 7) continue;
    ++d->block_number;
    d->cursor = 8;
    d->block_end = get_be(d->block + 6, 2);
    // A used area beyond the bytes read would take what an earlier block left there.
    if (got < 8 || d->block_end > static_cast<uint32_t>(got)) return chain_corrupt();
    return 1;
  }
  return 0;
}

}  // namespace

int hvc_read_header(const char* name, ConvertDescription* d) {
  const int fd = rt_open(name, RT_OPEN_EXISTING);
  if (fd < 0) {
    rt_report_error(name);
    return -1;
  }
  uint8_t h[256] = {};
  rt_read(fd, h, sizeof h);
  if (!header_passes(name, h)) return refuse(fd);
  d->record_size = get_be(h + 18, 2);
  d->compressed = (h[20] & 2) != 0;
  d->fill1 = h[21];
  d->fill2 = h[22];
  d->key_count = h[25];
  d->block_size = get_be(h + 26, 2);
  d->block_spacing = get_be(h + 28, 2);
  d->block_count = get_be(h + 42, 4);
  d->expected_records = get_be(h + 50, 4);
  d->keys_with_duplicates = 0;
  // Blocks that cannot hold a descriptor, or that overlap, are not of a sound file.
  if (d->block_size < kSmallestBlock || d->block_spacing < d->block_size) {
    report_damaged(name, "block length or spacing out of range");
    return refuse(fd);
  }

  long long base = 0;
  uint32_t offset = 256;
  for (int k = 0; k < d->key_count; ++k, offset += kDescriptorSize) {
    if (offset + kDescriptorSize > d->block_size) {
      base += d->block_spacing;
      offset = 6;
    }
    uint8_t descriptor[kDescriptorSize];
    if (rt_seek(fd, base + offset, 0) != base + offset ||
        rt_read(fd, descriptor, kDescriptorSize) != kDescriptorSize) {
      report_damaged(name, "key descriptor beyond the end of the file");
      return refuse(fd);
    }
    d->segments[k] = 1;
    d->segment_offset[k][0] = get_be(descriptor, 2);
    d->segment_size[k][0] = get_be(descriptor + 2, 2);
    d->duplicates[k] = descriptor[4] != 0;
    d->keys_with_duplicates = static_cast<int16_t>(d->keys_with_duplicates + d->duplicates[k]);
    if (d->segment_size[k][0] > static_cast<uint32_t>(K_MAX_KEY_SIZE)) {
      report_key_too_large(name);
      return refuse(fd);
    }
  }
  snprintf(d->comment, sizeof d->comment, "%s", rt_message(1066, 0, "Converted HV/COBOL-85 file"));
  if (!check_converted_description(name, d)) return refuse(fd);
  return fd;
}

int hvc_next_record(int fd, ConvertDescription* d) {
  memset(d->record, ' ', d->record_size);
  while (d->cursor >= d->block_end) {
    const int next = next_data_block(fd, d);
    if (next <= 0) return next;
  }
  // The entry: 2 bytes, 4 per key with duplicates, the stored length, the stored bytes.
  const uint32_t at = d->cursor + 2 + 4u * static_cast<uint32_t>(d->keys_with_duplicates);
  if (at + 2 > d->block_end) return chain_corrupt();
  const uint32_t length = get_be(d->block + at, 2);
  if (length > d->block_end - (at + 2)) return chain_corrupt();
  const uint8_t* stored = d->block + at + 2;
  d->cursor = at + 2 + length;
  if (!d->compressed) {
    if (length > d->record_size) return 0;
    memcpy(d->record, stored, length);
    return 1;
  }
  const int expanded = hvc_expand(stored, length, d->record, d->record_size, d->fill1, d->fill2);
  return expanded < 0 ? chain_corrupt() : expanded;
}
