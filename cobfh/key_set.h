// A set of key values of one width, kept compactly in memory: how OPEN OUTPUT, which builds
// the indexes only at CLOSE, knows at each WRITE whether a key value is already there.
#ifndef COBFH_KEY_SET_H
#define COBFH_KEY_SET_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct KeySet {
  uint32_t width = 0;
  std::vector<uint8_t> values;  // the values, one after another
  std::vector<uint32_t> slots;  // open addressing: 1 + index of a value, 0 when free
  size_t count = 0;
};

void key_set_init(KeySet* set, uint32_t width);
bool key_set_contains(const KeySet& set, const uint8_t* value);
// Adds value; false when it was there already.
bool key_set_add(KeySet* set, const uint8_t* value);
// Bytes the set holds.
size_t key_set_bytes(const KeySet& set);

#endif  // COBFH_KEY_SET_H
