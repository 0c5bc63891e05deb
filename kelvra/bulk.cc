// The fast fill: key collection, duplicate refusal and bottom-up index builds at close.
#include "kelvra/bulk.h"
#include "ixkit/libs/rtcore.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "kelvra/btree.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/lifecycle.h"
#include "kelvra/nodes.h"
#include "kelvra/records.h"
#include "kelvra/sort.h"

namespace {

KDuplicateCallback g_duplicate = nullptr;
KProgressCallback g_progress = nullptr;

// An item: the key's bytes through the collating table, the record's sequence number
// (big-endian, so that equal keys sort in writing order; it is also the duplicate serial)
// and the record address (offset and segment, big-endian).
constexpr int kSeqBytes = 4;
constexpr int kAddressBytes = 6;
constexpr uint64_t kReserveLimit = uint64_t(256) << 20;  // item room reserved at the start

struct KeyItems {
  int key_bytes = 0;  // sort on key and sequence
  int stride = 0;
  std::vector<uint8_t> items;
  std::vector<std::string> runs;
};

struct Reject {
  uint32_t ordinal;
  KAddress address;
};

}  // namespace

struct BulkState {
  std::vector<KeyItems> keys;
  uint32_t first_seq = 0;  // sequence number of the first record of this fill
  uint32_t count = 0;      // records written in this fill
  uint64_t memory = 0;     // bytes of items held
  uint64_t limit = 0;
  int runs_made = 0;
  std::vector<uint8_t> rejected;  // one bit per record of this fill
  std::vector<Reject> rejects;
};

namespace {

std::string run_name(KFileState* s, int k, int n) {
  return s->name + ".sort" + std::to_string(k) + "." + std::to_string(n);
}

// Sorts every key's items and writes them as runs, freeing the memory.
int spill(KFileState* s) {
  BulkState* b = s->bulk;
  for (size_t k = 0; k < b->keys.size(); k++) {
    KeyItems& ki = b->keys[k];
    size_t n = ki.items.size() / static_cast<size_t>(ki.stride);
    if (n == 0) continue;
    sort_items(ki.items.data(), n, ki.stride, ki.key_bytes - kSeqBytes, ki.key_bytes);
    std::string path = run_name(s, static_cast<int>(k), b->runs_made++);
    if (!write_run(path, ki.items.data(), n, ki.stride)) return 0;
    ki.runs.push_back(path);
    ki.items.clear();  // the room stays for the next batch
  }
  b->memory = 0;
  return 1;
}

void put_item_address(uint8_t* p, KAddress a) {
  put_be32(p, a.offset);
  put_be16(p + 4, a.segment);
}

KAddress item_address(const KeyItems& ki, const uint8_t* item) {
  const uint8_t* p = item + ki.key_bytes;
  return {get_be32(p), get_be16(p + 4)};
}

bool is_rejected(const BulkState* b, uint32_t seq) {
  if (seq < b->first_seq) return false;  // a record that was in the file before
  uint32_t i = seq - b->first_seq;
  return i < b->count && (b->rejected[i / 8] >> (i % 8)) & 1;
}

// Items of the tree key k has now (records in the file before this fill), with sequence 0
// for a unique key and the entry's serial for a key with duplicates.
int existing_items(KFileState* s, int k, std::vector<uint8_t>* out) {
  const KeyDesc& key = s->dict.keys[k];
  const KeyItems& ki = s->bulk->keys[static_cast<size_t>(k)];
  TreePlace at;
  LeafView view;
  if (!tree_edge(s, k, 1, &at)) return 0;
  std::vector<uint8_t> entry(static_cast<size_t>(key.entry));
  std::vector<uint8_t> item(static_cast<size_t>(ki.stride));
  for (uint64_t n = 0; at.leaf != 0; n++) {
    if (n > s->header.records) return k_damaged(K_DAMAGE_TREE_LOOP);
    KAddress a;
    if (!tree_entry(s, k, at, entry.data(), &a, &view)) return 0;
    memcpy(item.data(), entry.data(), static_cast<size_t>(key.length));
    put_be32(item.data() + key.length, key.duplicates ? get_be32(entry.data() + key.length) : 0);
    put_item_address(item.data() + ki.key_bytes, a);
    out->insert(out->end(), item.begin(), item.end());
    if (!tree_step(s, k, &at, 1, &view)) return 0;
  }
  return 1;
}

// Sets up the merge of key k's items: the old tree, the runs and what is in memory.
int open_merge(KFileState* s, int k, ItemMerge* m, std::vector<uint8_t>* old) {
  KeyItems& ki = s->bulk->keys[static_cast<size_t>(k)];
  m->stride = ki.stride;
  m->key_bytes = ki.key_bytes;
  merge_add_memory(m, old->data(), old->size() / static_cast<size_t>(ki.stride));
  for (const std::string& run : ki.runs) {
    if (!merge_add_file(m, run)) return 0;
  }
  merge_add_memory(m, ki.items.data(), ki.items.size() / static_cast<size_t>(ki.stride));
  return merge_start(m);
}

// Refuses, for a unique key, every record whose key an earlier kept record has.
int find_duplicates(KFileState* s, int k, std::vector<uint8_t>* old) {
  BulkState* b = s->bulk;
  const KeyItems& ki = b->keys[static_cast<size_t>(k)];
  int length = s->dict.keys[k].length;
  ItemMerge m;
  if (!open_merge(s, k, &m, old)) {
    merge_close(&m);
    return 0;
  }
  std::vector<uint8_t> last;
  int failed = 0;
  while (const uint8_t* item = merge_next(&m, &failed)) {
    uint32_t seq = get_be32(item + length);
    if (is_rejected(b, seq)) continue;
    // Records that were in the file before are never refused.
    if (seq >= b->first_seq && !last.empty() &&
        memcmp(last.data(), item, static_cast<size_t>(length)) == 0) {
      uint32_t i = seq - b->first_seq;
      b->rejected[i / 8] = static_cast<uint8_t>(b->rejected[i / 8] | (1 << (i % 8)));
      b->rejects.push_back({i, item_address(ki, item)});
      continue;
    }
    last.assign(item, item + length);
  }
  merge_close(&m);
  return !failed;
}

void report_progress(KFileState* s, int k, uint32_t done, uint32_t total) {
  if (!g_progress) return;
  KProgress p;
  p.file = &s->pub;
  p.key = k;
  p.key_count = s->dict.key_count;
  p.done = static_cast<int32_t>(done);
  p.total = static_cast<int32_t>(total);
  g_progress(&p);
}

// Builds one level of a tree from the first entries and nodes of the level below.
struct LevelEntry {
  std::vector<uint8_t> first;
  uint32_t node;
};

int build_inner_levels(KFileState* s, int k, std::vector<LevelEntry> level, int height) {
  const KeyDesc& key = s->dict.keys[k];
  int header = node_header_size(s->header.version);
  int stride = key.entry + 4;
  int cap = inner_capacity(s->header.version, s->block_bytes, key);
  int fill = std::max(2, cap * 9 / 10);
  bool big = s->header.version != 2;
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  while (level.size() > 1) {
    std::vector<LevelEntry> up;
    size_t i = 0;
    while (i < level.size()) {
      // Children for this node: up to fill + 1, leaving no lone child for the last node.
      size_t take = std::min(level.size() - i, static_cast<size_t>(fill + 1));
      if (level.size() - i - take == 1) take--;
      uint32_t n;
      if (!node_allocate(s, &n)) return 0;
      std::fill(node.begin(), node.end(), 0);
      set_node_header(s, node.data(), height, static_cast<int>(take - 1));
      put_uint(node.data() + header, 4, big, level[i].node);
      for (size_t c = 1; c < take; c++) {
        uint8_t* p = node.data() + header + 4 + (c - 1) * static_cast<size_t>(stride);
        memcpy(p, level[i + c].first.data(), static_cast<size_t>(key.entry));
        put_uint(p + key.entry, 4, big, level[i + c].node);
      }
      if (!node_write(s, n, node.data())) return 0;
      s->header.node_space += node_used_bytes(s, k, 0, static_cast<int>(take - 1));
      up.push_back({level[i].first, n});
      i += take;
    }
    level.swap(up);
    height++;
  }
  s->dict.root[k] = level[0].node;
  s->dict.height[k] = static_cast<uint8_t>(height);
  return 1;
}

// Builds key k's tree from its merged items, leaving out refused records.
int build_tree(KFileState* s, int k, std::vector<uint8_t>* old, uint32_t total) {
  BulkState* b = s->bulk;
  const KeyDesc& key = s->dict.keys[k];
  const KeyItems& ki = b->keys[static_cast<size_t>(k)];
  int header = node_header_size(s->header.version);
  int stride = key.entry + address_size(s->header.version);
  int cap = leaf_capacity(s->header.version, s->block_bytes, key);
  int fill = std::max(2, cap * 9 / 10);
  ItemMerge m;
  if (!open_merge(s, k, &m, old)) {
    merge_close(&m);
    return 0;
  }
  std::vector<uint8_t> leaf(static_cast<size_t>(s->block_bytes), 0);
  std::vector<LevelEntry> parents;
  uint32_t current = 0, previous = 0;
  int count = 0;
  uint32_t done = 0;
  uint32_t step = std::max<uint32_t>(1, total / 50);
  int failed = 0;
  int ok = 1;
  // Writes the leaf being filled; next is the leaf after it (0 for the last).
  auto finish_leaf = [&](uint32_t next) {
    set_node_header(s, leaf.data(), 0, count);
    put_uint(leaf.data() + header, 4, s->header.version != 2, previous);
    put_uint(leaf.data() + header + 4, 4, s->header.version != 2, next);
    s->header.node_space += node_used_bytes(s, k, 1, count);
    return node_write(s, current, leaf.data());
  };
  while (const uint8_t* item = merge_next(&m, &failed)) {
    uint32_t seq = get_be32(item + key.length);
    if (is_rejected(b, seq)) continue;
    if (count == fill) {
      uint32_t next;
      if (!node_allocate(s, &next) || !finish_leaf(next)) {
        ok = 0;
        break;
      }
      previous = current;
      current = next;
      count = 0;
      std::fill(leaf.begin(), leaf.end(), 0);
    }
    if (current == 0 && !node_allocate(s, &current)) {
      ok = 0;
      break;
    }
    uint8_t* e = leaf.data() + header + 8 + count * stride;
    memcpy(e, item, static_cast<size_t>(key.length));
    if (key.duplicates) memcpy(e + key.length, item + key.length, kSeqBytes);
    put_address(s, e + key.entry, item_address(ki, item));
    if (count == 0) parents.push_back({std::vector<uint8_t>(e, e + key.entry), current});
    count++;
    if (++done % step == 0) report_progress(s, k, done, total);
  }
  merge_close(&m);
  if (failed || !ok) return 0;
  if (current == 0) {
    s->dict.root[k] = 0;
    s->dict.height[k] = 0;
  } else {
    if (!finish_leaf(0)) return 0;
    if (!build_inner_levels(s, k, std::move(parents), 1)) return 0;
  }
  report_progress(s, k, total, total);
  return 1;
}

// Frees every node of key k's old tree.
int release_tree(KFileState* s, int k, uint32_t root, int height) {
  if (root == 0) return 1;
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  std::vector<uint32_t> level{root};
  const KeyDesc& key = s->dict.keys[k];
  int header = node_header_size(s->header.version);
  bool big = s->header.version != 2;
  for (int depth = height - 1; depth >= 0 && !level.empty(); depth--) {
    std::vector<uint32_t> below;
    for (uint32_t n : level) {
      if (!node_read(s, n, node.data())) return 0;
      if (node_level(node.data()) != depth) return k_damaged(K_DAMAGE_NODE);
      int count = node_count(s, node.data());
      if (depth > 0) {
        if (count > inner_capacity(s->header.version, s->block_bytes, key)) {
          return k_damaged(K_DAMAGE_NODE);
        }
        for (int c = 0; c <= count; c++) {
          const uint8_t* p = c == 0
                                 ? node.data() + header
                                 : node.data() + header + 4 + (c - 1) * (key.entry + 4) + key.entry;
          below.push_back(static_cast<uint32_t>(get_uint(p, 4, big)));
        }
      }
      uint64_t used = node_used_bytes(s, k, depth == 0, count);
      s->header.node_space = s->header.node_space > used ? s->header.node_space - used : 0;
      if (!node_free(s, n)) return 0;
    }
    level.swap(below);
  }
  return 1;
}

// Hands each refused record to the duplicate callback, then deletes it.
int take_out_rejects(KFileState* s) {
  BulkState* b = s->bulk;
  std::sort(b->rejects.begin(), b->rejects.end(),
            [](const Reject& x, const Reject& y) { return x.ordinal < y.ordinal; });
  std::vector<uint8_t> record(s->header.max_record + 1);
  for (const Reject& r : b->rejects) {
    uint32_t length = 0;
    if (g_duplicate && read_record(s, r.address, record.data(), &length)) {
      KDuplicate d{&s->pub, record.data(), length};
      g_duplicate(&d);
    }
    if (!delete_record(s, r.address)) return 0;
  }
  return 1;
}

}  // namespace

void k5_register_duplicate(KDuplicateCallback callback) {
  g_duplicate = callback;
}

void k5_register_progress(KProgressCallback callback) {
  g_progress = callback;
}

int bulk_begin(KFileState* s) {
  BulkState* b = new BulkState;
  b->first_seq = s->header.serial + 1;
  b->limit = sort_memory();
  b->keys.resize(static_cast<size_t>(s->dict.key_count));
  uint64_t record_bytes = 0;  // item bytes one record adds over all keys
  for (int k = 0; k < s->dict.key_count; k++) {
    KeyItems& ki = b->keys[static_cast<size_t>(k)];
    ki.key_bytes = s->dict.keys[k].length + kSeqBytes;
    ki.stride = ki.key_bytes + kAddressBytes;
    record_bytes += static_cast<uint64_t>(ki.stride);
  }
  // Room for the items of one batch up to the sort memory (bounded, so that a huge setting
  // does not reserve address space it may never use): the items are then never moved.
  uint64_t batch =
      std::min<uint64_t>(b->limit, kReserveLimit) / std::max<uint64_t>(record_bytes, 1);
  for (KeyItems& ki : b->keys) ki.items.reserve((batch + 1) * static_cast<uint64_t>(ki.stride));
  s->bulk = b;
  return 1;
}

int bulk_add(KFileState* s, const uint8_t* record, uint32_t length, KAddress at) {
  BulkState* b = s->bulk;
  if (b->first_seq + b->count == 0 || b->count == 0xFFFFFFFFu) return k_fail(RT_ERR_DISK_FULL, 5);
  uint32_t seq = b->first_seq + b->count;
  const uint8_t* collating = collating_of(s);
  for (int k = 0; k < s->dict.key_count; k++) {
    KeyItems& ki = b->keys[static_cast<size_t>(k)];
    uint8_t item[K_ENTRY_MAX + kAddressBytes];
    extract_key(s->dict.keys[k], collating, record, length, item);
    put_be32(item + s->dict.keys[k].length, seq);
    put_item_address(item + ki.key_bytes, at);
    ki.items.insert(ki.items.end(), item, item + ki.stride);
    b->memory += static_cast<uint64_t>(ki.stride);
  }
  b->count++;
  if (b->memory >= b->limit && !spill(s)) return 0;
  return 1;
}

int bulk_finish(KFileState* s) {
  BulkState* b = s->bulk;
  int keys = s->dict.key_count;
  b->rejected.assign(b->count / 8 + 1, 0);
  for (int k = 0; k < keys; k++) {
    KeyItems& ki = b->keys[static_cast<size_t>(k)];
    // Items arrive in sequence order, so a stable sort by the key alone orders them by key
    // and sequence.
    sort_items(ki.items.data(), ki.items.size() / static_cast<size_t>(ki.stride), ki.stride,
               ki.key_bytes - kSeqBytes, ki.key_bytes);
  }
  // The old trees, read into items, take part in the merges and are then given back.
  std::vector<std::vector<uint8_t>> old(static_cast<size_t>(keys));
  for (int k = 0; k < keys; k++) {
    if (!existing_items(s, k, &old[static_cast<size_t>(k)])) return 0;
  }
  for (int k = 0; k < keys; k++) {
    if (!s->dict.keys[k].duplicates && !find_duplicates(s, k, &old[static_cast<size_t>(k)])) {
      return 0;
    }
  }
  uint32_t total = s->header.records - static_cast<uint32_t>(b->rejects.size());
  for (int k = 0; k < keys; k++) {
    uint32_t root = s->dict.root[k];
    int height = s->dict.height[k];
    if (!build_tree(s, k, &old[static_cast<size_t>(k)], total)) return 0;
    std::vector<uint8_t>().swap(old[static_cast<size_t>(k)]);
    std::vector<uint8_t>().swap(b->keys[static_cast<size_t>(k)].items);
    if (!release_tree(s, k, root, height)) return 0;
  }
  if (!take_out_rejects(s)) return 0;
  s->header.serial = b->first_seq + b->count;
  s->generation++;
  bulk_discard(s);
  publish(s);
  return 1;
}

void bulk_discard(KFileState* s) {
  BulkState* b = s->bulk;
  if (!b) return;
  for (KeyItems& ki : b->keys) {
    for (const std::string& run : ki.runs) rt_os_unlink(run.c_str());
  }
  delete b;
  s->bulk = nullptr;
}
