// Sorting fixed-size items by their leading bytes, in memory and through sorted runs on disk.
#ifndef KELVRA_SORT_H
#define KELVRA_SORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sorts n items of stride bytes at base by their first key_bytes bytes (unsigned, as memcmp),
// keeping items with equal keys in the order they had (stable). order_bytes >= key_bytes is
// a prefix that no two items share, so that sorting by it gives the same result.
void sort_items(uint8_t* base, size_t n, int stride, int key_bytes, int order_bytes);

// Writes n items to a new run file. Returns 0 (file error code set) on failure.
int write_run(const std::string& path, const uint8_t* items, size_t n, int stride);

// One sorted source of items: a memory array or a run file, read in order.
struct ItemSource {
  const uint8_t* memory = nullptr;  // memory array, or null for a file
  size_t count = 0;                 // items in the memory array
  size_t next = 0;
  int fd = -1;  // run file
  std::vector<uint8_t> buffer;
  size_t buffered = 0;  // bytes in buffer
  size_t offset = 0;    // read position in buffer
};

// A merge of sorted sources: hands out the smallest item first.
struct ItemMerge {
  int stride = 0;
  int key_bytes = 0;
  std::vector<ItemSource> sources;
  std::vector<int> heap;             // source indexes, smallest current item first
  std::vector<const uint8_t*> head;  // each source's current item
  std::vector<uint8_t> spare;        // the item handed out, when it came from a file
};

void merge_add_memory(ItemMerge* m, const uint8_t* items, size_t n);
int merge_add_file(ItemMerge* m, const std::string& path);
// Starts the merge after the sources were added.
int merge_start(ItemMerge* m);
// The next item (valid until the following call), or null at the end. Sets *failed on a
// read error.
const uint8_t* merge_next(ItemMerge* m, int* failed);
void merge_close(ItemMerge* m);

#endif  // KELVRA_SORT_H
