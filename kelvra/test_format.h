// A reader and patcher of Kelvra files for the tests, written from docs/file-format.md
// alone. It shares no code with the library on purpose: the tests that check the bytes the
// library writes, and those that damage files, must not trust the library's own decoders.
#ifndef KELVRA_TEST_FORMAT_H
#define KELVRA_TEST_FORMAT_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace raw {

using Bytes = std::vector<uint8_t>;

inline uint64_t load(const uint8_t* p, int width, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < width; i++) v = (v << 8) | p[big ? i : width - 1 - i];
  return v;
}
// The width bytes of v, big- or little-endian.
inline Bytes number(int width, bool big, uint64_t v) {
  Bytes b(size_t(width), 0);
  for (int i = 0; i < width; i++, v >>= 8) b[size_t(big ? width - 1 - i : i)] = uint8_t(v);
  return b;
}
inline Bytes slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
// Overwrites bytes of a file in place.
inline bool patch(const std::string& path, uint64_t offset, const Bytes& b) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  return f && f.seekp(long(offset)) && f.write((const char*)b.data(), long(b.size()));
}
inline int64_t file_size(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? int64_t(f.tellg()) : -1;
}
inline const auto exists = [](const std::string& path) { return file_size(path) >= 0; };
// Segment file names: NAME, NAME.d1, ... and NAME.x0, NAME.x1, ...
inline auto data_path = [](std::string s, int n) { return n ? s + ".d" + std::to_string(n) : s; };
inline const auto index_path = [](std::string s, int n) { return s + ".x" + std::to_string(n); };

// One header field: offset and width in bytes. Width 0 marks the fields that hold a number
// instead of a place (the byte counts 44, 46, 52, the stamp positions 75, 80) in `offset`.
struct FieldRow {
  int field, offset, width;
};

// The header tables of docs/file-format.md, read from the document itself: the rows
// "| first-last | field |" and the numbers "field F = N" under each "#### Version V".
inline const std::vector<FieldRow>& header_layout(int version) {
  static std::map<int, std::vector<FieldRow>> rows = [] {
    std::map<int, std::vector<FieldRow>> out;
    std::string here = __FILE__;
    std::ifstream doc(here.substr(0, here.rfind("/kelvra/")) + "/docs/file-format.md");
    int v = 0, a, b, f, n;
    for (std::string line; std::getline(doc, line);) {
      if (line[0] == '#' && sscanf(line.c_str(), "#### Version %d", &v) != 1) v = 0;
      if (n = 0; v && sscanf(line.c_str(), "| %d-%d | %d |%n", &a, &b, &f, &n) == 3 && n)
        out[v].push_back({f, a, b - a + 1});
      for (size_t p = 0; v && (p = line.find("field ", p)) != std::string::npos; p++)
        if (sscanf(line.c_str() + p, "field %d = %d", &f, &a) == 2) out[v].push_back({f, a, 0});
    }
    return out;
  }();
  return rows[version];
}

inline const FieldRow* header_field(int version, int field) {
  for (const FieldRow& r : header_layout(version)) {
    if (r.field == field) return &r;
  }
  return nullptr;
}

// A position in the record area: offset and data segment.
struct Pos {
  Pos(uint32_t offset = 0, uint16_t segment = 0) : segment(segment), offset(offset) {}
  uint16_t segment;  // first, for the order of positions
  uint32_t offset;
  auto operator<=>(const Pos&) const = default;
};

// A record header of any version, decoded.
struct RecHeader {
  uint32_t stored = 0, length = 0, seed = 0;
  Pos link;           // next member of a free chain (version 5)
  uint8_t flags = 0;  // byte 8 of versions 2 and 5
  bool deleted = false, abandoned = false, plain = false;
};

inline RecHeader decode_header(int v, int hsize, const uint8_t* p) {
  const bool big = v != 2, wide = v == 5, v34 = v == 3 || v == 4;
  RecHeader h;
  h.stored = uint32_t(load(p, wide ? 4 : 2, big));
  uint32_t w = uint32_t(load(p + (wide ? 4 : 2), wide ? 4 : 2, big));
  h.length = v34 ? w & 0x7FFF : w;
  h.seed = hsize >= 8 ? uint32_t(load(p + (wide ? 9 : 4), 4, big)) : 0;
  h.link = {h.seed, uint16_t(wide ? load(p + 13, 2, true) : 0)};
  h.flags = v34 ? 0 : p[8];
  h.deleted = v34 ? h.length == 0 : wide ? p[8] & 1 : p[8] == 0x7F;
  h.abandoned = wide && (p[8] & 2);
  h.plain = v34 ? w >> 15 : wide ? (p[8] & 4) != 0 : p[8] == 0x7E;
  return h;
}

// A record as found in the record area: where each of its bytes (header, then slot) is.
struct Record {
  Pos pos, after;  // where its header starts, where the next one would
  RecHeader h;
  std::vector<uint32_t> at;
  Bytes slot;
};

// An entry of a leaf: its entry key (the key bytes, then a serial for duplicates), the
// record address, the node and the place in it.
struct Entry {
  Bytes key;
  Pos address;
  uint32_t node = 0;
  int slot = 0;
};

// A Kelvra file, read from disk at construction.
class File {
 public:
  explicit File(std::string name) : name(std::move(name)), head(slurp(this->name)) {
    if (head.size() < 512) return;
    if (load(&head[0], 4, false) == 0x10121416 && load(&head[4], 2, false) == 2) version = 2;
    if (head[4] == 0 && head[5] >= 3 && head[5] <= 5) version = head[5];
    big = version != 2;
    block = int(field(2)) * 512;
    hsize = version == 2 ? 9 : int(field(31));
    segment_size = uint32_t(field(39));
    per_segment = block && segment_size > 512 ? (segment_size - 512) / uint32_t(block) : 0;
    if (version) parse_dictionary();
  }

  // A header field by the format tables; 0 when the version has none.
  uint64_t field(int f) const {
    const FieldRow* r = header_field(version, f);
    return r && r->width && r->width <= 8 ? load(&head[size_t(r->offset)], r->width, big) : 0;
  }
  // A position: offset field f and, in versions 4 and 5, segment field f + 1.
  Pos address(int f) const {
    return {uint32_t(field(f)), uint16_t(version >= 4 ? field(f + 1) : 0)};
  }

  const Bytes& file(const std::string& path) {  // a segment file, read once
    if (!files_.count(path)) files_[path] = path == name ? head : slurp(path);
    return files_[path];
  }
  const Bytes& data(int n) { return file(data_path(name, n)); }

  // Offsets of the record-area bytes of a data segment in order. In versions 2 and 3 the
  // blocks are followed through their links, whose 4 bytes are left out.
  const std::vector<uint32_t>& area(int s) {
    std::vector<uint32_t>& a = areas_[s];
    const Bytes& d = data(s);
    const uint32_t start = s ? 512 : uint32_t(field(11)), b = uint32_t(block);
    if (!a.empty() || !b) return a;
    for (uint32_t o = start; version >= 4 && o < d.size() && o < segment_size; o++) a.push_back(o);
    for (uint32_t blk = start - start % b; version <= 3 && blk % b == 0 && blk + b <= d.size();) {
      for (uint32_t o = std::max(blk, start); o < blk + b - 4; o++) a.push_back(o);
      uint32_t link = uint32_t(load(&d[blk + b - 4], 4, big));
      if (link == 0 || a.size() > d.size()) break;  // the end, or a loop
      blk = version == 2 ? link : link + 1;
    }
    return a;
  }

  // The record whose header is byte i of segment s's area; false when it is cut off.
  bool record_in(int s, size_t i, Record* r) {
    const std::vector<uint32_t>& a = area(s);
    size_t end = i + size_t(hsize);
    if (end > a.size()) return false;
    Bytes hb;
    for (size_t j = i; j < end; j++) hb.push_back(data(s)[a[j]]);
    r->h = decode_header(version, hsize, hb.data());
    if ((end += r->h.stored) > a.size()) return false;
    r->pos = {a[i], uint16_t(s)};
    r->after = {end < a.size() ? a[end] : a.back() + 1, uint16_t(s)};
    r->at.assign(&a[i], &a[end - 1] + 1);
    r->slot.clear();
    for (size_t j = i + size_t(hsize); j < end; j++) r->slot.push_back(data(s)[a[j]]);
    return true;
  }
  bool record_at(Pos p, Record* r) {
    const std::vector<uint32_t>& a = area(p.segment);
    auto it = std::find(a.begin(), a.end(), p.offset);
    return it != a.end() && record_in(p.segment, size_t(it - a.begin()), r);
  }

  // Every record in file order; ends receives where each data segment's records end.
  std::vector<Record> walk(std::vector<Pos>* ends = nullptr) {
    std::vector<Record> out;
    for (int s = 0; s <= (version >= 4 ? int(field(6)) : 0); s++) {
      Record r;
      Pos end = s ? Pos(512, uint16_t(s)) : address(11);
      for (size_t i = 0; record_in(s, i, &r) && (r.h.stored || (version >= 4 && r.h.length));) {
        out.push_back(r);
        end = r.after;
        i += size_t(hsize) + r.h.stored;
      }
      if (ends) ends->push_back(end);
    }
    return out;
  }

  // A live record's bytes as stored, unscrambled with its seed.
  Bytes stored(const Record& r) {
    Bytes out(r.slot.begin(), r.slot.begin() + std::min<long>(r.h.length, long(r.slot.size())));
    for (size_t i = 0; field(56) && i < out.size(); i++) out[i] -= uint8_t(r.h.seed + 7 * i);
    return out;
  }

  // Node n's bytes (empty when its file ends first), and where it is.
  Bytes node(uint32_t n, std::string* path = nullptr, uint64_t* offset = nullptr) {
    std::string p =
        version <= 3 ? name : index_path(name, per_segment ? int((n - 1) / per_segment) : 0);
    uint64_t off = version <= 3
                       ? uint64_t(n) * uint32_t(block)
                       : 512 + uint64_t(per_segment ? (n - 1) % per_segment : 0) * uint32_t(block);
    if (path) *path = p, *offset = off;
    const Bytes& f = file(p);
    return !n || !block || off + uint32_t(block) > f.size() ? Bytes()
                                                            : Bytes(&f[off], &f[off] + block);
  }
  int node_header() const { return version == 2 ? 2 : 3; }
  int address_bytes() const { return version >= 4 ? 6 : 4; }

  // Key k's tree from its root, level by level: its leaves' entries in order, its nodes and
  // the bytes in use behind their headers. False when a node is missing, of the wrong
  // level, met twice or too full.
  bool tree(int k, std::vector<Entry>* entries, std::vector<uint32_t>* nodes, uint64_t* space) {
    const int entry = entry_bytes[size_t(k)];
    entries->clear();
    nodes->clear();
    *space = 0;
    std::vector<uint32_t> level = {root[size_t(k)]};
    if (level[0] == 0) return height[size_t(k)] == 0;
    for (int l = height[size_t(k)] - 1; l >= 0; l--) {
      std::vector<uint32_t> below;
      for (uint32_t n : level) {
        Bytes b = node(n);
        if (b.empty() || b[0] != l || std::count(nodes->begin(), nodes->end(), n)) return false;
        nodes->push_back(n);
        int count = version == 2 ? b[1] : int(load(&b[1], 2, true)), head = l ? 4 : 8;
        int stride = entry + (l ? 4 : address_bytes());
        if (node_header() + head + count * stride > block) return false;
        *space += uint64_t(head + count * stride);
        const uint8_t* p = &b[size_t(node_header())];
        if (l) below.push_back(uint32_t(load(p, 4, big)));
        for (int i = 0; i < count; i++) {
          const uint8_t* e = p + head + i * stride;
          Pos a{uint32_t(load(e + entry, 4, big)),
                uint16_t(!l && version >= 4 ? load(e + entry + 4, 2, true) : 0)};
          if (l) below.push_back(a.offset);
          if (!l) entries->push_back({Bytes(e, e + entry), a, n, i});
        }
      }
      level = below;
    }
    return true;
  }

  // The members of a free chain from head; false when it loops or leaves the area.
  bool chain(Pos head, std::vector<Pos>* out) {
    out->clear();
    for (Pos p = head; p != Pos();) {
      Record r;
      if (std::count(out->begin(), out->end(), p) || !record_at(p, &r)) return false;
      if (r.slot.size() < (version == 5 ? 0u : version == 4 ? 6u : 4u)) return false;
      out->push_back(p);
      p = version == 5 ? r.h.link
                       : Pos(uint32_t(load(r.slot.data(), 4, big)),
                             version == 4 ? uint16_t(load(&r.slot[4], 2, true)) : 0);
    }
    return true;
  }

  std::string name;
  Bytes head;
  int version = 0, block = 0, hsize = 0;
  bool big = true;
  uint32_t segment_size = 0, per_segment = 0;
  // The dictionary: sound when parsed whole, to its checksum.
  bool dict_sound = false;
  size_t dict_bytes = 0;
  std::vector<int> entry_bytes;  // of each key's entry keys: its bytes, and a serial for duplicates
  std::vector<uint32_t> root;
  std::vector<int> height;
  Bytes collating;  // empty when none

 private:
  void parse_dictionary() {
    const size_t end = 512 + size_t(field(60));
    size_t at = 512;
    bool fits = end <= head.size();
    auto take = [&](int w) {
      fits = fits && (at += size_t(w)) + 4 <= end;
      return fits ? load(&head[at - size_t(w)], w, big) : 0;
    };
    fits = fits && take(4) == 0x4B444943;
    const size_t count = size_t(take(2)), flags = size_t(take(2));
    for (size_t k = 0; k < count && fits; k++) {
      const int n = int(take(1)), duplicates = take(1) == 1;
      entry_bytes.push_back(4 * duplicates);
      for (int s = 0; s < n && fits; s++)
        entry_bytes.back() += int(take(2)), take(4);  // size, offset
    }
    for (size_t k = 0; k < count && fits; k++)
      root.push_back(uint32_t(take(4))), height.push_back(int(take(1)));
    for (int c = 0; c < 256 && (flags & 1); c++) collating.push_back(uint8_t(take(1)));
    dict_bytes = at + 4 - 512;
    dict_sound = fits && at + 4 == end;
  }

  std::map<std::string, Bytes> files_;
  std::map<int, std::vector<uint32_t>> areas_;
};

}  // namespace raw

#endif  // KELVRA_TEST_FORMAT_H
