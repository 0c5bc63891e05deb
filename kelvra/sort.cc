// In-place radix sort of fixed-size items and the k-way merge of sorted runs.
#include "kelvra/sort.h"
#include "ixkit/libs/rtcore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "kelvra/errors.h"
#include "kelvra/segments.h"

namespace {

constexpr size_t kSmall = 24;              // below this, insertion sort
constexpr size_t kRunBuffer = 256 * 1024;  // bytes read from a run file at a time
constexpr size_t kMaxPasses = 24;          // beyond this many varying key bytes, sort by MSB

// Copies one item; whole 8-byte words, the last one overlapping, keep it to a few moves.
inline void copy_item(uint8_t* d, const uint8_t* s, size_t stride) {
  if (stride < 8) {
    memcpy(d, s, stride);
    return;
  }
  size_t i = 0;
  for (; i + 8 <= stride; i += 8) memcpy(d + i, s + i, 8);
  if (i < stride) memcpy(d + stride - 8, s + stride - 8, 8);
}

void insertion_sort(uint8_t* base, size_t n, int stride, int from, int key_bytes, uint8_t* tmp) {
  size_t len = static_cast<size_t>(key_bytes - from);
  for (size_t i = 1; i < n; i++) {
    uint8_t* item = base + i * static_cast<size_t>(stride);
    if (memcmp(item - stride + from, item + from, len) <= 0) continue;
    memcpy(tmp, item, static_cast<size_t>(stride));
    size_t j = i;
    while (j > 0 &&
           memcmp(base + (j - 1) * static_cast<size_t>(stride) + from, tmp + from, len) > 0) {
      memcpy(base + j * static_cast<size_t>(stride), base + (j - 1) * static_cast<size_t>(stride),
             static_cast<size_t>(stride));
      j--;
    }
    memcpy(base + j * static_cast<size_t>(stride), tmp, static_cast<size_t>(stride));
  }
}

// Most-significant-byte radix sort, permuting items into their buckets in place.
void radix(uint8_t* base, size_t n, int stride, int depth, int key_bytes, uint8_t* tmp) {
  size_t s = static_cast<size_t>(stride);
  while (depth < key_bytes) {
    if (n < kSmall) {
      insertion_sort(base, n, stride, depth, key_bytes, tmp);
      return;
    }
    size_t count[256] = {};
    for (size_t i = 0; i < n; i++) count[base[i * s + static_cast<size_t>(depth)]]++;
    // A byte that every item shares needs no pass.
    if (count[base[static_cast<size_t>(depth)]] == n) {
      depth++;
      continue;
    }
    size_t start[256], next[256];
    size_t at = 0;
    for (int b = 0; b < 256; b++) {
      start[b] = next[b] = at;
      at += count[b];
    }
    for (int b = 0; b < 256; b++) {
      size_t end = start[b] + count[b];
      while (next[b] < end) {
        uint8_t* item = base + next[b] * s;
        int v = item[depth];
        if (v == b) {
          next[b]++;
          continue;
        }
        // Swap the item into its bucket; the one displaced is looked at next.
        uint8_t* dest = base + next[v] * s;
        copy_item(tmp, dest, s);
        copy_item(dest, item, s);
        copy_item(item, tmp, s);
        next[v]++;
      }
    }
    for (int b = 0; b < 256; b++) {
      if (count[b] > 1) radix(base + start[b] * s, count[b], stride, depth + 1, key_bytes, tmp);
    }
    return;
  }
}

bool less(const ItemMerge* m, int a, int b) {
  int c = memcmp(m->head[static_cast<size_t>(a)], m->head[static_cast<size_t>(b)],
                 static_cast<size_t>(m->key_bytes));
  return c < 0 || (c == 0 && a < b);
}

void sift_down(ItemMerge* m, size_t i) {
  size_t n = m->heap.size();
  while (true) {
    size_t l = 2 * i + 1, r = l + 1, best = i;
    if (l < n && less(m, m->heap[l], m->heap[best])) best = l;
    if (r < n && less(m, m->heap[r], m->heap[best])) best = r;
    if (best == i) return;
    std::swap(m->heap[i], m->heap[best]);
    i = best;
  }
}

// Advances source i to its next item; null at its end.
const uint8_t* advance(ItemMerge* m, ItemSource* src, int* failed) {
  size_t stride = static_cast<size_t>(m->stride);
  if (src->memory) {
    if (src->next >= src->count) return nullptr;
    return src->memory + (src->next++) * stride;
  }
  if (src->buffered - src->offset < stride) {
    size_t left = src->buffered - src->offset;
    memmove(src->buffer.data(), src->buffer.data() + src->offset, left);
    src->buffered = left;
    src->offset = 0;
    while (src->buffered < src->buffer.size()) {
      long n = rt_os_read(src->fd, src->buffer.data() + src->buffered,
                          src->buffer.size() - src->buffered);
      if (n < 0) {
        *failed = 1;
        k_fail_errno();
        return nullptr;
      }
      if (n == 0) break;
      src->buffered += static_cast<size_t>(n);
    }
    if (src->buffered < stride) return nullptr;
  }
  const uint8_t* item = src->buffer.data() + src->offset;
  src->offset += stride;
  return item;
}

// Least-significant-byte radix sort over the key bytes that vary, each pass a stable
// scatter into the other buffer. Returns 0 when it would take too many passes.
int lsd_sort(uint8_t* base, size_t n, int stride, int key_bytes) {
  size_t s = static_cast<size_t>(stride);
  std::vector<uint32_t> counts(static_cast<size_t>(key_bytes) * 256, 0);
  for (size_t i = 0; i < n; i++) {
    const uint8_t* item = base + i * s;
    for (int p = 0; p < key_bytes; p++) counts[static_cast<size_t>(p) * 256 + item[p]]++;
  }
  std::vector<int> varying;
  for (int p = 0; p < key_bytes; p++) {
    if (counts[static_cast<size_t>(p) * 256 + base[p]] != n) varying.push_back(p);
  }
  if (varying.size() > kMaxPasses) return 0;
  if (varying.empty()) return 1;
  // Every byte of the other buffer is written before it is read: it need not be zeroed.
  std::unique_ptr<uint8_t[]> other = std::make_unique_for_overwrite<uint8_t[]>(n * s);
  uint8_t* from = base;
  uint8_t* to = other.get();
  for (size_t v = varying.size(); v-- > 0;) {
    int p = varying[v];
    size_t start[256];
    size_t at = 0;
    for (int b = 0; b < 256; b++) {
      start[b] = at;
      at += counts[static_cast<size_t>(p) * 256 + static_cast<size_t>(b)];
    }
    for (size_t i = 0; i < n; i++) {
      const uint8_t* item = from + i * s;
      copy_item(to + (start[item[p]]++) * s, item, s);
    }
    std::swap(from, to);
  }
  if (from != base) memcpy(base, from, n * s);
  return 1;
}

}  // namespace

void sort_items(uint8_t* base, size_t n, int stride, int key_bytes, int order_bytes) {
  if (n < 2) return;
  // Item counts are 32-bit in the passes; larger sets go the in-place way.
  if (n < 0xFFFFFFFFu && lsd_sort(base, n, stride, key_bytes)) return;
  std::vector<uint8_t> tmp(static_cast<size_t>(stride));
  radix(base, n, stride, 0, order_bytes, tmp.data());
}

int write_run(const std::string& path, const uint8_t* items, size_t n, int stride) {
  int fd = rt_os_open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return k_fail_errno();
  if (!write_at(fd, 0, items, n * static_cast<size_t>(stride))) {
    rt_os_close(fd);
    rt_os_unlink(path.c_str());
    return 0;
  }
  if (rt_os_close(fd) != 0) return k_fail_errno();
  return 1;
}

void merge_add_memory(ItemMerge* m, const uint8_t* items, size_t n) {
  if (n == 0) return;  // nothing to hand out (and items may be null)
  ItemSource src;
  src.memory = items;
  src.count = n;
  m->sources.push_back(std::move(src));
}

int merge_add_file(ItemMerge* m, const std::string& path) {
  ItemSource src;
  src.fd = rt_os_open(path.c_str(), O_RDONLY, 0);
  if (src.fd < 0) return k_fail_errno();
  // A whole number of items per buffer keeps items in one piece.
  size_t stride = static_cast<size_t>(m->stride);
  src.buffer.resize((kRunBuffer / stride + 1) * stride);
  m->sources.push_back(std::move(src));
  return 1;
}

int merge_start(ItemMerge* m) {
  m->head.assign(m->sources.size(), nullptr);
  m->heap.clear();
  int failed = 0;
  for (size_t i = 0; i < m->sources.size(); i++) {
    m->head[i] = advance(m, &m->sources[i], &failed);
    if (failed) return 0;
    if (m->head[i]) m->heap.push_back(static_cast<int>(i));
  }
  for (size_t i = m->heap.size(); i-- > 0;) sift_down(m, i);
  return 1;
}

const uint8_t* merge_next(ItemMerge* m, int* failed) {
  if (m->heap.empty()) return nullptr;
  int top = m->heap[0];
  ItemSource& src = m->sources[static_cast<size_t>(top)];
  // The item handed out stays valid until the next call: an item of a memory source stays
  // where it is; one of a file source is copied, as advancing may refill its buffer.
  const uint8_t* item = m->head[static_cast<size_t>(top)];
  if (!src.memory) {
    m->spare.resize(static_cast<size_t>(m->stride));
    copy_item(m->spare.data(), item, static_cast<size_t>(m->stride));
    item = m->spare.data();
  }
  m->head[static_cast<size_t>(top)] = advance(m, &src, failed);
  if (*failed) return nullptr;
  if (!m->head[static_cast<size_t>(top)]) {
    m->heap[0] = m->heap.back();
    m->heap.pop_back();
  }
  // With one source left there is nothing to compare.
  if (m->heap.size() > 1) sift_down(m, 0);
  return item;
}

void merge_close(ItemMerge* m) {
  for (ItemSource& src : m->sources) {
    if (src.fd >= 0) rt_os_close(src.fd);
  }
  m->sources.clear();
  m->heap.clear();
  m->head.clear();
}
