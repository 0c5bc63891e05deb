// B+tree search, insertion and removal.
#include "kelvra/btree.h"

#include <cstring>
#include <vector>

#include "ixkit/libs/rtcore.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/nodes.h"

namespace {

constexpr int kMaxHeight = 32;

struct Shape {
  int entry;    // entry key bytes
  int address;  // record address bytes in a leaf
  int header;   // node header bytes
  int leaf_cap;
  int inner_cap;
  bool big;
};

Shape shape(const KFileState* s, int k) {
  const KeyDesc& key = s->dict.keys[k];
  int v = s->header.version;
  return {key.entry,
          address_size(v),
          node_header_size(v),
          leaf_capacity(v, s->block_bytes, key),
          inner_capacity(v, s->block_bytes, key),
          v != 2};
}

uint8_t* leaf_entry(const Shape& sh, uint8_t* node, int i) {
  return node + sh.header + 8 + i * (sh.entry + sh.address);
}
uint8_t* inner_key(const Shape& sh, uint8_t* node, int i) {  // separator i, from 0
  return node + sh.header + 4 + i * (sh.entry + 4);
}
uint32_t inner_child(const Shape& sh, uint8_t* node, int i) {  // child i, from 0
  const uint8_t* p = i == 0 ? node + sh.header : inner_key(sh, node, i - 1) + sh.entry;
  return static_cast<uint32_t>(get_uint(p, 4, sh.big));
}
void set_inner_child(const Shape& sh, uint8_t* node, int i, uint32_t child) {
  uint8_t* p = i == 0 ? node + sh.header : inner_key(sh, node, i - 1) + sh.entry;
  put_uint(p, 4, sh.big, child);
}
uint32_t leaf_link(const Shape& sh, const uint8_t* node, int next) {
  return static_cast<uint32_t>(get_uint(node + sh.header + (next ? 4 : 0), 4, sh.big));
}
void set_leaf_link(const Shape& sh, uint8_t* node, int next, uint32_t n) {
  put_uint(node + sh.header + (next ? 4 : 0), 4, sh.big, n);
}

// A node read for key k, checked to be at the level expected (-1: any live level).
int load(KFileState* s, int k, uint32_t n, int level, uint8_t* node) {
  if (!node_read(s, n, node)) return 0;
  Shape sh = shape(s, k);
  int lv = node_level(node);
  int count = node_count(s, node);
  if (lv == K_NODE_FREE || (level >= 0 && lv != level) || lv >= kMaxHeight) {
    return k_damaged(K_DAMAGE_NODE);
  }
  if (count > (lv == 0 ? sh.leaf_cap : sh.inner_cap)) return k_damaged(K_DAMAGE_NODE);
  return 1;
}

// First slot of entries 0..count-1 of size `stride` starting at base whose prefix of length
// bytes is not below probe (above, with upper).
int bound(const uint8_t* base, int stride, int count, const uint8_t* probe, int length, int upper) {
  int lo = 0, hi = count;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    int c = memcmp(base + mid * stride, probe, static_cast<size_t>(length));
    if (c < 0 || (upper && c == 0)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

struct PathStep {
  uint32_t node;
  int child;  // child taken (inner nodes) or slot (the leaf)
};

// Descends to the leaf where probe belongs. path receives one step per level, root first.
int descend(KFileState* s, int k, const uint8_t* probe, int length, int upper,
            std::vector<PathStep>* path, std::vector<uint8_t>* leaf) {
  Shape sh = shape(s, k);
  uint32_t n = s->dict.root[k];
  int height = s->dict.height[k];
  if (height < 1 || height > kMaxHeight) return k_damaged(K_DAMAGE_NODE);
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  path->clear();
  for (int level = height - 1; level >= 0; level--) {
    if (!load(s, k, n, level, node.data())) return 0;
    int count = node_count(s, node.data());
    if (level == 0) {
      int slot =
          bound(leaf_entry(sh, node.data(), 0), sh.entry + sh.address, count, probe, length, upper);
      path->push_back({n, slot});
      leaf->swap(node);
      return 1;
    }
    int child = bound(inner_key(sh, node.data(), 0), sh.entry + 4, count, probe, length, upper);
    path->push_back({n, child});
    n = inner_child(sh, node.data(), child);
  }
  return k_damaged(K_DAMAGE_NODE);
}

void account(KFileState* s, int64_t delta) {
  s->header.node_space = static_cast<uint64_t>(static_cast<int64_t>(s->header.node_space) + delta);
  s->header_dirty = 1;
}

// Inserts (separator, right child) into the inner node path[depth] after the child it took,
// splitting upwards as needed.
int insert_inner(KFileState* s, int k, std::vector<PathStep>& path, int depth,
                 const uint8_t* separator, uint32_t right, int rightmost) {
  Shape sh = shape(s, k);
  int stride = sh.entry + 4;
  if (depth < 0) {
    // The root split: a new root above both halves.
    uint32_t root;
    if (!node_allocate(s, &root)) return 0;
    std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes), 0);
    int level = s->dict.height[k];
    set_node_header(s, node.data(), level, 1);
    set_inner_child(sh, node.data(), 0, s->dict.root[k]);
    memcpy(inner_key(sh, node.data(), 0), separator, static_cast<size_t>(sh.entry));
    set_inner_child(sh, node.data(), 1, right);
    if (!node_write(s, root, node.data())) return 0;
    account(s, static_cast<int64_t>(node_used_bytes(s, k, 0, 1)));
    s->dict.root[k] = root;
    s->dict.height[k]++;
    return 1;
  }
  uint32_t n = path[static_cast<size_t>(depth)].node;
  int at = path[static_cast<size_t>(depth)].child;  // new separator goes at index `at`
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  if (!load(s, k, n, -1, node.data())) return 0;
  int level = node_level(node.data());
  int count = node_count(s, node.data());
  // Gather separators and children after child 0 into one array and insert the new pair.
  std::vector<uint8_t> all(static_cast<size_t>((count + 1) * stride));
  memcpy(all.data(), inner_key(sh, node.data(), 0), static_cast<size_t>(at * stride));
  memcpy(all.data() + at * stride, separator, static_cast<size_t>(sh.entry));
  put_uint(all.data() + at * stride + sh.entry, 4, sh.big, right);
  memcpy(all.data() + (at + 1) * stride, inner_key(sh, node.data(), at),
         static_cast<size_t>((count - at) * stride));
  count++;
  if (count <= sh.inner_cap) {
    memcpy(inner_key(sh, node.data(), 0), all.data(), static_cast<size_t>(count * stride));
    set_node_header(s, node.data(), level, count);
    account(s, stride);
    return node_write(s, n, node.data());
  }
  // Split: the left node keeps `keep` pairs, pair `keep` goes up, the rest move right.
  // Appending at the right edge keeps the left node full.
  int keep = (rightmost && at == count - 1) ? count - 1 : count / 2;
  uint32_t sibling;
  if (!node_allocate(s, &sibling)) return 0;
  std::vector<uint8_t> other(static_cast<size_t>(s->block_bytes), 0);
  int moved = count - keep - 1;
  set_node_header(s, other.data(), level, moved);
  put_uint(other.data() + sh.header, 4, sh.big,
           static_cast<uint32_t>(get_uint(all.data() + keep * stride + sh.entry, 4, sh.big)));
  memcpy(inner_key(sh, other.data(), 0), all.data() + (keep + 1) * stride,
         static_cast<size_t>(moved * stride));
  memcpy(inner_key(sh, node.data(), 0), all.data(), static_cast<size_t>(keep * stride));
  set_node_header(s, node.data(), level, keep);
  std::vector<uint8_t> up(all.data() + keep * stride, all.data() + keep * stride + sh.entry);
  account(s,
          static_cast<int64_t>(node_used_bytes(s, k, 0, keep) + node_used_bytes(s, k, 0, moved)) -
              static_cast<int64_t>(node_used_bytes(s, k, 0, count - 1)));
  if (!node_write(s, n, node.data()) || !node_write(s, sibling, other.data())) return 0;
  return insert_inner(s, k, path, depth - 1, up.data(), sibling, rightmost);
}

// Removes child `child` from the inner node path[depth]; an inner node left without
// children goes too, and a root with one child gives way to it.
int remove_child(KFileState* s, int k, std::vector<PathStep>& path, int depth) {
  Shape sh = shape(s, k);
  int stride = sh.entry + 4;
  uint32_t n = path[static_cast<size_t>(depth)].node;
  int child = path[static_cast<size_t>(depth)].child;
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  if (!load(s, k, n, -1, node.data())) return 0;
  int level = node_level(node.data());
  int count = node_count(s, node.data());
  if (count == 0) {
    // Its only child is gone.
    account(s, -static_cast<int64_t>(node_used_bytes(s, k, 0, 0)));
    if (!node_free(s, n)) return 0;
    if (depth == 0) {
      s->dict.root[k] = 0;
      s->dict.height[k] = 0;
      return 1;
    }
    return remove_child(s, k, path, depth - 1);
  }
  if (child == 0) {
    // The first child goes: child 1 takes its place and separator 0 is dropped.
    set_inner_child(sh, node.data(), 0, inner_child(sh, node.data(), 1));
    memmove(inner_key(sh, node.data(), 0), inner_key(sh, node.data(), 1),
            static_cast<size_t>((count - 1) * stride));
  } else {
    memmove(inner_key(sh, node.data(), child - 1), inner_key(sh, node.data(), child),
            static_cast<size_t>((count - child) * stride));
  }
  count--;
  set_node_header(s, node.data(), level, count);
  account(s, -stride);
  if (!node_write(s, n, node.data())) return 0;
  // A root with a single child hands the tree to it.
  while (depth == 0 && count == 0 && s->dict.height[k] > 1) {
    uint32_t only = inner_child(sh, node.data(), 0);
    account(s, -static_cast<int64_t>(node_used_bytes(s, k, 0, 0)));
    if (!node_free(s, s->dict.root[k])) return 0;
    s->dict.root[k] = only;
    s->dict.height[k]--;
    if (s->dict.height[k] == 1) break;
    if (!load(s, k, only, s->dict.height[k] - 1, node.data())) return 0;
    count = node_count(s, node.data());
  }
  return 1;
}

}  // namespace

int node_level(const uint8_t* node) {
  return node[0];
}

int node_count(const KFileState* s, const uint8_t* node) {
  return s->header.version == 2 ? node[1] : get_be16(node + 1);
}

void set_node_header(const KFileState* s, uint8_t* node, int level, int count) {
  node[0] = static_cast<uint8_t>(level);
  if (s->header.version == 2) {
    node[1] = static_cast<uint8_t>(count);
  } else {
    put_be16(node + 1, static_cast<uint16_t>(count));
  }
}

uint64_t node_used_bytes(const KFileState* s, int k, int leaf, int count) {
  Shape sh = shape(s, k);
  if (leaf) return 8 + static_cast<uint64_t>(count) * static_cast<uint64_t>(sh.entry + sh.address);
  return 4 + static_cast<uint64_t>(count) * static_cast<uint64_t>(sh.entry + 4);
}

void put_address(const KFileState* s, uint8_t* p, KAddress a) {
  bool big = s->header.version != 2;
  put_uint(p, 4, big, a.offset);
  if (s->header.version >= 4) put_be16(p + 4, a.segment);
}

KAddress get_address(const KFileState* s, const uint8_t* p) {
  KAddress a;
  a.offset = static_cast<uint32_t>(get_uint(p, 4, s->header.version != 2));
  a.segment = s->header.version >= 4 ? get_be16(p + 4) : 0;
  return a;
}

int tree_seek(KFileState* s, int k, const uint8_t* probe, int length, int upper, TreePlace* at) {
  *at = TreePlace{};
  if (s->dict.root[k] == 0) return 1;
  std::vector<PathStep> path;
  std::vector<uint8_t> leaf;
  if (!descend(s, k, probe, length, upper, &path, &leaf)) return 0;
  at->leaf = path.back().node;
  at->slot = path.back().child;
  if (at->slot < node_count(s, leaf.data())) return 1;
  // Past this leaf: the answer is the first entry of the next one.
  at->leaf = leaf_link(shape(s, k), leaf.data(), 1);
  at->slot = 0;
  if (at->leaf == 0) return 1;
  std::vector<uint8_t> next(static_cast<size_t>(s->block_bytes));
  if (!load(s, k, at->leaf, 0, next.data())) return 0;
  if (node_count(s, next.data()) == 0) return k_damaged(K_DAMAGE_NODE);
  return 1;
}

int tree_edge(KFileState* s, int k, int forward, TreePlace* at) {
  *at = TreePlace{};
  uint32_t n = s->dict.root[k];
  if (n == 0) return 1;
  Shape sh = shape(s, k);
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  for (int level = s->dict.height[k] - 1; level >= 0; level--) {
    if (!load(s, k, n, level, node.data())) return 0;
    int count = node_count(s, node.data());
    if (level == 0) {
      if (count == 0) return 1;  // an empty root leaf
      *at = {n, forward ? 0 : count - 1};
      return 1;
    }
    n = inner_child(sh, node.data(), forward ? 0 : count);
  }
  return k_damaged(K_DAMAGE_NODE);
}

namespace {

// The bytes of leaf n: from the view when it holds them, else read (into the view).
const uint8_t* leaf_bytes(KFileState* s, int k, uint32_t n, LeafView* view,
                          std::vector<uint8_t>* own) {
  if (view && view->leaf == n && n != 0) return view->bytes.data();
  std::vector<uint8_t>* target = view ? &view->bytes : own;
  target->resize(static_cast<size_t>(s->block_bytes));
  if (view) view->leaf = 0;
  if (!load(s, k, n, 0, target->data())) return nullptr;
  if (view) view->leaf = n;
  return target->data();
}

}  // namespace

int tree_entry(KFileState* s, int k, TreePlace at, uint8_t* entry, KAddress* address,
               LeafView* view) {
  Shape sh = shape(s, k);
  std::vector<uint8_t> own;
  const uint8_t* node = leaf_bytes(s, k, at.leaf, view, &own);
  if (!node) return 0;
  if (at.slot < 0 || at.slot >= node_count(s, node)) return k_damaged(K_DAMAGE_NODE);
  const uint8_t* e = node + sh.header + 8 + at.slot * (sh.entry + sh.address);
  memcpy(entry, e, static_cast<size_t>(sh.entry));
  *address = get_address(s, e + sh.entry);
  return 1;
}

int tree_step(KFileState* s, int k, TreePlace* at, int forward, LeafView* view) {
  Shape sh = shape(s, k);
  std::vector<uint8_t> own;
  const uint8_t* node = leaf_bytes(s, k, at->leaf, view, &own);
  if (!node) return 0;
  int count = node_count(s, node);
  if (forward && at->slot + 1 < count) {
    at->slot++;
    return 1;
  }
  if (!forward && at->slot > 0) {
    at->slot--;
    return 1;
  }
  uint32_t here = at->leaf;
  uint32_t n = leaf_link(sh, node, forward);
  // The entry at this end of the leaf: the next leaf must go on beyond it.
  uint8_t edge[K_ENTRY_MAX];
  if (count > 0) {
    memcpy(edge, node + sh.header + 8 + (forward ? count - 1 : 0) * (sh.entry + sh.address),
           static_cast<size_t>(sh.entry));
  }
  *at = TreePlace{};
  if (n == 0) return 1;
  node = leaf_bytes(s, k, n, view, &own);
  if (!node) return 0;
  int had = count;
  count = node_count(s, node);
  // Both links must agree, and a leaf on the chain is never empty.
  if (count == 0 || leaf_link(sh, node, !forward) != here) return k_damaged(K_DAMAGE_NODE);
  // Entry keys grow along the chain, so a chain that comes back to a leaf goes backwards
  // somewhere: without this the reads of a looping chain would never end.
  if (had > 0) {
    const uint8_t* next =
        node + sh.header + 8 + (forward ? 0 : count - 1) * (sh.entry + sh.address);
    int order = memcmp(next, edge, static_cast<size_t>(sh.entry));
    if (forward ? order <= 0 : order >= 0) return k_damaged(K_DAMAGE_TREE_LOOP);
  }
  *at = {n, forward ? 0 : count - 1};
  return 1;
}

int tree_insert(KFileState* s, int k, const uint8_t* entry, KAddress address) {
  Shape sh = shape(s, k);
  int stride = sh.entry + sh.address;
  s->generation++;
  if (s->dict.root[k] == 0) {
    uint32_t n;
    if (!node_allocate(s, &n)) return 0;
    std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes), 0);
    set_node_header(s, node.data(), 0, 1);
    memcpy(leaf_entry(sh, node.data(), 0), entry, static_cast<size_t>(sh.entry));
    put_address(s, leaf_entry(sh, node.data(), 0) + sh.entry, address);
    s->dict.root[k] = n;
    s->dict.height[k] = 1;
    account(s, static_cast<int64_t>(node_used_bytes(s, k, 1, 1)));
    return node_write(s, n, node.data());
  }
  std::vector<PathStep> path;
  std::vector<uint8_t> node;
  if (!descend(s, k, entry, sh.entry, 0, &path, &node)) return 0;
  uint32_t n = path.back().node;
  int slot = path.back().child;
  int count = node_count(s, node.data());
  if (slot < count &&
      memcmp(leaf_entry(sh, node.data(), slot), entry, static_cast<size_t>(sh.entry)) == 0) {
    return k_fail(RT_ERR_DUPLICATE);
  }
  // Gather the entries with the new one in place.
  std::vector<uint8_t> all(static_cast<size_t>((count + 1) * stride));
  memcpy(all.data(), leaf_entry(sh, node.data(), 0), static_cast<size_t>(slot * stride));
  memcpy(all.data() + slot * stride, entry, static_cast<size_t>(sh.entry));
  put_address(s, all.data() + slot * stride + sh.entry, address);
  memcpy(all.data() + (slot + 1) * stride, leaf_entry(sh, node.data(), slot),
         static_cast<size_t>((count - slot) * stride));
  count++;
  if (count <= sh.leaf_cap) {
    memcpy(leaf_entry(sh, node.data(), 0), all.data(), static_cast<size_t>(count * stride));
    set_node_header(s, node.data(), 0, count);
    account(s, stride);
    return node_write(s, n, node.data());
  }
  // Split the leaf. Appending at the end of the last leaf keeps the left leaf full, so
  // that records written in key order fill their leaves.
  uint32_t next = leaf_link(sh, node.data(), 1);
  bool rightmost = next == 0;
  int keep = (rightmost && slot == count - 1) ? count - 1 : count / 2;
  uint32_t sibling;
  if (!node_allocate(s, &sibling)) return 0;
  std::vector<uint8_t> other(static_cast<size_t>(s->block_bytes), 0);
  set_node_header(s, other.data(), 0, count - keep);
  set_leaf_link(sh, other.data(), 0, n);
  set_leaf_link(sh, other.data(), 1, next);
  memcpy(leaf_entry(sh, other.data(), 0), all.data() + keep * stride,
         static_cast<size_t>((count - keep) * stride));
  set_node_header(s, node.data(), 0, keep);
  set_leaf_link(sh, node.data(), 1, sibling);
  memcpy(leaf_entry(sh, node.data(), 0), all.data(), static_cast<size_t>(keep * stride));
  account(s, static_cast<int64_t>(node_used_bytes(s, k, 1, keep) +
                                  node_used_bytes(s, k, 1, count - keep)) -
                 static_cast<int64_t>(node_used_bytes(s, k, 1, count - 1)));
  if (!node_write(s, n, node.data()) || !node_write(s, sibling, other.data())) return 0;
  if (next != 0) {
    std::vector<uint8_t> after(static_cast<size_t>(s->block_bytes));
    if (!load(s, k, next, 0, after.data())) return 0;
    set_leaf_link(sh, after.data(), 0, sibling);
    if (!node_write(s, next, after.data())) return 0;
  }
  path.pop_back();
  return insert_inner(s, k, path, static_cast<int>(path.size()) - 1, all.data() + keep * stride,
                      sibling, rightmost);
}

int tree_find(KFileState* s, int k, const uint8_t* entry, int length, KAddress address,
              TreePlace* at) {
  if (!tree_seek(s, k, entry, length, 0, at)) return 0;
  Shape sh = shape(s, k);
  std::vector<uint8_t> e(static_cast<size_t>(sh.entry));
  // Equal keys of a key with duplicates differ in their serial: walk them for the address.
  for (uint64_t steps = 0; at->leaf != 0; steps++) {
    KAddress a;
    if (!tree_entry(s, k, *at, e.data(), &a)) return 0;
    if (memcmp(e.data(), entry, static_cast<size_t>(length)) != 0) break;
    if (a == address) return 1;
    if (steps > s->header.records) return k_damaged(K_DAMAGE_TREE_LOOP);
    if (!tree_step(s, k, at, 1)) return 0;
  }
  return k_fail(RT_ERR_NOT_FOUND);
}

int tree_erase(KFileState* s, int k, TreePlace at) {
  Shape sh = shape(s, k);
  int stride = sh.entry + sh.address;
  s->generation++;
  // Find the path to the leaf through its first entry.
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  if (!load(s, k, at.leaf, 0, node.data())) return 0;
  int count = node_count(s, node.data());
  if (at.slot < 0 || at.slot >= count) return k_damaged(K_DAMAGE_NODE);
  if (count > 1) {
    memmove(leaf_entry(sh, node.data(), at.slot), leaf_entry(sh, node.data(), at.slot + 1),
            static_cast<size_t>((count - at.slot - 1) * stride));
    set_node_header(s, node.data(), 0, count - 1);
    account(s, -stride);
    return node_write(s, at.leaf, node.data());
  }
  // The leaf empties: unlink it and take it out of its parent. The path runs through its
  // entry; a separator equal to it leads right, to this leaf, not to the one before.
  std::vector<uint8_t> first(leaf_entry(sh, node.data(), 0),
                             leaf_entry(sh, node.data(), 0) + sh.entry);
  std::vector<PathStep> path;
  std::vector<uint8_t> leaf;
  if (!descend(s, k, first.data(), sh.entry, 1, &path, &leaf)) return 0;
  if (path.back().node != at.leaf) return k_damaged(K_DAMAGE_NODE);
  uint32_t prev = leaf_link(sh, node.data(), 0);
  uint32_t next = leaf_link(sh, node.data(), 1);
  std::vector<uint8_t> side(static_cast<size_t>(s->block_bytes));
  if (prev) {
    if (!load(s, k, prev, 0, side.data())) return 0;
    set_leaf_link(sh, side.data(), 1, next);
    if (!node_write(s, prev, side.data())) return 0;
  }
  if (next) {
    if (!load(s, k, next, 0, side.data())) return 0;
    set_leaf_link(sh, side.data(), 0, prev);
    if (!node_write(s, next, side.data())) return 0;
  }
  account(s, -static_cast<int64_t>(node_used_bytes(s, k, 1, 1)));
  if (!node_free(s, at.leaf)) return 0;
  if (path.size() == 1) {
    s->dict.root[k] = 0;
    s->dict.height[k] = 0;
    return 1;
  }
  path.pop_back();
  return remove_child(s, k, path, static_cast<int>(path.size()) - 1);
}

int tree_set_address(KFileState* s, int k, TreePlace at, KAddress address) {
  Shape sh = shape(s, k);
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  if (!load(s, k, at.leaf, 0, node.data())) return 0;
  if (at.slot < 0 || at.slot >= node_count(s, node.data())) return k_damaged(K_DAMAGE_NODE);
  put_address(s, leaf_entry(sh, node.data(), at.slot) + sh.entry, address);
  s->generation++;
  return node_write(s, at.leaf, node.data());
}
