// The bytes the library writes, read back with kelvra/test_format.h (written from
// docs/file-format.md) rather than the library's own decoders.
#include <cstring>

#include "kelvra/test_support.h"

using namespace std::string_literals;

struct Case {
  int version;
  bool packed;  // compressed, scrambled and collated
  int blocking, compression;
};

class LayoutTest : public KelvraTest, public ::testing::WithParamInterface<Case> {};

// The records of the scenario: some that compression shortens (A, B, D, F), and many that it
// cannot, with unique keys.
const std::string kA = "ALPHA001" + std::string(32, ' '), kF(10, ' '), kE = "ECHO5a5bwxyzEe";
const std::string kB = "BRAVO002\xFE" + std::string(20, '0') + std::string(11, '\0');
const std::string kC = "CHARL003abcdefghijklmnopqrstuv",
                  kD = "DELTA004" + std::string(50, 'x') + "zz";
static std::string many(int i) {
  const char d[] = {char('a' + i / 1000 % 10), char('A' + i / 100 % 10), char('k' + i / 10 % 10),
                    char('K' + i % 10)};
  return "B" + std::string(d, 4) + "-x!pq:uU" + std::string(d, 4) + "vw,.yzYZ1a2b3c4d5e6f7gh";
}

// The stored form of record r, with the compression codes of version v when packed.
static std::string stored_form(int v, bool packed, const std::string& r) {
  if (packed && r == kA) return v == 2 ? "ALPHA001\xFE\x20\x20" : "ALPHA001\xFD\x20";
  if (packed && r == kB)
    return v == 2 ? "BRAVO002\xFE\xFE\x01\xFE\x30\x14\xFE\0\x0B"s
                  : "BRAVO002\xFA\xFE\xFC\x14\xFB\x0B";
  if (packed && r == kD) return "DELTA004\xFE\x78\x32zz";
  if (packed && r == kF) return v == 2 ? "\xFE\x20\x0A" : "\xFD\x0A";
  return r;
}

// Sessions of writes, deletes, a rewrite that moves and a reuse, over many records and
// segments. After each: the header fields, the dictionary, the segment headers, every record
// header and stored form, the free chains, every key's entries, the node counts; the stamp
// skips 0 when it wraps; freed nodes are taken again first.
TEST_P(LayoutTest, BytesOnDiskFollowTheFormat) {
  const Case& c = GetParam();
  const int v = c.version, hsize = v == 2 ? 9 : v == 5 ? 15 : c.packed ? 8 : 4;
  uint8_t table[256];
  for (int i = 0; i < 256; i++) table[i] = uint8_t(255 - i);
  model_.table = c.packed ? table : nullptr;
  rt_config_set("K_VERSION", 0, v);
  rt_config_set("K_SEGMENT_SIZE", 0, 8192);
  const std::string comment = "layout of version " + std::to_string(v);
  char storage[32];
  snprintf(storage, sizeof storage, "%d,3,5,%d,%d", c.blocking, c.compression, c.packed);
  ASSERT_NE(k5_make(name_.c_str(), comment.c_str(), storage, "1000,10,3", kKeys, model_.table), 0);
  for (int field = 0; field < KF_FIELD_LIMIT; field++)  // the offsets the program reads with
    EXPECT_EQ(K_offsets[v][field],
              raw::header_field(v, field) ? raw::header_field(v, field)->offset : -1)
        << field;
  const uint32_t dict = 8 + 30 + 15 + (c.packed ? 256 : 0) + 4, b = uint32_t(c.blocking) * 512;
  const uint32_t first = v >= 4 ? 512 + dict : (512 + dict + b - 1) / b * b;
  const uint32_t room = v == 5 ? 0 : v == 4 ? 6 : 4;  // data bytes that hold a chain link
  ASSERT_TRUE(raw::patch(name_, uint64_t(raw::header_field(v, 24)->offset), {255, 255, 255, 255}));
  ASSERT_TRUE(v < 4 || raw::patch(raw::index_path(name_, 0), 16, {255, 255, 255, 255}));

  std::map<std::string, raw::Record> slot;  // each primary key's record when last seen
  std::vector<raw::Record> recs;
  auto check = [&](uint32_t stamp, int users) {
    raw::File f(name_);
    const Bytes& h = f.head;
    const uint32_t magic = v == 5 ? 0x10121419 : 0x10121416;
    EXPECT_TRUE(f.version == v && h[4] * 256 + h[5] == (v == 2 ? 512 : v));
    EXPECT_EQ(raw::load(h.data(), 4, v != 2), magic);
    char want[256];
    snprintf(want, sizeof want,
             "2:%d 7:512 11:%u 12:0 24:%u 27:0 28:%d 31:%d 32:%d 39:%d 40:%lld 45:1000 53:10 54:3 "
             "55:%d 56:%d 57:3 58:5 59:%d 60:%u 67:%d",
             c.blocking, first, stamp, users, hsize, v == 5 && c.packed, v >= 4 ? 8192 : 0,
             (long long)(v <= 3 ? raw::file_size(name_) : 0), c.packed ? c.compression : 0,
             c.packed, c.packed, dict, v == 2 ? 2 : 0);
    std::string got;
    for (int field :
         {2, 7, 11, 12, 24, 27, 28, 31, 32, 39, 40, 45, 53, 54, 55, 56, 57, 58, 59, 60, 67})
      got += std::to_string(field) + ":" + std::to_string(f.field(field)) + (field < 67 ? " " : "");
    EXPECT_EQ(got, want) << "header fields";
    const size_t at = size_t(raw::header_field(v, 51)->offset);
    EXPECT_EQ(std::string(&h[at], &h[at + 31]), comment + std::string(31 - comment.size(), '\0'));
    EXPECT_TRUE(f.dict_sound && f.dict_bytes == dict && f.entry_bytes.size() == 3);
    EXPECT_EQ(f.collating, c.packed ? Bytes(table, table + 256) : Bytes());
    // Every further segment: its size, and a header of magic, version, code, number, then the
    // stamp where fields 75 and 80 put it (an index segment's block size before it).
    for (int code = 255; v >= 4 && code >= 254; code--) {
      uint64_t nodes = f.field(61);
      uint64_t high = code == 255 ? f.field(6) : nodes ? (nodes - 1) / f.per_segment : 0;
      for (int n = code == 255 ? 1 : 0; n <= int(high + 1); n++) {
        std::string p = code == 255 ? raw::data_path(name_, n) : raw::index_path(name_, n);
        Bytes x = raw::slurp(p);
        uint64_t words = code == 255 ? uint64_t(stamp) << 32 : uint64_t(b) << 32 | stamp;
        EXPECT_TRUE(n > int(high) ? !raw::exists(p)
                                  : x.size() >= 512 && x.size() <= f.segment_size &&
                                        raw::load(&x[0], 4, true) == magic &&
                                        raw::load(&x[4], 4, true) == (uint64_t(v) << 16 | code) &&
                                        raw::load(&x[8], 4, true) == uint64_t(n) &&
                                        raw::load(&x[12], 8, true) == words &&
                                        std::count(&x[20], &x[512], 0) == 492)
            << p;
      }
    }
    // Every record: a live one in the model's stored form, or a freed one; at the change to
    // a further data segment, the next one would not have fit and an empty header is left.
    std::vector<raw::Pos> ends;
    recs = f.walk(&ends);
    EXPECT_TRUE(f.address(5) == ends.back()) << "end of data";
    EXPECT_TRUE(recs.empty() ? f.address(5) == raw::Pos(first) : f.address(18) == recs.back().pos);
    std::map<Bytes, std::string> by_form;  // stored form: primary key
    for (auto& [pk, e] : model_.live) {
      std::string form = stored_form(v, c.packed, e.first);
      by_form[Bytes(form.begin(), form.end())] = pk;
    }
    std::map<std::string, raw::Pos> pos;
    for (size_t i = 0; i < recs.size(); i++) {
      const raw::Record& r = recs[i];
      raw::Pos end = i ? recs[i - 1].after : raw::Pos();
      if (i && r.pos.segment != end.segment) {
        EXPECT_TRUE(end == ends[end.segment] && r.pos == raw::Pos(512, uint16_t(end.segment + 1)));
        EXPECT_GT(end.offset + hsize + r.h.stored, f.segment_size);
        for (uint32_t j = end.offset;
             end.offset + hsize <= f.segment_size && j < end.offset + hsize; j++)
          EXPECT_EQ(f.data(end.segment).at(j), 0) << "the empty header that ends a segment";
      }
      auto it = by_form.find(f.stored(r));
      if (r.h.deleted || r.h.abandoned || it == by_form.end()) continue;
      pos[it->second] = r.pos;
      slot[it->second] = r;
      bool plain = it->first.size() == model_.live[it->second].first.size();
      EXPECT_EQ(r.h.flags, v == 2 ? (plain ? 0x7E : 0) : v == 5 ? plain * 4 : 0);
      EXPECT_TRUE(r.h.plain == plain && r.h.stored >= std::max<uint32_t>(r.h.length, room));
    }
    EXPECT_EQ(pos.size(), model_.live.size()) << "live records found in their stored form";
    EXPECT_EQ(f.field(20), model_.live.size());
    // Every key's entries in key order, each at the record it names; the node counts.
    uint64_t space = 0, nodes = 0, key_space;
    std::vector<uint32_t> tree_nodes;
    for (int k = 0; k < 3; k++) {
      std::vector<raw::Entry> entries;
      ASSERT_TRUE(f.tree(k, &entries, &tree_nodes, &key_space));
      space += key_space;
      nodes += tree_nodes.size();
      std::vector<std::string> order = model_.order(k);
      ASSERT_EQ(entries.size(), order.size());
      for (size_t i = 0; i < entries.size(); i++) {
        std::string key(entries[i].key.begin(), entries[i].key.end()),
            want = model_.key(order[i], k);
        EXPECT_TRUE(key.substr(0, want.size()) == want &&
                    (i == 0 || entries[i - 1].key < entries[i].key) &&
                    entries[i].address == pos[order[i].substr(0, 8)])
            << "key " << k << " entry " << i;
        EXPECT_TRUE(k != 1 || f.field(23) > raw::load(&entries[i].key[7], 4, true)) << "serial";
      }
    }
    EXPECT_TRUE(f.field(30) == f.field(64) && f.field(26) == space) << "free nodes, node space";
    EXPECT_TRUE(f.field(61) == nodes + f.field(64) && f.field(29) == nodes + f.field(64));
  };

  ASSERT_NO_FATAL_FAILURE(check(0xFFFFFFFF, 0));
  KFile* k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(k, nullptr);
  check(1, 1);  // the user count and the new stamp are on disk while the file is open
  for (int i = -5; i < 400; i++) {
    const std::string r =
        i < 0 ? std::vector<std::string>{kA, kB, kC, kD, kF}[size_t(i + 5)] : many(i);
    ASSERT_NE(k5_write(k, r.data(), uint32_t(r.size())), 0) << error();
    model_.put(r);
  }
  ASSERT_NE(k5_close(k), 0);
  ASSERT_NO_FATAL_FAILURE(check(1, 0));
  std::map<std::string, raw::Record> was = slot;
  const raw::Pos end1 = raw::File(name_).address(5);

  // Delete B, rewrite C longer than its slot, write E into the head of the deleted chain,
  // delete D, A and most of the many, in key order: their leaves empty.
  std::string long_c = "CHARL003";
  for (int i = 0; long_c.size() < 700; i++) long_c.push_back(char('!' + (i * 13) % 90));
  ASSERT_NE(k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0"), nullptr);
  EXPECT_TRUE(k5_delete(k, kB.data()) && k5_rewrite(k, long_c.data(), 700));
  EXPECT_TRUE(k5_write(k, kE.data(), uint32_t(kE.size())) && k5_delete(k, kD.data()));
  std::vector<raw::Pos> deleted = {was["ALPHA001"].pos, was["DELTA004"].pos}, chain;
  if (v == 3 || v == 4) deleted.push_back(was["BRAVO002"].pos);
  for (const std::string& r : {kB, kD}) model_.live.erase(r.substr(0, 8));
  for (int i = -1; i < 300; i++) {
    const std::string r = i < 0 ? kA : many(i);
    EXPECT_NE(k5_delete(k, r.data()), 0) << error() << "/" << error2();
    model_.live.erase(r.substr(0, 8));
    if (i >= 0) deleted.insert(deleted.begin(), was[r.substr(0, 8)].pos);
  }
  ASSERT_NE(k5_close(k), 0);
  model_.put(long_c);
  model_.put(kE);
  ASSERT_NO_FATAL_FAILURE(check(2, 0));
  raw::File f(name_);
  const raw::Record& moved = recs.back();  // appended, in versions 2 and 3 across a block link
  EXPECT_TRUE(slot["CHARL003"].pos == moved.pos && end1 <= moved.pos) << "the moved one appended";
  EXPECT_TRUE(v > 3 || moved.at.back() - moved.at.front() >= moved.at.size());
  const raw::Record& reused = was[v == 3 || v == 4 ? "CHARL003" : "BRAVO002"];
  EXPECT_TRUE(slot["ECHO5a5b"].pos == reused.pos && slot["ECHO5a5b"].h.stored == reused.h.stored)
      << "a reused slot keeps its size";
  // Freed slots: marked, the same size, their data kept behind the link bytes; the chains.
  for (const char* pk : {"ALPHA001", "DELTA004", "BRAVO002", "CHARL003"}) {
    const raw::Record& old = was[pk];
    raw::Record r;
    if (old.pos == reused.pos) continue;
    ASSERT_TRUE(f.record_at(old.pos, &r));
    bool abandoned = v == 5 && pk[0] == 'C';
    EXPECT_TRUE(r.h.deleted != abandoned && r.h.abandoned == abandoned) << pk;
    EXPECT_EQ(r.h.flags, v == 2 ? 0x7F : v == 5 ? (1 + abandoned) | (old.h.flags & 4) : 0) << pk;
    EXPECT_TRUE((v != 3 && v != 4) || r.h.length == 0);
    EXPECT_TRUE(r.h.stored == old.h.stored &&
                std::equal(r.slot.begin() + room, r.slot.end(), old.slot.begin() + room))
        << pk;
  }
  EXPECT_TRUE(f.chain(f.address(13), &chain) && chain == deleted) << "last deleted first";
  EXPECT_TRUE(v != 5 || (f.chain(f.address(15), &chain) &&
                         chain == std::vector<raw::Pos>{was["CHARL003"].pos}));
  EXPECT_TRUE(f.field(21) == deleted.size() && f.field(22) == (v == 5) && f.field(66) == (v == 2))
      << "counts of the chains, and of the records freed besides them (version 2)";
  EXPECT_GT(f.field(64), 2u) << "nodes freed";

  // A strict open accepts what the library wrote; the open-file record agrees with the file,
  // which spreads over at least three data and two index segments in versions 4 and 5.
  rt_config_set("K_OPEN_STRICT", 0, 1);
  ASSERT_NE(k = k5_open(name_.c_str(), K_MODE_READ, "0,0,0"), nullptr)
      << error() << "/" << error2();
  EXPECT_TRUE(k->version == v && k->record_header_size == hsize &&
              k->deleted_head == f.address(13).offset && k->encryption == c.packed &&
              k->data_segment_high == int(f.field(6)) &&
              k->index_segment_high == (v < 4 ? -1 : int((f.field(61) - 1) / f.per_segment)));
  EXPECT_TRUE(v < 4 || (f.field(6) >= 2 && f.field(61) > f.per_segment)) << "3 and 2 segments";
  EXPECT_NE(k5_close(k), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, LayoutTest,
                         ::testing::Values(Case{2, false, 1, 0}, Case{2, true, 1, 1},
                                           Case{3, false, 1, 0}, Case{3, true, 1, 1},
                                           Case{4, false, 2, 0}, Case{4, true, 2, 60},
                                           Case{5, false, 4, 0}, Case{5, true, 4, 60}));
