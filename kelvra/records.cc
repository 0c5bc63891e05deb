// The record area: headers, reading, storing, replacing and deleting records.
#include "kelvra/records.h"

#include <cstring>

#include "ixkit/libs/rtcore.h"
#include "kelvra/bytes.h"
#include "kelvra/compress.h"
#include "kelvra/errors.h"
#include "kelvra/segments.h"

namespace {

int version_of(const KFileState* s) {
  return s->header.version;
}
int header_bytes(const KFileState* s) {
  return s->header.record_header_size;
}
bool chained(const KFileState* s) {
  return s->header.version <= 3;
}

// Room left for record bytes in the block of pos, before its 4-byte link.
int64_t room_in_block(const KFileState* s, uint32_t pos) {
  return static_cast<int64_t>(s->block_bytes) - pos % static_cast<uint32_t>(s->block_bytes) - 4;
}

uint32_t link_target(const KFileState* s, const uint8_t* link) {
  // Version 2 keeps the position itself, little-endian; version 3 the position - 1.
  if (version_of(s) == 2) return static_cast<uint32_t>(get_uint(link, 4, false));
  return get_be32(link) + 1;
}

// Blocks are taken in file order at the end of the blocks in use, so the block a link
// names lies after the block that holds the link and inside the blocks in use. Anything
// else is damage: following it would read, or overwrite, records of other blocks.
bool sound_link(const KFileState* s, uint32_t link_at, uint32_t target) {
  uint32_t b = static_cast<uint32_t>(s->block_bytes);
  return target % b == 0 && target > link_at &&
         static_cast<uint64_t>(target) + b <= s->header.used_end;
}

void put_link(const KFileState* s, uint8_t* link, uint32_t target) {
  if (version_of(s) == 2) {
    put_uint(link, 4, false, target);
  } else {
    put_be32(link, target - 1);
  }
}

}  // namespace

int allocate_block(KFileState* s, uint32_t* pos) {
  uint64_t at = s->header.used_end;
  if (at + static_cast<uint64_t>(s->block_bytes) > 0xFFFFFFFFull) {
    return k_fail(RT_ERR_DISK_FULL, 1);  // versions 2 and 3 address 4 GiB
  }
  std::vector<uint8_t> zero(static_cast<size_t>(s->block_bytes), 0);
  if (!segment_write(s, K_SEGMENT_DATA, 0, at, zero.data(), static_cast<uint32_t>(zero.size()))) {
    return 0;
  }
  s->header.used_end = static_cast<uint32_t>(at + static_cast<uint64_t>(s->block_bytes));
  s->header.allocated.offset = s->header.used_end;
  s->header_dirty = 1;
  *pos = static_cast<uint32_t>(at);
  return 1;
}

namespace {

// Walks count bytes from pos along the block chain of versions 2 and 3, handing each piece
// that lies within one block to piece(position, bytes, bytes before it). With extend, blocks
// are added where the chain ends; without, an end before the bytes do is damage. end
// receives the position past the bytes.
template <class Piece>
int chain_walk(KFileState* s, uint32_t pos, uint32_t count, int damage, int extend, uint32_t* end,
               Piece piece) {
  // Every block holds at least one byte, so a sound chain needs no more links than bytes.
  const uint32_t total = count;
  uint64_t links = 0;
  uint32_t done = 0;
  while (true) {
    int64_t room = room_in_block(s, pos);
    if (room < 0) return k_damaged(damage);
    uint32_t take = count < room ? count : static_cast<uint32_t>(room);
    if (take && !piece(pos, take, done)) return 0;
    done += take;
    count -= take;
    pos += take;
    if (count == 0) break;
    uint8_t link[4];
    if (!segment_read(s, K_SEGMENT_DATA, 0, pos, link, 4, damage)) return 0;
    uint32_t next = link_target(s, link);
    if (next <= 1 && extend) {
      if (!allocate_block(s, &next)) return 0;
      put_link(s, link, next);
      if (!segment_write(s, K_SEGMENT_DATA, 0, pos, link, 4)) return 0;
    } else if (next <= 1 || !sound_link(s, pos, next) || ++links > uint64_t(total) + 1) {
      return k_damaged(damage);
    }
    pos = next;
  }
  *end = pos;
  return 1;
}

// Writes count bytes at `at` (along the block chain in versions 2 and 3; with extend, blocks
// are added where the chain ends). after receives the position past the bytes.
int area_write(KFileState* s, KAddress at, const uint8_t* p, uint32_t count, KAddress* after,
               int extend) {
  if (!chained(s)) {
    if (!segment_write(s, K_SEGMENT_DATA, at.segment, at.offset, p, count)) return 0;
    *after = {at.offset + count, at.segment};
    return 1;
  }
  uint32_t end = 0;
  auto put = [&](uint32_t pos, uint32_t take, uint32_t done) {
    return segment_write(s, K_SEGMENT_DATA, 0, pos, p + done, take);
  };
  if (!chain_walk(s, at.offset, count, K_DAMAGE_CHAIN, extend, &end, put)) return 0;
  *after = {end, 0};
  return 1;
}

uint32_t next_seed(KFileState* s) {
  s->next_seed = s->next_seed * 1664525u + 1013904223u;
  return s->next_seed >> 8;
}

// Where the record area can take a record of total bytes (header and slot).
int reserve_append(KFileState* s, uint32_t total, KAddress* at) {
  Header& h = s->header;
  KAddress end = h.end;
  if (chained(s)) {
    if (room_in_block(s, end.offset) <= 0) {
      // The last block is full up to its link: the record starts in a new block.
      uint32_t link_pos = end.offset - end.offset % static_cast<uint32_t>(s->block_bytes) +
                          static_cast<uint32_t>(s->block_bytes) - 4;
      uint32_t next;
      uint8_t link[4];
      if (!allocate_block(s, &next)) return 0;
      put_link(s, link, next);
      if (!segment_write(s, K_SEGMENT_DATA, 0, link_pos, link, 4)) return 0;
      end = {next, 0};
    }
    *at = end;
    return 1;
  }
  uint32_t hsize = static_cast<uint32_t>(header_bytes(s));
  if (total > h.segment_size - K_HEADER_SIZE) return k_fail(RT_ERR_DISK_FULL, 2);
  if (static_cast<uint64_t>(end.offset) + total > h.segment_size) {
    if (static_cast<uint64_t>(end.offset) + hsize <= h.segment_size) {
      // An empty header ends this segment's records for readers of the raw area.
      uint8_t zero[32] = {};
      if (!segment_write(s, K_SEGMENT_DATA, end.segment, end.offset, zero, hsize)) return 0;
    }
    if (end.segment == 0xFFFF) return k_fail(RT_ERR_DISK_FULL, 3);
    int next = end.segment + 1;
    if (!open_segment(s, K_SEGMENT_DATA, next, 1)) return 0;
    end = {K_HEADER_SIZE, static_cast<uint16_t>(next)};
    s->pub.data_segment_high = next;
  }
  *at = end;
  return 1;
}

// Prepares the stored form of a record in scratch 0: compressed when that is shorter,
// scrambled when the file is encrypted.
void stored_form(KFileState* s, const uint8_t* record, uint32_t length, RecordHeader* h,
                 uint8_t** data) {
  uint8_t* buf = record_scratch(s, 0) + 64;
  int v = version_of(s);
  uint32_t n = 0;
  if (s->header.compression > 0) n = compress_bytes(v, record, length, buf);
  if (n) {
    h->flags = 0;
  } else {
    memcpy(buf, record, length);
    n = length;
    h->flags = REC_PLAIN;
  }
  h->length = n;
  h->link = 0;
  h->link_segment = 0;
  if (s->header.encryption) {
    bool seeded = v != 5 || s->header.seed_flag;
    h->link = seeded ? next_seed(s) : 0;
    scramble_bytes(buf, n, h->link);
  }
  *data = buf;
}

// Slot bytes a record of stored length n needs.
uint32_t slot_for(KFileState* s, uint32_t n) {
  uint32_t link = static_cast<uint32_t>(link_data_size(version_of(s)));
  return n > link ? n : link;
}

// Writes header and stored bytes at `at`; the header goes in front of the data (scratch 0
// keeps 64 bytes free there for it).
int write_slot(KFileState* s, KAddress at, const RecordHeader& h, uint8_t* data, KAddress* after,
               int extend) {
  int hsize = header_bytes(s);
  uint8_t* start = data - hsize;
  encode_record_header(version_of(s), hsize, h, start);
  KAddress end;
  if (!area_write(s, at, start, static_cast<uint32_t>(hsize) + h.length, &end, extend)) return 0;
  if (after) *after = end;
  return 1;
}

// Reads the header at `at` and, for versions 2 to 4, the link bytes after it.
int read_free_member(KFileState* s, KAddress at, RecordHeader* h, KAddress* next) {
  uint8_t buf[32];
  int hsize = header_bytes(s);
  int v = version_of(s);
  int extra = link_data_size(v);
  if (!area_read(s, at, buf, static_cast<uint32_t>(hsize + extra), nullptr, K_DAMAGE_CHAIN)) {
    return 0;
  }
  decode_record_header(v, hsize, buf, h);
  if (v == 5) {
    *next = {h->link, h->link_segment};
  } else {
    const uint8_t* l = buf + hsize;
    next->offset = static_cast<uint32_t>(get_uint(l, 4, v != 2));
    next->segment = v == 4 ? get_be16(l + 4) : 0;
  }
  return 1;
}

int address_in_area(KFileState* s, KAddress at);

// Takes the head of a chain of free records when its slot holds need bytes.
int pop_free(KFileState* s, int abandoned, uint32_t need, KAddress* at, uint32_t* stored) {
  Header& hd = s->header;
  KAddress head = abandoned ? hd.abandoned_head : hd.deleted_head;
  if (is_null(head)) return 0;
  // A head outside the record area is not reused (it could name the header block).
  if (!address_in_area(s, head)) return 0;
  RecordHeader h;
  KAddress next;
  if (!read_free_member(s, head, &h, &next)) {
    k_clear_error();  // a broken chain is not reused; the record goes to the end instead
    return 0;
  }
  int want = abandoned ? REC_ABANDONED : REC_DELETED;
  if (!(h.flags & want) || h.stored < need || h.stored > slot_for(s, hd.max_record)) return 0;
  if (!chained(s) &&
      static_cast<uint64_t>(head.offset) + static_cast<uint32_t>(header_bytes(s)) + h.stored >
          hd.segment_size) {
    return 0;
  }
  if (abandoned) {
    hd.abandoned_head = next;
    hd.abandoned--;
  } else {
    hd.deleted_head = next;
    hd.deleted--;
  }
  *at = head;
  *stored = h.stored;
  return 1;
}

// Marks the slot at `at` free and links it at the head of the deleted chain (abandoned:
// the abandoned chain of version 5).
int free_slot(KFileState* s, KAddress at, int abandoned) {
  Header& hd = s->header;
  int v = version_of(s);
  int hsize = header_bytes(s);
  uint8_t buf[32];
  KAddress after;
  if (!area_read(s, at, buf, static_cast<uint32_t>(hsize), &after, K_DAMAGE_REC_HEADER)) return 0;
  RecordHeader h;
  decode_record_header(v, hsize, buf, &h);
  KAddress head = abandoned ? hd.abandoned_head : hd.deleted_head;
  if (v == 5) {
    h.flags = (abandoned ? REC_ABANDONED : REC_DELETED) | (h.flags & REC_PLAIN);
    h.link = head.offset;
    h.link_segment = head.segment;
  } else {
    h.flags = REC_DELETED | (h.flags & REC_PLAIN);
    uint8_t link[6];
    put_uint(link, 4, v != 2, head.offset);
    put_be16(link + 4, head.segment);
    KAddress end;
    if (!area_write(s, after, link, static_cast<uint32_t>(link_data_size(v)), &end, 0)) return 0;
  }
  encode_record_header(v, hsize, h, buf);
  if (!area_write(s, at, buf, static_cast<uint32_t>(hsize), &after, 0)) return 0;
  if (abandoned) {
    hd.abandoned_head = at;
    hd.abandoned++;
  } else {
    hd.deleted_head = at;
    hd.deleted++;
  }
  publish_chains(s);
  s->header_dirty = 1;
  return 1;
}

// A record address must lie in the record area.
int address_in_area(KFileState* s, KAddress at) {
  const Header& h = s->header;
  uint32_t hsize = static_cast<uint32_t>(h.record_header_size);
  if (chained(s)) {
    return at.segment == 0 && at.offset >= h.first_record.offset &&
           static_cast<uint64_t>(at.offset) + hsize <= h.used_end;
  }
  if (at.segment > s->pub.data_segment_high) return 0;
  uint32_t low = at.segment == h.first_record.segment ? h.first_record.offset : K_HEADER_SIZE;
  return at.offset >= low && static_cast<uint64_t>(at.offset) + hsize <= h.segment_size;
}

}  // namespace

int new_record_header_size(int version, int encrypted) {
  if (version == 2) return 9;
  if (version == 5) return 15;
  return encrypted ? 8 : 4;
}

int link_data_size(int version) {
  switch (version) {
    case 2:
    case 3:
      return 4;
    case 4:
      return 6;
    default:
      return 0;
  }
}

void encode_record_header(int version, int size, const RecordHeader& h, uint8_t* out) {
  memset(out, 0, static_cast<size_t>(size));
  if (version == 2) {
    put_uint(out, 2, false, h.stored);
    put_uint(out + 2, 2, false, h.length);
    put_uint(out + 4, 4, false, h.link);
    out[8] = (h.flags & REC_DELETED) ? 0x7F : ((h.flags & REC_PLAIN) ? 0x7E : 0x00);
  } else if (version <= 4) {
    put_be16(out, static_cast<uint16_t>(h.stored));
    uint16_t len = 0;
    if (!(h.flags & REC_DELETED)) {
      len = static_cast<uint16_t>((h.length & 0x7FFF) | ((h.flags & REC_PLAIN) ? 0x8000 : 0));
    }
    put_be16(out + 2, len);
    if (size > 4) put_be32(out + 4, h.link);
  } else {
    put_be32(out, h.stored);
    put_be32(out + 4, h.length);
    out[8] = static_cast<uint8_t>(h.flags);
    put_be32(out + 9, h.link);
    put_be16(out + 13, h.link_segment);
  }
}

void decode_record_header(int version, int size, const uint8_t* in, RecordHeader* h) {
  *h = RecordHeader{};
  if (version == 2) {
    h->stored = static_cast<uint32_t>(get_uint(in, 2, false));
    h->length = static_cast<uint32_t>(get_uint(in + 2, 2, false));
    h->link = static_cast<uint32_t>(get_uint(in + 4, 4, false));
    h->flags = in[8] == 0x7F ? REC_DELETED : (in[8] == 0x7E ? REC_PLAIN : 0);
  } else if (version <= 4) {
    h->stored = get_be16(in);
    h->flags = (in[2] & 0x80) ? REC_PLAIN : 0;
    h->length = get_be16(in + 2) & 0x7FFF;
    if (h->length == 0) h->flags = REC_DELETED;
    h->link = size > 4 ? get_be32(in + 4) : 0;
  } else {
    h->stored = get_be32(in);
    h->length = get_be32(in + 4);
    h->flags = in[8];
    h->link = get_be32(in + 9);
    h->link_segment = get_be16(in + 13);
  }
}

uint8_t* record_scratch(KFileState* s, int which) {
  std::vector<uint8_t>& v = s->scratch[which];
  size_t need = static_cast<size_t>(s->header.max_record) + 128;
  if (v.size() < need) v.resize(need);
  return v.data();
}

int area_read(KFileState* s, KAddress at, void* buffer, uint32_t count, KAddress* after,
              int damage) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  if (!chained(s)) {
    if (static_cast<uint64_t>(at.offset) + count > 0xFFFFFFFFull) return k_damaged(damage);
    if (!segment_read(s, K_SEGMENT_DATA, at.segment, at.offset, p, count, damage)) return 0;
    if (after) *after = {at.offset + count, at.segment};
    return 1;
  }
  uint32_t end = 0;
  auto get = [&](uint32_t pos, uint32_t take, uint32_t done) {
    return segment_read(s, K_SEGMENT_DATA, 0, pos, p + done, take, damage);
  };
  if (!chain_walk(s, at.offset, count, damage, 0, &end, get)) return 0;
  if (after) *after = {end, 0};
  return 1;
}

int read_record(KFileState* s, KAddress at, uint8_t* out, uint32_t* length) {
  const Header& hd = s->header;
  int v = version_of(s);
  int hsize = header_bytes(s);
  if (!address_in_area(s, at)) return k_damaged(K_DAMAGE_REC_ADDRESS);
  uint8_t buf[32];
  KAddress after;
  if (!area_read(s, at, buf, static_cast<uint32_t>(hsize), &after, K_DAMAGE_REC_HEADER)) return 0;
  RecordHeader h;
  decode_record_header(v, hsize, buf, &h);
  if (h.flags & (REC_DELETED | REC_ABANDONED)) return k_damaged(K_DAMAGE_REC_DELETED);
  if (h.length == 0 || h.length > h.stored || h.length > hd.max_record) {
    return k_damaged(K_DAMAGE_REC_HEADER);
  }
  bool expand = hd.compression > 0 && !(h.flags & REC_PLAIN);
  uint8_t* target = expand ? record_scratch(s, 1) : out;
  if (!area_read(s, after, target, h.length, nullptr, K_DAMAGE_REC_HEADER)) return 0;
  if (hd.encryption) unscramble_bytes(target, h.length, (v != 5 || hd.seed_flag) ? h.link : 0);
  uint32_t n = h.length;
  if (expand && !expand_bytes(v, target, h.length, out, hd.max_record, &n)) {
    return k_damaged(K_DAMAGE_REC_EXPAND);
  }
  if (n < hd.min_record || n > hd.max_record) return k_damaged(K_DAMAGE_REC_LENGTH);
  *length = n;
  return 1;
}

int store_record(KFileState* s, const uint8_t* record, uint32_t length, int reuse, KAddress* at) {
  RecordHeader h;
  uint8_t* data;
  stored_form(s, record, length, &h, &data);
  uint32_t need = slot_for(s, h.length);
  uint32_t slot = 0;
  bool reused = reuse && (pop_free(s, 0, need, at, &slot) ||
                          (version_of(s) == 5 && pop_free(s, 1, need, at, &slot)));
  if (!reused) {
    slot = need;
    if (!reserve_append(s, static_cast<uint32_t>(header_bytes(s)) + slot, at)) return 0;
  }
  h.stored = slot;
  // Slack of a reused slot keeps its old bytes; a new slot is written whole.
  if (slot > h.length && !reused) memset(data + h.length, 0, slot - h.length);
  RecordHeader written = h;
  if (!reused) written.length = slot;  // write the slack too
  KAddress after;
  int hsize = header_bytes(s);
  uint8_t* start = data - hsize;
  encode_record_header(version_of(s), hsize, h, start);
  if (!area_write(s, *at, start, static_cast<uint32_t>(hsize) + written.length, &after, !reused)) {
    return 0;
  }
  Header& hd = s->header;
  if (!reused) {
    hd.end = after;
    if (!chained(s)) hd.allocated = after;  // versions 4, 5: the area ends where it is used
    hd.last_record = *at;
  }
  hd.records++;
  publish_chains(s);
  s->header_dirty = 1;
  return 1;
}

int replace_record(KFileState* s, KAddress at, const uint8_t* record, uint32_t length,
                   KAddress* moved_to) {
  int v = version_of(s);
  int hsize = header_bytes(s);
  uint8_t buf[32];
  if (!area_read(s, at, buf, static_cast<uint32_t>(hsize), nullptr, K_DAMAGE_REC_HEADER)) return 0;
  RecordHeader old;
  decode_record_header(v, hsize, buf, &old);
  RecordHeader h;
  uint8_t* data;
  stored_form(s, record, length, &h, &data);
  if (slot_for(s, h.length) <= old.stored) {
    h.stored = old.stored;
    *moved_to = at;
    return write_slot(s, at, h, data, nullptr, 0);
  }
  // It no longer fits: store it anew and free the old slot.
  std::vector<uint8_t> copy(record, record + length);
  if (!store_record(s, copy.data(), length, 1, moved_to)) return 0;
  s->header.records--;
  if (v == 5) return free_slot(s, at, 1);
  if (v == 2) {
    // Version 2 marks the old slot free without chaining it, and counts it apart.
    old.flags = REC_DELETED;
    encode_record_header(v, hsize, old, buf);
    KAddress after;
    if (!area_write(s, at, buf, static_cast<uint32_t>(hsize), &after, 0)) return 0;
    s->header.v2_free_records++;
    return 1;
  }
  return free_slot(s, at, 0);
}

int delete_record(KFileState* s, KAddress at) {
  if (!free_slot(s, at, 0)) return 0;
  s->header.records--;
  return 1;
}
