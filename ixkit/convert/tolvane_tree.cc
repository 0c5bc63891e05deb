// The Tolvane index trees, read into one list of entries per key. A node: bytes 0-1 the bytes
// used (low 15 bits, counting these two), entries from offset 2, the level in the low 7 bits
// of its last byte. An entry: the key value, 2 more bytes when the key allows duplicates, and
// a 4-byte pointer (top bit ignored).
#include <unistd.h>

#include <cstdlib>

#include "ixkit/convert/tolvane.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr uint32_t kHeaderSize = 512;
// A tree of more levels would hold more entries than any file of 32-bit offsets.
constexpr int kMostLevels = 32;

uint32_t slot_of(uint32_t offset, uint32_t slots) {
  return (offset * 2654435761u) & (slots - 1);
}

// Doubles the node set (at least 64 slots): 0 when out of memory.
int grow_nodes(tl_Reader* reader) {
  const uint32_t slots = reader->rdr_NodeSlots ? reader->rdr_NodeSlots * 2 : 64;
  auto* table = static_cast<uint32_t*>(calloc(slots, sizeof(uint32_t)));
  if (table == nullptr) return 0;
  for (uint32_t i = 0; i < reader->rdr_NodeSlots; ++i) {
    const uint32_t marked = reader->rdr_Nodes[i];
    if (marked == 0) continue;
    uint32_t at = slot_of(marked - 1, slots);
    while (table[at] != 0) at = (at + 1) & (slots - 1);
    table[at] = marked;
  }
  free(reader->rdr_Nodes);
  reader->rdr_Nodes = table;
  reader->rdr_NodeSlots = slots;
  return 1;
}

// Appends an entry at *tail: 0 when out of memory.
int append_entry(tl_Key*** tail, uint16_t level, uint32_t pointer) {
  auto* entry = static_cast<tl_Key*>(calloc(1, sizeof(tl_Key)));
  if (entry == nullptr) {
    rt_print("Out of memory allocating curr_key in tl_ReadKeys()!\n");
    return 0;
  }
  entry->key_Level = level;
  entry->key_Pointer = pointer;
  **tail = entry;
  *tail = &entry->key_Next;
  return 1;
}

}  // namespace

int tl_MarkNode(tl_Reader* reader, uint32_t offset) {
  bool fresh = offset >= kHeaderSize && offset != UINT32_MAX &&
               reader->rdr_NodeCount < reader->rdr_NodeLimit;
  if (fresh && 2 * (reader->rdr_NodeCount + 1) > reader->rdr_NodeSlots && !grow_nodes(reader)) {
    rt_print("Out of memory allocating nodes in tl_MarkNode()!\n");
    return 0;
  }
  if (fresh) {
    uint32_t at = slot_of(offset, reader->rdr_NodeSlots);
    for (; reader->rdr_Nodes[at] != 0; at = (at + 1) & (reader->rdr_NodeSlots - 1)) {
      if (reader->rdr_Nodes[at] == offset + 1) fresh = false;
    }
    if (fresh) {
      reader->rdr_Nodes[at] = offset + 1;
      ++reader->rdr_NodeCount;
    }
  }
  if (!fresh) {
    rt_print("%s: index loops or overlaps at offset %lu; reading ends there\n", reader->rdr_IdxName,
             static_cast<unsigned long>(offset));
  }
  return fresh ? 1 : 0;
}

tl_Key* tl_ReadKeys(tl_Reader* reader, tl_KeyBlock* key, uint32_t offset, int depth) {
  const tl_Header* h = reader->rdr_Header;
  const uint32_t size = h->hdr_IdxRecordLength;
  uint32_t entry = 4;  // the pointer
  if (key->kb_Components->kc_Duplicates) entry += 2;
  for (const tl_KeyComponent* c = key->kb_Components; c != nullptr; c = c->kc_Next) {
    entry += c->kc_Length;
  }
  if (depth >= kMostLevels) {
    rt_print("%s: index tree deeper than %d levels; reading ends there\n", reader->rdr_IdxName,
             kMostLevels);
    return nullptr;
  }
  if (!tl_MarkNode(reader, offset)) return nullptr;
  auto* node = static_cast<uint8_t*>(malloc(size));
  if (node == nullptr) {
    rt_print("Out of memory allocating key_buff in tl_ReadKeys()!\n");
    return nullptr;
  }
  if (!tl_Seek(reader->rdr_IdxFd, offset)) {
    tl_Error("tl_ReadKey() couldn't seek file");
    free(node);
    return nullptr;
  }
  if (!tl_Read(reader->rdr_IdxFd, node, size)) {
    tl_Error("tl_ReadKey() couldn't read file");
    free(node);
    return nullptr;
  }
  // Entries end where the used bytes end, and never reach the level byte.
  uint32_t used = get_be(node, 2) & 0x7FFF;
  const uint16_t level = node[size - 1] & 0x7F;
  if (used > size - 1) used = size - 1;
  tl_Key *list = nullptr, **tail = &list;
  for (uint32_t p = 2; p + entry <= used; p += entry) {
    const uint32_t pointer = get_be(node + p + entry - 4, 4) & 0x7FFFFFFF;
    if (pointer >= (level > 0 ? h->hdr_EndOfIdx : h->hdr_EndOfData)) break;
    if (!append_entry(&tail, level, pointer)) {
      tl_FreeKeys(list);
      list = nullptr;
      break;
    }
    if (level == 0) continue;
    tl_Key* below = tl_ReadKeys(reader, key, pointer, depth + 1);
    if (below == nullptr) break;
    *tail = below;
    while (*tail != nullptr) tail = &(*tail)->key_Next;
  }
  free(node);
  return list;
}

void tl_FreeKeys(tl_Key* keys) {
  while (keys != nullptr) {
    tl_Key* next = keys->key_Next;
    free(keys);
    keys = next;
  }
}
