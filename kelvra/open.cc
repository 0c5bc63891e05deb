// Opening and closing files: locks, header and dictionary checks, version stamps, the user
// count and the strict open.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/btree.h"
#include "kelvra/bulk.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/lifecycle.h"
#include "kelvra/nodes.h"
#include "kelvra/records.h"
#include "kelvra/segments.h"
#include "kelvra/share.h"

namespace {

// Header fields that every open checks; a file that fails them is damaged.
int sound_header(const Header& h) {
  int v = h.version;
  int expected = new_record_header_size(v, h.encryption);
  // Version 5 allows a longer record header than 15 bytes; the library reads at most 24.
  if (v == 5 ? (h.record_header_size < 15 || h.record_header_size > 24)
             : h.record_header_size != expected) {
    return 0;
  }
  if (h.encryption > 1 || h.compression > 100) return 0;
  if (h.max_record < 1 || h.max_record > version_record_limit(v)) return 0;
  if (h.min_record < 1 || h.min_record > h.max_record) return 0;
  if (h.key_count < 1 || h.key_count > K_MAX_KEYS) return 0;
  if (h.dictionary.offset != K_HEADER_SIZE || h.dictionary.segment != 0) return 0;
  if (h.dictionary_size < 12 || h.dictionary_size > 65536) return 0;
  if (h.free_count > h.nodes) return 0;
  uint32_t data_start = K_HEADER_SIZE + h.dictionary_size;
  if (v >= 4) {
    uint32_t b = static_cast<uint32_t>(h.blocking) * 512;
    if (h.segment_size < data_start + 64 || h.segment_size < K_HEADER_SIZE + b) return 0;
    // The nodes must fit index segments 0 to 65535, as node_allocate keeps them: a count
    // beyond would have the open look for, and size its tables for, billions of files.
    uint32_t per = (h.segment_size - K_HEADER_SIZE) / b;
    if (h.nodes > 0 && (h.nodes - 1) / per > 0xFFFF) return 0;
    if (h.first_record.segment != 0 || h.first_record.offset != data_start) return 0;
    if (h.end.offset > h.segment_size) return 0;
    if (h.end.segment == 0 && h.end.offset < data_start) return 0;
    if (h.end.segment > 0 && h.end.offset < K_HEADER_SIZE) return 0;
  } else {
    uint32_t b = static_cast<uint32_t>(h.blocking) * 512;
    if (h.first_record.offset < data_start || h.first_record.offset % b != 0) return 0;
    if (h.used_end < h.first_record.offset + b || h.used_end % b != 0) return 0;
    if (h.end.offset < h.first_record.offset || h.end.offset > h.used_end) return 0;
  }
  return 1;
}

// The deeper checks of a strict open: every tree root is a node of the right level, the
// free list head is a free node, and the record area ends inside its segment files.
int strict_checks(KFileState* s) {
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  const Header& h = s->header;
  for (int k = 0; !s->no_index && k < s->dict.key_count; k++) {
    uint32_t root = s->dict.root[k];
    if ((root == 0) != (s->dict.height[k] == 0)) return k_damaged(K_DAMAGE_NODE);
    if (root == 0) continue;
    if (!node_read(s, root, node.data())) return 0;
    if (node_level(node.data()) != s->dict.height[k] - 1) return k_damaged(K_DAMAGE_NODE);
  }
  if (!s->no_index && h.free_head != 0) {
    if (!node_read(s, h.free_head, node.data())) return k_damaged(K_DAMAGE_FREE_LIST);
    if (node.data()[0] != K_NODE_FREE) return k_damaged(K_DAMAGE_FREE_LIST);
  }
  if (segment_length(s, K_SEGMENT_DATA, h.end.segment) < h.end.offset) {
    return k_damaged(K_DAMAGE_SEGMENT);
  }
  return 1;
}

void discard(KFileState* s) {
  bulk_discard(s);
  nodes_forget(s);
  s->pending.bytes.clear();
  s->pending.segment = -1;
  close_segments(s);
  if (s->lock_fd >= 0) rt_os_close(s->lock_fd);
  delete s;
}

// Reads and checks the header block and the dictionary into header and dict.
int read_header_and_dictionary(int fd, uint8_t* block, Header* header, Dictionary* dict) {
  const long got = read_at(fd, 0, block, K_HEADER_SIZE);
  if (got < 0) return k_fail_errno();
  if (got != K_HEADER_SIZE) return k_fail(RT_ERR_NOT_KELVRA);
  if (!decode_header(block, header)) return k_fail(RT_ERR_NOT_KELVRA);
  const Header& h = *header;
  if (!sound_header(h)) return k_damaged(K_DAMAGE_HEADER);
  std::vector<uint8_t> bytes(h.dictionary_size);
  const long read = read_at(fd, K_HEADER_SIZE, bytes.data(), bytes.size());
  if (read < 0) return k_fail_errno();
  if (read != static_cast<long>(bytes.size()) ||
      !decode_dictionary(bytes.data(), h.dictionary_size, h.version, dict) ||
      dict->key_count != h.key_count) {
    return k_damaged(K_DAMAGE_DICTIONARY);
  }
  int block_bytes = h.blocking * 512;
  for (int k = 0; k < dict->key_count; k++) {
    const KeyDesc& key = dict->keys[k];
    if (leaf_capacity(h.version, block_bytes, key) < 3 ||
        inner_capacity(h.version, block_bytes, key) < 3 || dict->height[k] > 32) {
      return k_damaged(K_DAMAGE_DICTIONARY);
    }
    // A key may reach past a maximum record size lowered after the make: records then give
    // zero bytes for what they lack. It must lie within what the version allows.
    uint32_t limit = version_record_limit(h.version);
    for (int g = 0; g < key.segment_count; g++) {
      if (key.segments[g].offset > limit || key.segments[g].size > limit - key.segments[g].offset) {
        return k_damaged(K_DAMAGE_DICTIONARY);
      }
    }
  }
  return 1;
}

// Everything of k5_open after the locks: header, dictionary, segments, stamps.
int load_file(KFileState* s, int fd) {
  if (!read_header_and_dictionary(fd, s->header_block, &s->header, &s->dict)) return 0;
  Header& h = s->header;
  s->block_bytes = h.blocking * 512;
  if (h.version >= 4) {
    s->nodes_per_segment =
        static_cast<int>((h.segment_size - K_HEADER_SIZE) / static_cast<uint32_t>(s->block_bytes));
  }
  s->pub.data_segment_high = h.version >= 4 ? h.end.segment : 0;
  s->pub.index_segment_high = index_segment_high(s);
  bool forced = bKForceOpen != 0;
  bool strict = !forced && rt_config_int("K_OPEN_STRICT", 0) != 0;
  // Further segments must all be there, except where a forced open takes what it finds.
  for (int n = 1; n <= s->pub.data_segment_high; n++) {
    if (!open_segment(s, K_SEGMENT_DATA, n, 0) && !forced) return 0;
  }
  for (int n = 0; !s->no_index && n <= s->pub.index_segment_high; n++) {
    if (!open_segment(s, K_SEGMENT_INDEX, n, 0) && !forced) return 0;
  }
  k_clear_error();
  if (!forced) {
    if (h.damage_mark) return k_damaged(K_DAMAGE_MARK);
    if (!check_segment_stamps(s, !s->no_index)) return 0;
  }
  if (strict && !strict_checks(s)) return 0;
  return 1;
}

}  // namespace

void publish(KFileState* s) {
  KFile& p = s->pub;
  const Header& h = s->header;
  p.state = s;
  p.version = static_cast<int16_t>(h.version);
  p.mode = s->mode;
  p.data_segment_high = h.version >= 4 ? h.end.segment : 0;
  p.index_segment_high = index_segment_high(s);
  s->data_size.resize(static_cast<size_t>(p.data_segment_high) + 1, 0);
  s->index_size.resize(
      p.index_segment_high >= 0 ? static_cast<size_t>(p.index_segment_high) + 1 : 0, 0);
  p.data_segment_size = s->data_size.data();
  p.index_segment_size = s->index_size.empty() ? nullptr : s->index_size.data();
  p.segment_size = h.segment_size;
  p.min_record_size = h.min_record;
  p.max_record_size = h.max_record;
  p.key_count = s->dict.key_count;
  for (int k = 0; k < K_MAX_KEYS; k++)
    p.tree_height[k] = k < s->dict.key_count ? s->dict.height[k] : 0;
  p.record_header_size = h.record_header_size;
  publish_chains(s);
  p.compression = h.compression;
  p.encryption = h.encryption;
  p.collating = collating_of(s);
}

void publish_chains(KFileState* s) {
  const Header& h = s->header;
  s->pub.deleted_head = h.deleted_head.offset;
  s->pub.deleted_head_segment = h.deleted_head.segment;
  s->pub.abandoned_head = h.abandoned_head.offset;
  s->pub.abandoned_head_segment = h.abandoned_head.segment;
}

int write_header(KFileState* s) {
  Header& h = s->header;
  if (h.version == 2) {
    // Version 2 keeps one tree height: that of the tallest tree.
    h.v2_tree_height = 0;
    for (int k = 0; k < s->dict.key_count; k++) {
      if (s->dict.height[k] > h.v2_tree_height) h.v2_tree_height = s->dict.height[k];
    }
  }
  encode_header(h, s->header_block);
  // Header and dictionary in one write: another process reads them together. A shared
  // writer writes them after every change, so the buffer is kept.
  std::vector<uint8_t>& bytes = s->header_image;
  bytes.resize(K_HEADER_SIZE + dictionary_size(s->dict));
  memcpy(bytes.data(), s->header_block, K_HEADER_SIZE);
  encode_dictionary(s->dict, h.version, bytes.data() + K_HEADER_SIZE);
  if (!segment_write(s, K_SEGMENT_DATA, 0, 0, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    return 0;
  }
  s->header_dirty = 0;
  s->disk_end_segment = h.end.segment;
  return 1;
}

int reload_header(KFileState* s) {
  uint8_t block[K_HEADER_SIZE];
  Header h;
  static Dictionary dict;  // large; one call at a time
  if (!read_header_and_dictionary(s->lock_fd, block, &h, &dict)) return 0;
  const Header& was = s->header;
  // What the open fixed cannot change while the file is open.
  if (h.version != was.version || h.blocking != was.blocking ||
      h.dictionary_size != was.dictionary_size || h.segment_size != was.segment_size ||
      h.first_record.offset != was.first_record.offset) {
    return k_damaged(K_DAMAGE_HEADER);
  }
  s->header = h;
  memcpy(s->header_block, block, K_HEADER_SIZE);
  for (int k = 0; k < s->dict.key_count; k++) {
    s->dict.root[k] = dict.root[k];
    s->dict.height[k] = dict.height[k];
  }
  s->header_dirty = 0;
  s->generation++;  // cursors find their entries again
  nodes_stale(s);
  windows_forget(&s->windows);
  publish(s);
  return 1;
}

KFile* k5_open(const char* name, int mode, const char*) {
  return open_file(name, mode, 0);
}

namespace {

// Fails the open: the reason stays in the file error code.
KFile* refuse(KFileState* s) {
  int code = *rt_file_error(), secondary = *rt_file_error2();
  discard(s);
  k_fail(code, secondary);
  return nullptr;
}

// The header, segments and stamps, and for a writer a new version stamp and its place in
// the user count: one operation of a shared open.
int start_file(KFileState* s, int made) {
  off_t length = lseek(s->lock_fd, 0, SEEK_END);
  s->data[0].disk_length = length;
  s->data_size.assign(1, length);
  if (!load_file(s, s->lock_fd)) return 0;
  Header& h = s->header;
  s->next_seed = h.stamp * 2654435761u + h.records;
  if (!s->writable) return 1;
  // A new version stamp for every opening that may write, in every segment; the user count
  // stays raised on disk until the close (a file just made has it raised already).
  h.stamp = h.stamp + 1 == 0 ? 1 : h.stamp + 1;
  if (!made) h.user_count = h.user_count < 0xFFFF ? h.user_count + 1 : h.user_count;
  publish(s);
  s->header_dirty = 1;
  if (s->shared) return write_segment_stamps(s);
  return write_header(s) && write_segment_stamps(s) && flush_pending(s);
}

}  // namespace

KFile* open_file(const char* name, int mode, int made) {
  k_clear_error();
  if (!name || !*name) {
    k_fail(RT_ERR_PARAMETER);
    return nullptr;
  }
  if (open_file_count() >= library_settings().max_files) {
    k_fail(RT_ERR_TOO_MANY);
    return nullptr;
  }
  KFileState* s = new KFileState;
  s->name = name;
  s->mode = mode;
  s->writable = (mode & K_MODE_WRITE) != 0;
  s->no_index = k_open_no_index != 0;
  // An exclusive opener (512 and the fill modes) has the file alone; every other open
  // shares it with readers and writers of other processes. The exclusive lock needs a
  // descriptor open for writing.
  s->shared = !(mode & (K_MODE_EXCLUSIVE | K_MODE_FAST));  // the fast fill is exclusive too
  int fd = rt_os_open(name, s->writable || !s->shared ? O_RDWR : O_RDONLY, 0);
  if (fd < 0) {
    k_fail_errno();
    delete s;
    return nullptr;
  }
  s->lock_fd = fd;
  if (!take_open_lock(fd, !s->shared)) return refuse(s);
  s->data.resize(1);
  s->data[0].fd = dup(fd);
  s->data[0].exists = 1;
  if (s->shared) {
    if (!op_lock(s, s->writable)) return refuse(s);
    int ok = start_file(s, made);
    if (s->writable) ok = write_op_end(s, ok);
    op_unlock(s);
    if (!ok) return refuse(s);
  } else if (!start_file(s, made)) {
    return refuse(s);
  }
  if ((mode & K_MODE_FAST) && s->writable && !bulk_begin(s)) {
    discard(s);
    return nullptr;
  }
  publish(s);
  register_open(s);
  return &s->pub;
}

int k5_close(KFile* file) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  int ok = 1;
  int code = 0, secondary = 0;
  if (s->bulk && !bulk_finish(s)) {
    ok = 0;
    code = *rt_file_error();
    secondary = *rt_file_error2();
  }
  if (s->writable && !write_op_begin(s)) {
    ok = 0;
    code = *rt_file_error();
    secondary = *rt_file_error2();
  } else if (s->writable) {
    if (!nodes_flush(s, 0) && ok) {
      ok = 0;
      code = *rt_file_error();
      secondary = *rt_file_error2();
    }
    Header& h = s->header;
    if (h.user_count > 0) h.user_count--;
    if (!ok) h.damage_mark = 1;  // the indexes may not hold every record
    s->header_dirty = 1;
    int written = s->shared ? write_op_end(s, 1) : write_header(s) && flush_pending(s);
    if (!written && ok) {
      ok = 0;
      code = *rt_file_error();
      secondary = *rt_file_error2();
    }
  }
  unregister_open(s);
  discard(s);
  if (!ok) return k_fail(code, secondary);
  return 1;
}
