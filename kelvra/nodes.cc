// Index node placement, the shared block cache and node allocation.
#include "kelvra/nodes.h"
#include "ixkit/libs/rtcore.h"

#include <cstring>
#include <unordered_map>
#include <vector>

#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/records.h"
#include "kelvra/segments.h"

namespace {

struct CacheEntry {
  KFileState* file = nullptr;
  uint32_t node = 0;
  uint64_t epoch = 0;  // the file's cache epoch when read; another epoch is stale
  int dirty = 0;
  std::vector<uint8_t> bytes;
  int older = -1;  // towards the least recently used entry
  int newer = -1;
};

struct CacheKey {
  KFileState* file;
  uint32_t node;
  bool operator==(const CacheKey& o) const { return file == o.file && node == o.node; }
};

struct CacheKeyHash {
  size_t operator()(const CacheKey& k) const {
    return std::hash<const void*>()(k.file) ^ (static_cast<size_t>(k.node) * 0x9E3779B97F4A7C15ull);
  }
};

// The block cache: a fixed number of entries in least-recently-used order.
struct Cache {
  std::vector<CacheEntry> entries;
  std::unordered_map<CacheKey, int, CacheKeyHash> map;
  int newest = -1;
  int oldest = -1;
  int capacity = 128;
};

Cache& cache() {
  static Cache c;
  return c;
}

void unlink_entry(Cache& c, int i) {
  CacheEntry& e = c.entries[static_cast<size_t>(i)];
  if (e.older >= 0) c.entries[static_cast<size_t>(e.older)].newer = e.newer;
  if (e.newer >= 0) c.entries[static_cast<size_t>(e.newer)].older = e.older;
  if (c.newest == i) c.newest = e.older;
  if (c.oldest == i) c.oldest = e.newer;
  e.older = e.newer = -1;
}

void link_newest(Cache& c, int i) {
  CacheEntry& e = c.entries[static_cast<size_t>(i)];
  e.older = c.newest;
  e.newer = -1;
  if (c.newest >= 0) c.entries[static_cast<size_t>(c.newest)].newer = i;
  c.newest = i;
  if (c.oldest < 0) c.oldest = i;
}

// Where node n lives: segment code, segment number and byte position.
int locate(const KFileState* s, uint32_t n, int* code, int* segment, uint64_t* pos) {
  const Header& h = s->header;
  if (n == 0) return 0;
  if (h.version <= 3) {
    uint64_t at = static_cast<uint64_t>(n) * static_cast<uint64_t>(s->block_bytes);
    if (at < h.first_record.offset || at + static_cast<uint64_t>(s->block_bytes) > h.used_end) {
      return 0;
    }
    *code = K_SEGMENT_DATA;
    *segment = 0;
    *pos = at;
    return 1;
  }
  if (n > h.nodes || s->nodes_per_segment <= 0) return 0;
  uint32_t slot = n - 1;
  *code = K_SEGMENT_INDEX;
  *segment = static_cast<int>(slot / static_cast<uint32_t>(s->nodes_per_segment));
  *pos = K_HEADER_SIZE + static_cast<uint64_t>(slot % static_cast<uint32_t>(s->nodes_per_segment)) *
                             static_cast<uint64_t>(s->block_bytes);
  return 1;
}

int write_entry(CacheEntry& e) {
  int code, segment;
  uint64_t pos;
  if (!locate(e.file, e.node, &code, &segment, &pos)) return k_damaged(K_DAMAGE_NODE);
  if (!segment_write(e.file, code, segment, pos, e.bytes.data(),
                     static_cast<uint32_t>(e.bytes.size()))) {
    return 0;
  }
  e.dirty = 0;
  return 1;
}

// An entry for (s, n), evicting the least recently used one when the cache is full.
int take_entry(KFileState* s, uint32_t n, int* index) {
  Cache& c = cache();
  int i;
  if (static_cast<int>(c.entries.size()) < c.capacity) {
    c.entries.emplace_back();
    i = static_cast<int>(c.entries.size()) - 1;
  } else {
    i = c.oldest;
    CacheEntry& victim = c.entries[static_cast<size_t>(i)];
    if (victim.dirty && !write_entry(victim)) return 0;
    c.map.erase({victim.file, victim.node});
    unlink_entry(c, i);
  }
  CacheEntry& e = c.entries[static_cast<size_t>(i)];
  e.file = s;
  e.node = n;
  e.epoch = s->cache_epoch;
  e.dirty = 0;
  e.bytes.assign(static_cast<size_t>(s->block_bytes), 0);
  c.map[{s, n}] = i;
  link_newest(c, i);
  *index = i;
  return 1;
}

// Makes entry i the first to be taken again.
void link_oldest(Cache& c, int i) {
  CacheEntry& e = c.entries[static_cast<size_t>(i)];
  e.older = -1;
  e.newer = c.oldest;
  if (c.oldest >= 0) c.entries[static_cast<size_t>(c.oldest)].older = i;
  c.oldest = i;
  if (c.newest < 0) c.newest = i;
}

void drop_entry(Cache& c, int i) {
  CacheEntry& e = c.entries[static_cast<size_t>(i)];
  c.map.erase({e.file, e.node});
  e.file = nullptr;
  e.dirty = 0;
  unlink_entry(c, i);
  link_oldest(c, i);
}

int find_entry(KFileState* s, uint32_t n) {
  Cache& c = cache();
  auto it = c.map.find({s, n});
  if (it == c.map.end()) return -1;
  int i = it->second;
  if (c.entries[static_cast<size_t>(i)].epoch != s->cache_epoch) {
    drop_entry(c, i);  // read before another process changed the file
    return -1;
  }
  unlink_entry(c, i);
  link_newest(c, i);
  return i;
}

}  // namespace

void cache_configure(int blocks) {
  Cache& c = cache();
  c.capacity = blocks < 8 ? 8 : blocks;
}

int index_segment_high(const KFileState* s) {
  if (s->header.version <= 3) return -1;
  if (s->header.nodes == 0 || s->nodes_per_segment <= 0) return 0;
  return static_cast<int>((s->header.nodes - 1) / static_cast<uint32_t>(s->nodes_per_segment));
}

int node_read(KFileState* s, uint32_t n, uint8_t* buffer) {
  int i = find_entry(s, n);
  if (i >= 0) {
    memcpy(buffer, cache().entries[static_cast<size_t>(i)].bytes.data(),
           static_cast<size_t>(s->block_bytes));
    return 1;
  }
  int code, segment;
  uint64_t pos;
  if (!locate(s, n, &code, &segment, &pos)) return k_damaged(K_DAMAGE_NODE);
  if (!segment_read(s, code, segment, pos, buffer, static_cast<uint32_t>(s->block_bytes),
                    K_DAMAGE_NODE)) {
    return 0;
  }
  if (!take_entry(s, n, &i)) return 0;
  memcpy(cache().entries[static_cast<size_t>(i)].bytes.data(), buffer,
         static_cast<size_t>(s->block_bytes));
  return 1;
}

int node_write(KFileState* s, uint32_t n, const uint8_t* buffer) {
  int code, segment;
  uint64_t pos;
  if (!locate(s, n, &code, &segment, &pos)) return k_damaged(K_DAMAGE_NODE);
  int i = find_entry(s, n);
  if (i < 0 && !take_entry(s, n, &i)) return 0;
  CacheEntry& e = cache().entries[static_cast<size_t>(i)];
  memcpy(e.bytes.data(), buffer, static_cast<size_t>(s->block_bytes));
  if (!e.dirty && s->shared) s->dirty_entries.push_back(i);
  e.dirty = 1;
  return 1;
}

int node_allocate(KFileState* s, uint32_t* n) {
  Header& h = s->header;
  std::vector<uint8_t> block(static_cast<size_t>(s->block_bytes), 0);
  bool big = h.version != 2;
  if (h.free_head != 0) {
    uint32_t head = h.free_head;
    if (!node_read(s, head, block.data())) return 0;
    if (block[0] != K_NODE_FREE) return k_damaged(K_DAMAGE_FREE_LIST);
    h.free_head = static_cast<uint32_t>(get_uint(block.data() + 4, 4, big));
    h.free_count = h.free_count ? h.free_count - 1 : 0;
    *n = head;
  } else if (h.version <= 3) {
    uint32_t pos;
    if (!allocate_block(s, &pos)) return 0;
    *n = pos / static_cast<uint32_t>(s->block_bytes);
    h.nodes++;
  } else {
    if (h.nodes == 0xFFFFFFFFu) return k_fail(RT_ERR_DISK_FULL, 4);
    // Index segments go up to 65535, as data segments do.
    if (h.nodes / static_cast<uint32_t>(s->nodes_per_segment) > 0xFFFF) {
      return k_fail(RT_ERR_DISK_FULL, 4);
    }
    h.nodes++;
    *n = h.nodes;
    int high = index_segment_high(s);
    if (high > s->pub.index_segment_high) {
      if (!open_segment(s, K_SEGMENT_INDEX, high, 1)) {
        h.nodes--;
        return 0;
      }
      s->pub.index_segment_high = high;
    }
  }
  std::fill(block.begin(), block.end(), 0);
  s->header_dirty = 1;
  return node_write(s, *n, block.data());
}

int node_free(KFileState* s, uint32_t n) {
  Header& h = s->header;
  std::vector<uint8_t> block(static_cast<size_t>(s->block_bytes), 0);
  block[0] = K_NODE_FREE;
  put_uint(block.data() + 4, 4, h.version != 2, h.free_head);
  if (!node_write(s, n, block.data())) return 0;
  h.free_head = n;
  h.free_count++;
  s->header_dirty = 1;
  return 1;
}

int nodes_flush(KFileState* s, int drop) {
  Cache& c = cache();
  int ok = 1;
  if (!drop && s->shared) {
    // A shared writer's operation changed these entries (some may have left the cache).
    for (int i : s->dirty_entries) {
      CacheEntry& e = c.entries[static_cast<size_t>(i)];
      if (e.file == s && e.dirty && !write_entry(e)) ok = 0;
    }
    s->dirty_entries.clear();
    return ok;
  }
  for (size_t i = 0; i < c.entries.size(); i++) {
    CacheEntry& e = c.entries[i];
    if (e.file != s) continue;
    if (e.dirty && !write_entry(e)) ok = 0;
    if (drop) drop_entry(c, static_cast<int>(i));  // the first to be taken again
  }
  s->dirty_entries.clear();
  return ok;
}

void nodes_stale(KFileState* s) {
  s->cache_epoch++;
  s->dirty_entries.clear();
}

void nodes_forget(KFileState* s) {
  Cache& c = cache();
  for (CacheEntry& e : c.entries) {
    if (e.file == s) e.dirty = 0;
  }
  nodes_flush(s, 1);
}
