// The B+tree of each key.
//
// Entries are the key's bytes through the collating table, followed for a key with
// duplicates by a 4-byte serial number that keeps equal keys in the order they were written,
// so every entry is unique and trees compare with memcmp. Leaves hold entries with record
// addresses and are linked both ways; inner nodes hold separators (the first entry of the
// subtree to their right) and child node numbers.
//
// Node layout: byte 0 level (0 leaf), then the entry count (1 byte in version 2, 2 bytes
// otherwise). Leaf: previous and next leaf, then entries. Inner node: first child, then
// pairs of separator and child.
#ifndef KELVRA_BTREE_H
#define KELVRA_BTREE_H

#include <cstdint>
#include <vector>

#include "kelvra/file.h"

// An entry's place: leaf node and slot; leaf 0 means past the end (or before the start).
struct TreePlace {
  uint32_t leaf = 0;
  int slot = 0;
};

// Finds in key k's tree the first entry whose first length bytes are not below probe
// (upper: above probe). Returns 0 with code 6 when the tree is damaged.
int tree_seek(KFileState* s, int k, const uint8_t* probe, int length, int upper, TreePlace* at);
// The first (forward) or last entry of the tree.
int tree_edge(KFileState* s, int k, int forward, TreePlace* at);
// Reads the entry at `at`: its bytes (the key's entry size) and record address.
// view, when given, holds the leaf between calls.
int tree_entry(KFileState* s, int k, TreePlace at, uint8_t* entry, KAddress* address,
               LeafView* view = nullptr);
// Moves one entry forwards or backwards; leaf 0 when it runs off the end.
int tree_step(KFileState* s, int k, TreePlace* at, int forward, LeafView* view = nullptr);

// Adds an entry; code 7 when an equal entry is there.
int tree_insert(KFileState* s, int k, const uint8_t* entry, KAddress address);
// Finds the entry whose first length bytes equal entry and whose address is `address`.
// Returns 1 and its place, or 0 (code 8 when there is none).
int tree_find(KFileState* s, int k, const uint8_t* entry, int length, KAddress address,
              TreePlace* at);
// Removes the entry at `at`.
int tree_erase(KFileState* s, int k, TreePlace at);
// Changes the record address of the entry at `at`.
int tree_set_address(KFileState* s, int k, TreePlace at, KAddress address);

// Bytes a node of key k uses behind its header (for the node space count).
uint64_t node_used_bytes(const KFileState* s, int k, int leaf, int count);
// Record address as it is stored in a leaf.
void put_address(const KFileState* s, uint8_t* p, KAddress a);
KAddress get_address(const KFileState* s, const uint8_t* p);
// Node header fields.
int node_level(const uint8_t* node);
int node_count(const KFileState* s, const uint8_t* node);
void set_node_header(const KFileState* s, uint8_t* node, int level, int count);

#endif  // KELVRA_BTREE_H
