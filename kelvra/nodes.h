// Index nodes: where each one lives, the block cache that all open files share, and node
// allocation with the free node list.
//
// A node is one block. Versions 2 and 3 number nodes by their block in the single file;
// versions 4 and 5 number them from 1 through the index segments, each segment holding
// nodes_per_segment nodes after its 512-byte header.
#ifndef KELVRA_NODES_H
#define KELVRA_NODES_H

#include <cstdint>

#include "kelvra/file.h"

constexpr uint8_t K_NODE_FREE = 0xFF;  // level byte of a node on the free list

// Copies node n into buffer (block_bytes). Fails with code 6 / K_DAMAGE_NODE when n is not
// a node of the file or cannot be read.
int node_read(KFileState* s, uint32_t n, uint8_t* buffer);
// Replaces node n with buffer (written back when it leaves the cache or at flush).
int node_write(KFileState* s, uint32_t n, const uint8_t* buffer);
// A new node (from the free list, else a new one at the end); its bytes are zero.
int node_allocate(KFileState* s, uint32_t* n);
// Puts node n on the free list.
int node_free(KFileState* s, uint32_t n);
// Writes the file's changed nodes; drop: also forget them (the file is closing).
int nodes_flush(KFileState* s, int drop);
// Marks every cached node of the file stale (another process changed the file): they are
// read again when next needed.
void nodes_stale(KFileState* s);
// Forgets every cached node of the file without writing (the file is being removed).
void nodes_forget(KFileState* s);

// Highest index segment number the file's nodes need (versions 4, 5).
int index_segment_high(const KFileState* s);

// Sets the number of cached blocks (at least 8).
void cache_configure(int blocks);

#endif  // KELVRA_NODES_H
