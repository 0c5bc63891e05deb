// The C-ISAM reader. Every number is big-endian. The index file is a run of equal nodes,
// node N (from 1) at (N - 1) x node size; node 1 is the dictionary, and a chain of key
// description nodes begins at the node it names. The data file holds fixed slots: the record
// and a status byte, 0 for a deleted record.
#include <cerrno>
#include <cstring>

#include "ixkit/convert/checks.h"
#include "ixkit/convert/cisam.h"
#include "ixkit/convert/steps.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/front/console.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr long kDictionarySize = 1024;
constexpr uint32_t kLargestSize = 32767;
// A node must hold its 6-byte head and one 7-byte key description.
constexpr uint32_t kSmallestNode = 13;
// Every node of a sound chain holds at least one of at most 120 key descriptions: a chain
// longer than this meets a node twice.
constexpr int kMostKeyNodes = K_MAX_KEYS + 1;
// Bytes of the data file read at once.
constexpr uint32_t kReadAhead = 65536;

// Reads node number n (from 1) into node; 0 when it lies outside the index file.
int read_node(int fd, uint32_t n, uint32_t size, uint8_t* node) {
  if (n == 0) return 0;
  const long long at = static_cast<long long>(n - 1) * size;
  memset(node, 0, size);
  return rt_seek(fd, at, 0) == at && rt_read(fd, node, size) == static_cast<long>(size);
}

// Takes the key descriptions of one node into d, counting the keys in *k (also those past
// the 120th, which are not stored). 0 after the message of a refused key.
int read_descriptions(const char* name, const uint8_t* node, ConvertDescription* d, uint32_t limit,
                      int* k) {
  uint32_t used = get_be(node, 2);
  if (used > d->block_size) used = d->block_size;
  for (uint32_t p = 6; p < used; ++*k) {
    const uint32_t end = p + (p + 2 <= used ? get_be(node + p, 2) : 0);
    if (end < p + 7 || end > used) {
      report_damaged(name, "key description out of its node");
      return 0;
    }
    const int key = *k;
    uint32_t parts = 0, key_size = 0;
    for (p += 7; p < end; p += 5, ++parts) {
      if (p + 5 > end) {
        report_damaged(name, "key part out of its key description");
        return 0;
      }
      const uint32_t word = get_be(node + p, 2);
      const int type = static_cast<int8_t>(node[p + 4]);
      if (type > 2) {
        rt_print(
            rt_message(1070, 0, "Warning: Unsupported data type detected in key, (type = %d)\n"),
            type);
      }
      if (key < K_MAX_KEYS && parts < K_MAX_SEGMENTS) {
        if (parts == 0) d->duplicates[key] = static_cast<uint8_t>(word >> 15);
        d->segment_size[key][parts] = word & 0x7FFF;
        d->segment_offset[key][parts] = get_be(node + p + 2, 2);
      }
      key_size += word & 0x7FFF;
    }
    if (parts > limit) {
      report_too_many_segments(name, static_cast<int>(limit));
      return 0;
    }
    if (key < K_MAX_KEYS) d->segments[key] = parts;
    if (key == 0 && d->duplicates[0]) {
      rt_print("%s", rt_message(1072, 0, "Primary key allows duplicates!\n"));
      return 0;
    }
    if (key_size > static_cast<uint32_t>(K_MAX_KEY_SIZE)) {
      report_key_too_large(name);
      return 0;
    }
  }
  return 1;
}

// Closes both files and releases the dictionary area: the end of a refused file.
int refuse(CisamFiles* files, uint8_t* area) {
  cisam_close(files);
  rt_free(area, CONVERT_SOURCE, __LINE__, 0);
  return -1;
}

}  // namespace

uint32_t cisam_buffer_slots(const ConvertDescription* d) {
  const uint32_t slots = kReadAhead / (d->record_size + 1);
  return slots > 0 ? slots : 1;
}

void cisam_close(CisamFiles* files) {
  if (files->index >= 0) rt_close(files->index);
  if (files->data >= 0) rt_close(files->data);
  files->index = files->data = -1;
}

int cisam_read_dictionary(const char* name, ConvertDescription* d, CisamFiles* files) {
  *files = {-1, -1, 0, 0};
  char file_name[FOREIGN_NAME_AREA];
  if (!foreign_name(file_name, name, ".idx")) return -1;
  files->index = rt_open(file_name, RT_OPEN_EXISTING);
  if (files->index < 0) {
    rt_report_error(file_name);
    return -1;
  }
  foreign_name(file_name, name, ".dat");
  files->data = rt_open(file_name, RT_OPEN_EXISTING);
  if (files->data < 0) files->data = rt_open(name, RT_OPEN_EXISTING);
  if (files->data < 0) {
    rt_report_error(name);
    cisam_close(files);
    return -1;
  }

  auto* node = static_cast<uint8_t*>(
      rt_alloc(kDictionarySize, 0, CONVERT_SOURCE, __LINE__, "hdr for C-ISAM file", 0));
  if (node == nullptr) out_of_memory();
  rt_read(files->index, node, kDictionarySize);
  d->record_size = get_be(node + 13, 2);
  d->block_size = get_be(node + 6, 2) + 1;
  if (d->record_size > kLargestSize || d->block_size > kLargestSize) {
    report_too_large(name);
    return refuse(files, node);
  }
  const int keys = static_cast<int16_t>(get_be(node + 8, 2));
  if (keys > K_MAX_KEYS) {
    report_too_many_keys(name);
    return refuse(files, node);
  }
  d->compressed = 0;
  d->key_count = static_cast<int16_t>(keys);
  const uint32_t first = get_be(node + 15, 4);

  node = static_cast<uint8_t*>(rt_realloc(node, d->block_size, CONVERT_SOURCE, __LINE__, 0));
  if (node == nullptr) out_of_memory();
  if (d->block_size < kSmallestNode || !read_node(files->index, first, d->block_size, node)) {
    report_damaged(name, "key description node out of the index file");
    return refuse(files, node);
  }
  const uint32_t limit = rt_config_int("K_VERSION", 0) < 4 ? 6 : K_MAX_SEGMENTS;
  int k = 0;
  for (int nodes = 1;; ++nodes) {
    if (!read_descriptions(name, node, d, limit, &k)) return refuse(files, node);
    const int next = cisam_next_key_node(node, d, files);
    if (next == 0) break;
    if (next < 0 || nodes == kMostKeyNodes) {
      report_damaged(name, "key description chain out of the index file or looping");
      return refuse(files, node);
    }
  }
  if (k != keys) {
    char found[16], wanted[16];
    snprintf(found, sizeof found, "%d", k);
    snprintf(wanted, sizeof wanted, "%d", keys);
    rt_print_args(rt_message(1073, 0, "%1: Key mismatch.  Found %2, should have %3\n"), name, found,
                  wanted);
    return refuse(files, node);
  }
  snprintf(d->comment, sizeof d->comment, "%s", rt_message(1074, 0, "Converted CISAM file"));
  rt_free(node, CONVERT_SOURCE, __LINE__, 0);
  if (!check_converted_description(name, d)) {
    cisam_close(files);
    return -1;
  }
  return 1;
}

int cisam_next_key_node(uint8_t* node, const ConvertDescription* d, CisamFiles* files) {
  const uint32_t link = get_be(node + 2, 4);
  if (link == 0) return 0;
  return read_node(files->index, link, d->block_size, node) ? 1 : -1;
}

int cisam_next_record(CisamFiles* files, ConvertDescription* d, const uint8_t** record) {
  const size_t slot = d->record_size + 1;
  for (;;) {
    if (files->slot_at == files->slots_held) {
      const long got =
          rt_read(files->data, d->record, static_cast<long>(slot * cisam_buffer_slots(d)));
      if (got < 0) {
        rt_set_file_error(RT_ERR_SYSTEM, errno);
        return -1;
      }
      // Bytes after the last whole slot are not a record.
      files->slots_held = static_cast<uint32_t>(static_cast<size_t>(got) / slot);
      files->slot_at = 0;
      if (files->slots_held == 0) return 0;
    }
    const uint8_t* at = d->record + files->slot_at++ * slot;
    if (at[d->record_size] != 0) {
      *record = at;
      return 1;
    }
  }
}
