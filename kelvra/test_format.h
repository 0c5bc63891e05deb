// A reader and patcher of Kelvra files for the tests, written from docs/file-format.md
// alone. It shares no code with the library on purpose: the tests that check the bytes the
// library writes, and those that damage files, must not trust the library's own decoders.
#ifndef KELVRA_TEST_FORMAT_H
#define KELVRA_TEST_FORMAT_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace raw {

inline uint64_t load(const uint8_t* p, int width, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < width; i++) v = (v << 8) | p[big ? i : width - 1 - i];
  return v;
}

inline void store(uint8_t* p, int width, bool big, uint64_t v) {
  for (int i = 0; i < width; i++) {
    p[big ? width - 1 - i : i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

// One header field: its offset and width in bytes. Width 0 marks the fields that hold a
// number instead of a place (the byte counts 44, 46, 52 and the stamp positions 75, 80);
// the number is then in `offset`.
struct FieldRow {
  int field;
  int offset;
  int width;
};

// The header tables of the format reference, row by row.
inline const std::vector<FieldRow>& header_layout(int version) {
  static const std::vector<FieldRow> v2 = {
      {1, 4, 2},    {2, 6, 2},    {5, 8, 4},    {7, 12, 4},   {9, 16, 4},    {11, 20, 4},
      {13, 24, 4},  {18, 28, 4},  {20, 32, 4},  {21, 36, 4},  {23, 40, 4},   {24, 44, 4},
      {26, 48, 4},  {27, 52, 2},  {29, 54, 4},  {30, 58, 4},  {31, 62, 2},   {40, 64, 4},
      {61, 68, 4},  {62, 72, 4},  {64, 76, 4},  {54, 80, 2},  {65, 82, 2},   {66, 84, 4},
      {28, 126, 2}, {53, 144, 4}, {45, 162, 2}, {55, 164, 2}, {56, 166, 2},  {57, 168, 4},
      {58, 172, 4}, {59, 176, 2}, {60, 178, 4}, {67, 244, 4}, {51, 248, 31}, {44, 144, 0},
      {46, 280, 0}, {52, 280, 0}};
  static const std::vector<FieldRow> v3 = {
      {1, 4, 2},    {2, 6, 2},    {5, 8, 4},    {7, 12, 4},   {9, 16, 4},   {11, 20, 4},
      {13, 24, 4},  {18, 28, 4},  {20, 32, 4},  {21, 36, 4},  {23, 40, 4},  {24, 44, 4},
      {26, 48, 4},  {27, 52, 2},  {28, 54, 2},  {29, 56, 2},  {30, 58, 2},  {31, 60, 2},
      {32, 62, 2},  {40, 64, 4},  {45, 68, 2},  {51, 70, 31}, {53, 102, 4}, {54, 106, 2},
      {55, 108, 2}, {56, 110, 2}, {57, 112, 4}, {58, 116, 4}, {59, 120, 2}, {60, 122, 4},
      {61, 126, 4}, {62, 130, 4}, {64, 134, 4}, {44, 56, 0},  {46, 70, 0},  {52, 101, 0}};
  static const std::vector<FieldRow> v4 = {
      {1, 4, 2},    {2, 6, 2},    {5, 8, 4},    {6, 12, 2},   {7, 14, 4},   {8, 18, 2},
      {9, 20, 4},   {10, 24, 2},  {11, 26, 4},  {12, 30, 2},  {13, 32, 4},  {14, 36, 2},
      {18, 38, 4},  {19, 42, 2},  {20, 44, 4},  {21, 48, 4},  {23, 52, 4},  {24, 56, 4},
      {26, 60, 4},  {27, 64, 2},  {28, 66, 2},  {29, 68, 2},  {30, 70, 2},  {31, 72, 2},
      {32, 74, 2},  {39, 76, 4},  {45, 80, 2},  {51, 82, 31}, {53, 114, 4}, {54, 118, 2},
      {55, 120, 2}, {56, 122, 2}, {57, 124, 4}, {58, 128, 4}, {59, 132, 2}, {60, 134, 4},
      {61, 138, 4}, {62, 142, 4}, {64, 146, 4}, {44, 68, 0},  {46, 82, 0},  {52, 113, 0},
      {75, 12, 0},  {80, 16, 0}};
  static const std::vector<FieldRow> v5 = {
      {1, 4, 2},     {2, 6, 2},    {5, 8, 4},    {6, 12, 2},   {7, 14, 4},   {8, 18, 2},
      {9, 20, 4},    {10, 24, 2},  {11, 26, 4},  {12, 30, 2},  {13, 32, 4},  {14, 36, 2},
      {15, 38, 4},   {16, 42, 2},  {18, 44, 4},  {19, 48, 2},  {20, 50, 4},  {21, 54, 4},
      {22, 58, 4},   {23, 62, 4},  {24, 66, 4},  {26, 70, 6},  {27, 76, 2},  {28, 78, 2},
      {29, 80, 4},   {30, 84, 4},  {31, 88, 2},  {32, 90, 2},  {39, 92, 4},  {45, 96, 4},
      {51, 100, 31}, {53, 132, 4}, {54, 136, 2}, {55, 138, 2}, {56, 140, 2}, {57, 142, 4},
      {58, 146, 4},  {59, 150, 2}, {60, 152, 4}, {61, 156, 4}, {62, 160, 4}, {64, 164, 4},
      {44, 80, 0},   {46, 100, 0}, {52, 131, 0}, {75, 12, 0},  {80, 16, 0}};
  static const std::vector<FieldRow> none;
  switch (version) {
    case 2:
      return v2;
    case 3:
      return v3;
    case 4:
      return v4;
    case 5:
      return v5;
    default:
      return none;
  }
}

inline const FieldRow* header_field(int version, int field) {
  for (const FieldRow& r : header_layout(version)) {
    if (r.field == field) return &r;
  }
  return nullptr;
}

// CRC-32 of IEEE 802.3, bit by bit.
inline uint32_t crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    c ^= p[i];
    for (int b = 0; b < 8; b++) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
  }
  return ~c;
}

inline std::vector<uint8_t> slurp(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline int64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Overwrites bytes of a file in place.
inline bool patch(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  bool ok = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
            static_cast<ssize_t>(bytes.size());
  close(fd);
  return ok;
}

// Segment file names of the reference: NAME, NAME.d1, ... and NAME.x0, NAME.x1, ...
inline std::string data_path(const std::string& name, int n) {
  return n == 0 ? name : name + ".d" + std::to_string(n);
}
inline std::string index_path(const std::string& name, int n) {
  return name + ".x" + std::to_string(n);
}

struct Pos {
  uint32_t offset = 0;
  uint16_t segment = 0;
  bool operator==(const Pos& o) const { return offset == o.offset && segment == o.segment; }
  bool operator!=(const Pos& o) const { return !(*this == o); }
  bool operator<(const Pos& o) const {
    return segment != o.segment ? segment < o.segment : offset < o.offset;
  }
  bool null() const { return offset == 0 && segment == 0; }
};

// A record header of any version, decoded.
struct RecHeader {
  uint32_t stored = 0;
  uint32_t length = 0;
  uint32_t seed = 0;  // scrambling seed (live records)
  Pos link;           // next member of a free chain (version 5 headers)
  bool deleted = false;
  bool abandoned = false;
  bool plain = false;  // stored without compression
  uint8_t mark = 0;    // version 2: byte 8 as found
};

inline RecHeader decode_record_header(int v, int hsize, const uint8_t* p) {
  RecHeader h;
  if (v == 2) {
    h.stored = static_cast<uint32_t>(load(p, 2, false));
    h.length = static_cast<uint32_t>(load(p + 2, 2, false));
    h.seed = static_cast<uint32_t>(load(p + 4, 4, false));
    h.mark = p[8];
    h.deleted = p[8] == 0x7F;
    h.plain = p[8] == 0x7E;
  } else if (v <= 4) {
    h.stored = static_cast<uint32_t>(load(p, 2, true));
    uint32_t w = static_cast<uint32_t>(load(p + 2, 2, true));
    h.length = w & 0x7FFF;
    h.plain = (w & 0x8000) != 0;
    h.deleted = h.length == 0;
    if (hsize > 4) h.seed = static_cast<uint32_t>(load(p + 4, 4, true));
  } else {
    h.stored = static_cast<uint32_t>(load(p, 4, true));
    h.length = static_cast<uint32_t>(load(p + 4, 4, true));
    h.deleted = (p[8] & 1) != 0;
    h.abandoned = (p[8] & 2) != 0;
    h.plain = (p[8] & 4) != 0;
    uint32_t nine = static_cast<uint32_t>(load(p + 9, 4, true));
    h.link = {nine, static_cast<uint16_t>(load(p + 13, 2, true))};
    h.seed = nine;
  }
  return h;
}

// The reverse, for damaging files on purpose. Version 5 writes `link` at bytes 9-14 of a
// free record and `seed` for a live one.
inline void encode_record_header(int v, int hsize, const RecHeader& h, uint8_t* p) {
  for (int i = 0; i < hsize; i++) p[i] = 0;
  if (v == 2) {
    store(p, 2, false, h.stored);
    store(p + 2, 2, false, h.length);
    store(p + 4, 4, false, h.seed);
    p[8] = h.deleted ? 0x7F : (h.plain ? 0x7E : 0x00);
  } else if (v <= 4) {
    store(p, 2, true, h.stored);
    store(p + 2, 2, true, h.deleted ? 0 : ((h.length & 0x7FFF) | (h.plain ? 0x8000 : 0)));
    if (hsize > 4) store(p + 4, 4, true, h.seed);
  } else {
    store(p, 4, true, h.stored);
    store(p + 4, 4, true, h.length);
    p[8] = static_cast<uint8_t>((h.deleted ? 1 : 0) | (h.abandoned ? 2 : 0) | (h.plain ? 4 : 0));
    bool free_record = h.deleted || h.abandoned;
    store(p + 9, 4, true, free_record ? h.link.offset : h.seed);
    store(p + 13, 2, true, free_record ? h.link.segment : 0);
  }
}

// Undoes the run codes; false when the stored bytes are malformed or expand past limit.
inline bool expand(int v, const std::vector<uint8_t>& in, size_t limit, std::vector<uint8_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < in.size()) {
    uint8_t b = in[i++];
    uint8_t fill = b;
    size_t count = 1;
    if (b == 0xFE) {
      if (in.size() - i < 2) return false;
      fill = in[i];
      count = in[i + 1];
      i += 2;
    } else if (v >= 3 && b >= 0xFB && b <= 0xFD) {
      if (in.size() - i < 1) return false;
      fill = b == 0xFB ? 0 : (b == 0xFC ? '0' : ' ');
      count = in[i++];
    } else if (v >= 3 && b == 0xFA) {
      if (in.size() - i < 1) return false;
      fill = in[i++];
    }
    if (out->size() + count > limit) return false;
    out->insert(out->end(), count, fill);
  }
  return true;
}

inline void unscramble(std::vector<uint8_t>* bytes, uint32_t seed) {
  for (size_t i = 0; i < bytes->size(); i++) {
    (*bytes)[i] = static_cast<uint8_t>((*bytes)[i] - ((seed + 7 * i) & 0xFF));
  }
}

// A record as found in the record area.
struct Record {
  Pos pos;  // where its header starts
  RecHeader h;
  std::vector<uint8_t> slot;        // the stored-size bytes after the header
  std::vector<uint32_t> slot_at;    // file offset of each slot byte
  std::vector<uint32_t> header_at;  // file offset of each header byte
  Pos after;                        // where the next header starts
};

struct KeyDef {
  bool duplicates = false;
  std::vector<std::pair<uint32_t, uint32_t>> segments;  // size, offset
  int length = 0;
  int entry = 0;  // bytes of an index entry key
};

struct Dictionary {
  bool sound = false;
  uint32_t magic = 0;
  int key_count = 0;
  int flags = 0;
  std::vector<KeyDef> keys;
  std::vector<uint32_t> root;
  std::vector<int> height;
  std::vector<uint8_t> collating;  // empty when none
  uint32_t crc_stored = 0;
  uint32_t crc_computed = 0;
  size_t bytes = 0;  // as parsed, the checksum included
};

struct Entry {
  std::vector<uint8_t> key;  // entry key: key bytes, then the serial for duplicates
  Pos address;
  uint32_t node = 0;
  int slot = 0;
};

struct Leaf {
  uint32_t node = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  std::vector<Entry> entries;
};

// A Kelvra file, read from disk at construction.
class File {
 public:
  explicit File(std::string name) : name_(std::move(name)) {
    seg0_ = slurp(name_);
    if (seg0_.size() < 512) return;
    const uint8_t* b = seg0_.data();
    if (load(b, 4, false) == 0x10121416 && load(b + 4, 2, false) == 2) {
      version_ = 2;
    } else if (b[4] == 0 && b[5] >= 3 && b[5] <= 5) {
      version_ = b[5];
    } else {
      return;
    }
    big_ = version_ != 2;
    block_ = static_cast<int>(field(2)) * 512;
    hsize_ = version_ == 2 ? 9 : static_cast<int>(field(31));
    if (version_ >= 4) segment_size_ = static_cast<uint32_t>(field(39));
    parse_dictionary();
  }

  bool valid() const { return version_ != 0; }
  int version() const { return version_; }
  bool big() const { return big_; }
  int block() const { return block_; }
  int header_size() const { return hsize_; }
  uint32_t segment_size() const { return segment_size_; }
  const std::string& name() const { return name_; }
  const std::vector<uint8_t>& header_bytes() const { return seg0_; }
  const Dictionary& dictionary() const { return dict_; }

  // A header field by the reference's table; 0 when the version has none.
  uint64_t field(int f) const {
    const FieldRow* r = header_field(version_, f);
    if (!r || r->width == 0 || r->width > 8) return 0;
    return load(seg0_.data() + r->offset, r->width, big_);
  }
  Pos address(int offset_field, int segment_field) const {
    return {static_cast<uint32_t>(field(offset_field)),
            static_cast<uint16_t>(segment_field ? field(segment_field) : 0)};
  }
  Pos first_record() const { return address(11, version_ >= 4 ? 12 : 0); }
  Pos end() const { return address(5, version_ >= 4 ? 6 : 0); }
  Pos deleted_head() const { return address(13, version_ >= 4 ? 14 : 0); }
  Pos abandoned_head() const { return address(15, 16); }
  Pos last_record() const { return address(18, version_ >= 4 ? 19 : 0); }

  const std::vector<uint8_t>& data_segment(int n) {
    auto it = data_.find(n);
    if (it == data_.end()) {
      it = data_.emplace(n, n == 0 ? seg0_ : slurp(data_path(name_, n))).first;
    }
    return it->second;
  }
  const std::vector<uint8_t>& index_segment(int n) {
    auto it = index_.find(n);
    if (it == index_.end()) it = index_.emplace(n, slurp(index_path(name_, n))).first;
    return it->second;
  }

  // Offsets of count bytes of the record area from `at`; in versions 2 and 3 the last four
  // bytes of each block are skipped and the block link is followed. False when the chain
  // or the segment ends first.
  bool span(Pos at, uint32_t count, std::vector<uint32_t>* offsets, Pos* after) {
    offsets->clear();
    const std::vector<uint8_t>& seg = data_segment(at.segment);
    if (version_ >= 4) {
      if (static_cast<uint64_t>(at.offset) + count > seg.size()) return false;
      for (uint32_t i = 0; i < count; i++) offsets->push_back(at.offset + i);
      *after = {at.offset + count, at.segment};
      return true;
    }
    uint32_t pos = at.offset;
    uint32_t b = static_cast<uint32_t>(block_);
    for (int hops = 0; count > 0; hops++) {
      if (hops > 100000) return false;
      uint32_t link_at = pos - pos % b + b - 4;
      if (pos > link_at) return false;  // inside a link: not a record position
      while (pos < link_at && count > 0) {
        if (pos >= seg.size()) return false;
        offsets->push_back(pos++);
        count--;
      }
      if (count == 0) break;
      if (!follow(link_at, &pos)) return false;
    }
    *after = {pos, 0};
    return true;
  }

  // The continuation of the block whose link sits at link_at; false at the end of the chain.
  bool follow(uint32_t link_at, uint32_t* next) {
    const std::vector<uint8_t>& seg = data_segment(0);
    if (static_cast<uint64_t>(link_at) + 4 > seg.size()) return false;
    uint32_t link = static_cast<uint32_t>(load(seg.data() + link_at, 4, big_));
    if (version_ == 2) {
      if (link <= 1) return false;
      *next = link;
    } else {
      if (link == 0 || link == 0xFFFFFFFFu) return false;
      *next = link + 1;
    }
    return true;
  }

  std::vector<uint8_t> bytes_at(int segment, const std::vector<uint32_t>& offsets) {
    const std::vector<uint8_t>& seg = data_segment(segment);
    std::vector<uint8_t> out;
    for (uint32_t o : offsets) out.push_back(seg[o]);
    return out;
  }

  // The record whose header starts at `at`; false when it cannot be read whole.
  bool record_at(Pos at, Record* r) {
    r->pos = at;
    if (!span(at, static_cast<uint32_t>(hsize_), &r->header_at, &r->after)) return false;
    std::vector<uint8_t> hb = bytes_at(at.segment, r->header_at);
    r->h = decode_record_header(version_, hsize_, hb.data());
    if (!span(r->after, r->h.stored, &r->slot_at, &r->after)) return false;
    r->slot = bytes_at(at.segment, r->slot_at);
    return true;
  }

  // Every record of the record area in file order. end receives where the records end
  // (the last data segment); segment_ends the end of each data segment's records.
  std::vector<Record> walk(Pos* end = nullptr, std::vector<Pos>* segment_ends = nullptr) {
    std::vector<Record> out;
    Pos p = first_record();
    uint32_t b = static_cast<uint32_t>(block_);
    int high = version_ >= 4 ? static_cast<int>(field(6)) : 0;
    for (int guard = 0; guard < 1000000; guard++) {
      if (version_ <= 3) {
        Pos start = p;
        if (p.offset % b == b - 4) {  // a record never starts in the link bytes
          if (!follow(p.offset, &start.offset)) break;
        }
        Record r;
        if (!span(start, static_cast<uint32_t>(hsize_), &r.header_at, &r.after)) break;
        RecHeader h = decode_record_header(version_, hsize_, bytes_at(0, r.header_at).data());
        if (h.stored == 0) break;
        if (!record_at(start, &r)) break;
        out.push_back(r);
        p = r.after;
        continue;
      }
      const std::vector<uint8_t>& seg = data_segment(p.segment);
      bool segment_over = static_cast<uint64_t>(p.offset) + hsize_ > segment_size_ ||
                          static_cast<uint64_t>(p.offset) + hsize_ > seg.size();
      Record r;
      if (!segment_over) {
        RecHeader h = decode_record_header(version_, hsize_, seg.data() + p.offset);
        segment_over = h.stored == 0 && h.length == 0;
        if (!segment_over && !record_at(p, &r)) break;
      }
      if (segment_over) {
        if (segment_ends) segment_ends->push_back(p);
        if (p.segment >= high) break;
        p = {512, static_cast<uint16_t>(p.segment + 1)};
        continue;
      }
      out.push_back(r);
      p = r.after;
    }
    if (end) *end = p;
    return out;
  }

  // The live record's bytes: unscrambled with its seed and expanded. False when malformed.
  bool content(const Record& r, std::vector<uint8_t>* out) {
    std::vector<uint8_t> stored(r.slot.begin(),
                                r.slot.begin() + std::min<size_t>(r.h.length, r.slot.size()));
    if (field(56) != 0) unscramble(&stored, r.h.seed);
    if (field(55) == 0 || r.h.plain) {
      *out = stored;
      return true;
    }
    return expand(version_, stored, 1u << 27, out);
  }

  // Where node n lives: the file and the offset in it.
  bool node_place(uint32_t n, std::string* path, uint64_t* offset) const {
    if (n == 0 || block_ == 0) return false;
    if (version_ <= 3) {
      *path = name_;
      *offset = static_cast<uint64_t>(n) * static_cast<uint64_t>(block_);
      return true;
    }
    uint32_t per = (segment_size_ - 512) / static_cast<uint32_t>(block_);
    if (per == 0) return false;
    *path = index_path(name_, static_cast<int>((n - 1) / per));
    *offset = 512 + static_cast<uint64_t>((n - 1) % per) * static_cast<uint64_t>(block_);
    return true;
  }

  bool node(uint32_t n, std::vector<uint8_t>* out) {
    std::string path;
    uint64_t offset;
    if (!node_place(n, &path, &offset)) return false;
    const std::vector<uint8_t>* seg;
    if (version_ <= 3) {
      seg = &data_segment(0);
    } else {
      uint32_t per = (segment_size_ - 512) / static_cast<uint32_t>(block_);
      seg = &index_segment(static_cast<int>((n - 1) / per));
    }
    if (offset + static_cast<uint64_t>(block_) > seg->size()) return false;
    out->assign(seg->begin() + static_cast<long>(offset),
                seg->begin() + static_cast<long>(offset) + block_);
    return true;
  }

  int node_header() const { return version_ == 2 ? 2 : 3; }
  int address_bytes() const { return version_ >= 4 ? 6 : 4; }
  int node_count(const std::vector<uint8_t>& n) const {
    return version_ == 2 ? n[1] : static_cast<int>(load(n.data() + 1, 2, true));
  }

  // Reads a leaf; false when it is no leaf or does not fit its block.
  bool leaf(const KeyDef& key, uint32_t n, Leaf* out) {
    std::vector<uint8_t> b;
    if (!node(n, &b) || b[0] != 0) return false;
    int hdr = node_header();
    int count = node_count(b);
    int stride = key.entry + address_bytes();
    if (hdr + 8 + count * stride > block_) return false;
    out->node = n;
    out->prev = static_cast<uint32_t>(load(b.data() + hdr, 4, big_));
    out->next = static_cast<uint32_t>(load(b.data() + hdr + 4, 4, big_));
    out->entries.clear();
    for (int i = 0; i < count; i++) {
      const uint8_t* e = b.data() + hdr + 8 + i * stride;
      Entry en;
      en.key.assign(e, e + key.entry);
      en.address.offset = static_cast<uint32_t>(load(e + key.entry, 4, big_));
      if (version_ >= 4)
        en.address.segment = static_cast<uint16_t>(load(e + key.entry + 4, 2, true));
      en.node = n;
      en.slot = i;
      out->entries.push_back(en);
    }
    return true;
  }

  // Every node of key k's tree from its root, checked level by level; leaves in key order
  // from the left. node_space receives the bytes in use behind the node headers.
  bool tree(int k, std::vector<Leaf>* leaves, std::vector<uint32_t>* nodes, uint64_t* space) {
    const KeyDef& key = dict_.keys[static_cast<size_t>(k)];
    leaves->clear();
    nodes->clear();
    *space = 0;
    uint32_t root = dict_.root[static_cast<size_t>(k)];
    int height = dict_.height[static_cast<size_t>(k)];
    if (root == 0) return height == 0;
    std::vector<uint32_t> level_nodes = {root};
    std::set<uint32_t> seen;
    int hdr = node_header();
    for (int level = height - 1; level >= 0; level--) {
      std::vector<uint32_t> below;
      for (uint32_t n : level_nodes) {
        if (!seen.insert(n).second) return false;
        nodes->push_back(n);
        if (level == 0) {
          Leaf l;
          if (!leaf(key, n, &l)) return false;
          *space += 8 + l.entries.size() * static_cast<uint64_t>(key.entry + address_bytes());
          leaves->push_back(l);
          continue;
        }
        std::vector<uint8_t> b;
        if (!node(n, &b) || b[0] != level) return false;
        int count = node_count(b);
        if (hdr + 4 + count * (key.entry + 4) > block_) return false;
        below.push_back(static_cast<uint32_t>(load(b.data() + hdr, 4, big_)));
        for (int i = 0; i < count; i++) {
          const uint8_t* sep = b.data() + hdr + 4 + i * (key.entry + 4);
          below.push_back(static_cast<uint32_t>(load(sep + key.entry, 4, big_)));
        }
        *space += 4 + static_cast<uint64_t>(count) * static_cast<uint64_t>(key.entry + 4);
      }
      level_nodes = below;
    }
    return true;
  }

  // The free node list from field 62, bounded.
  bool free_nodes(std::vector<uint32_t>* out) {
    out->clear();
    uint32_t n = static_cast<uint32_t>(field(62));
    std::set<uint32_t> seen;
    while (n != 0) {
      std::vector<uint8_t> b;
      if (!seen.insert(n).second || !node(n, &b) || b[0] != 0xFF) return false;
      out->push_back(n);
      n = static_cast<uint32_t>(load(b.data() + 4, 4, big_));
    }
    return true;
  }

  // The next member of a free chain after r.
  Pos chain_link(const Record& r) const {
    if (version_ == 5) return r.h.link;
    Pos p;
    if (r.slot.size() < 4) return p;
    p.offset = static_cast<uint32_t>(load(r.slot.data(), 4, big_));
    if (version_ == 4 && r.slot.size() >= 6)
      p.segment = static_cast<uint16_t>(load(r.slot.data() + 4, 2, true));
    return p;
  }

  // The members of a free chain from head, bounded by the records the area can hold.
  bool chain(Pos head, std::vector<Pos>* out) {
    out->clear();
    std::set<Pos> seen;
    for (Pos p = head; !p.null();) {
      if (!seen.insert(p).second) return false;
      Record r;
      if (!record_at(p, &r)) return false;
      out->push_back(p);
      p = chain_link(r);
    }
    return true;
  }

 private:
  void parse_dictionary() {
    Dictionary& d = dict_;
    uint32_t size = static_cast<uint32_t>(field(60));
    if (seg0_.size() < 512 + static_cast<size_t>(size) || size < 12) return;
    const uint8_t* base = seg0_.data() + 512;
    const uint8_t* p = base;
    const uint8_t* limit = base + size - 4;
    d.magic = static_cast<uint32_t>(load(p, 4, big_));
    d.key_count = static_cast<int>(load(p + 4, 2, big_));
    d.flags = static_cast<int>(load(p + 6, 2, big_));
    p += 8;
    for (int k = 0; k < d.key_count; k++) {
      if (limit - p < 2) return;
      KeyDef key;
      int n = p[0];
      key.duplicates = p[1] != 0;
      p += 2;
      if (limit - p < 6 * n) return;
      for (int s = 0; s < n; s++) {
        uint32_t size_s = static_cast<uint32_t>(load(p, 2, big_));
        uint32_t offset_s = static_cast<uint32_t>(load(p + 2, 4, big_));
        key.segments.push_back({size_s, offset_s});
        key.length += static_cast<int>(size_s);
        p += 6;
      }
      key.entry = key.length + (key.duplicates ? 4 : 0);
      d.keys.push_back(key);
    }
    for (int k = 0; k < d.key_count; k++) {
      if (limit - p < 5) return;
      d.root.push_back(static_cast<uint32_t>(load(p, 4, big_)));
      d.height.push_back(p[4]);
      p += 5;
    }
    if (d.flags & 1) {
      if (limit - p < 256) return;
      d.collating.assign(p, p + 256);
      p += 256;
    }
    d.crc_computed = crc32(base, static_cast<size_t>(p - base));
    d.crc_stored = static_cast<uint32_t>(load(p, 4, big_));
    d.bytes = static_cast<size_t>(p - base) + 4;
    d.sound = true;
  }

  std::string name_;
  std::vector<uint8_t> seg0_;
  std::map<int, std::vector<uint8_t>> data_;
  std::map<int, std::vector<uint8_t>> index_;
  int version_ = 0;
  bool big_ = true;
  int block_ = 0;
  int hsize_ = 0;
  uint32_t segment_size_ = 0;
  Dictionary dict_;
};

// The key bytes of record for key, as its index entry holds them (without the serial).
inline std::vector<uint8_t> key_bytes(const KeyDef& key, const std::vector<uint8_t>& record,
                                      const std::vector<uint8_t>& collating) {
  std::vector<uint8_t> out;
  for (auto [size, offset] : key.segments) {
    for (uint32_t i = 0; i < size; i++) {
      size_t at = static_cast<size_t>(offset) + i;
      uint8_t b = at < record.size() ? record[at] : 0;
      out.push_back(collating.empty() ? b : collating[b]);
    }
  }
  return out;
}

}  // namespace raw

#endif  // KELVRA_TEST_FORMAT_H
