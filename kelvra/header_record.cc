// Unpacking a version-2 header block into the program's 200-byte header record.
#include <cstring>

#include "ixkit/libs/kelvra5.h"
#include "kelvra/format.h"

int ki_header_from_v2(const void* block, KHeaderRecord* r) {
  const uint8_t* b = static_cast<const uint8_t*>(block);
  Header h;
  if (!block || !r || header_version(b) != 2 || !decode_header(b, &h)) return 0;
  r->magic = h.magic;
  r->version = 2;
  r->end_offset = h.used_end;  // the size of the file's blocks in use
  r->end_segment = 0;
  r->blocking_factor = static_cast<uint16_t>(h.blocking);
  r->address7 = h.dictionary.offset;
  r->segment8 = 0;
  r->address9 = h.allocated.offset;
  r->segment10 = 0;
  r->first_record = h.first_record.offset;
  r->first_record_segment = 0;
  r->deleted_head = h.deleted_head.offset;
  r->deleted_head_segment = 0;
  r->address18 = h.last_record.offset;
  r->segment19 = 0;
  r->records = h.records;
  r->deleted = h.deleted;
  r->kept23 = h.serial;
  r->stamp = h.stamp;
  r->kept27 = static_cast<uint16_t>(h.damage_mark);
  r->user_count = static_cast<uint16_t>(h.user_count);
  r->tree_height = static_cast<uint16_t>(h.v2_tree_height);
  r->nodes = h.nodes;
  r->deleted_nodes = h.free_count;
  r->node_space_used = static_cast<uint32_t>(h.node_space);
  r->free_records = h.v2_free_records;
  return 1;
}
