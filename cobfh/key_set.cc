// Open-addressing hash set over a flat array of values.
#include "cobfh/key_set.h"

#include <cstring>

namespace {

uint64_t hash(const uint8_t* value, uint32_t width) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (uint32_t i = 0; i < width; i++) h = (h ^ value[i]) * 1099511628211ull;
  return h ^ (h >> 29);
}

// The slot holding value, or the free slot where it would go.
size_t find_slot(const KeySet& set, const uint8_t* value) {
  size_t mask = set.slots.size() - 1;
  for (size_t i = hash(value, set.width) & mask;; i = (i + 1) & mask) {
    uint32_t s = set.slots[i];
    if (s == 0) return i;
    if (memcmp(set.values.data() + size_t{s - 1} * set.width, value, set.width) == 0) return i;
  }
}

void grow(KeySet* set) {
  std::vector<uint32_t> old;
  old.swap(set->slots);
  set->slots.assign(old.empty() ? 1024 : old.size() * 2, 0);
  for (uint32_t s : old) {
    if (s) set->slots[find_slot(*set, set->values.data() + size_t{s - 1} * set->width)] = s;
  }
}

}  // namespace

void key_set_init(KeySet* set, uint32_t width) {
  *set = KeySet{};
  set->width = width;
  grow(set);
}

bool key_set_contains(const KeySet& set, const uint8_t* value) {
  return set.slots[find_slot(set, value)] != 0;
}

bool key_set_add(KeySet* set, const uint8_t* value) {
  if ((set->count + 1) * 2 > set->slots.size()) grow(set);
  size_t i = find_slot(*set, value);
  if (set->slots[i]) return false;
  set->values.insert(set->values.end(), value, value + set->width);
  set->count++;
  set->slots[i] = static_cast<uint32_t>(set->count);
  return true;
}

size_t key_set_bytes(const KeySet& set) {
  return set.values.capacity() + set.slots.size() * sizeof(uint32_t);
}
