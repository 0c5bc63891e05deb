// The bytes the library writes, read back with the format reference's own tables
// (kelvra/test_format.h) rather than the library's decoders: the header fields the program
// reads, the dictionary, every record header and slot, the free chains, the leaves and the
// segment headers, for each format version, plain and compressed with scrambling.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kelvra/test_format.h"
#include "kelvra/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// The records of the scenario. Their primary key is the first 8 bytes; the second key is
// bytes 10-13 followed by bytes 8-9, with duplicates.
const std::string kA = "ALPHA001" + std::string(32, ' ');
const std::string kB =
    "BRAVO002" + std::string("\xFE") + std::string(20, '0') + std::string(11, '\0');
const std::string kC = "CHARL003abcdefghijklmnopqrstuv";
const std::string kD = "DELTA004" + std::string(50, 'x') + "zz";
const std::string kF = std::string(10, ' ');
const std::string kE = "ECHO5a5bwxyz";

// 700 bytes that no run code shortens.
std::string long_c() {
  std::string s = "CHARL003";
  for (int i = 0; s.size() < 700; i++) s.push_back(static_cast<char>('!' + (i * 13) % 90));
  return s;
}

// The stored form of the compressible records, as the compression codes give it.
Bytes packed(int version, const std::string& record) {
  bool v2 = version == 2;
  if (record == kA) {
    Bytes b = bytes("ALPHA001");
    Bytes tail = v2 ? Bytes{0xFE, 0x20, 0x20} : Bytes{0xFD, 0x20};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  }
  if (record == kB) {
    Bytes b = bytes("BRAVO002");
    Bytes tail = v2 ? Bytes{0xFE, 0xFE, 0x01, 0xFE, '0', 20, 0xFE, 0x00, 11}
                    : Bytes{0xFA, 0xFE, 0xFC, 20, 0xFB, 11};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  }
  if (record == kD) {
    Bytes b = bytes("DELTA004");
    Bytes tail = {0xFE, 'x', 50, 'z', 'z'};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  }
  if (record == kF) return v2 ? Bytes{0xFE, ' ', 10} : Bytes{0xFD, 10};
  return {};
}

struct Case {
  int version;
  bool packed;  // compressed, scrambled and collated
  int blocking;
  int compression;
  const char* name;
};

// Data bytes that hold a deleted record's link.
uint32_t link_room(int version) {
  return version == 5 ? 0 : (version == 4 ? 6 : 4);
}

class LayoutTest : public KelvraTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    for (int c = 0; c < 256; c++) table_[c] = static_cast<uint8_t>(255 - c);
    name_ = path("layout");
    const Case& c = GetParam();
    hsize_ = c.version == 2 ? 9 : (c.version == 5 ? 15 : (c.packed ? 8 : 4));
    comment_ = "layout v" + std::to_string(c.version) + (c.packed ? " packed" : " plain");
  }

  Bytes collating() const { return GetParam().packed ? Bytes(table_, table_ + 256) : Bytes(); }

  uint32_t dictionary_size() const { return 8 + 8 + 14 + 10 + (GetParam().packed ? 256 : 0) + 4; }

  uint32_t first_record() const {
    uint32_t start = 512 + dictionary_size();
    if (GetParam().version >= 4) return start;
    uint32_t b = static_cast<uint32_t>(GetParam().blocking) * 512;
    return (start + b - 1) / b * b;
  }

  // Header fields that hold what the make was given, and zero in every byte no field names.
  void check_fixed_fields(raw::File& f) {
    const Case& c = GetParam();
    const Bytes& h = f.header_bytes();
    ASSERT_TRUE(f.valid());
    ASSERT_EQ(f.version(), c.version);
    uint32_t magic = static_cast<uint32_t>(raw::load(h.data(), 4, c.version != 2));
    EXPECT_EQ(magic, c.version == 5 ? 0x10121419u : 0x10121416u);
    if (c.version == 2) {
      EXPECT_EQ(h[4], 2);
      EXPECT_EQ(h[5], 0);
    } else {
      EXPECT_EQ(h[4], 0);
      EXPECT_EQ(h[5], c.version);
    }
    EXPECT_EQ(f.field(2), static_cast<uint64_t>(c.blocking));
    EXPECT_EQ(f.field(7), 512u);
    EXPECT_EQ(f.field(11), first_record());
    EXPECT_EQ(f.field(31), static_cast<uint64_t>(hsize_));
    if (c.version == 5) {
      EXPECT_EQ(f.field(32), c.packed ? 1u : 0u);
    }
    if (c.version >= 4) {
      EXPECT_EQ(f.field(39), 65536u);
    }
    EXPECT_EQ(f.field(45), 1000u);
    EXPECT_EQ(f.field(53), 10u);
    EXPECT_EQ(f.field(54), 2u);
    EXPECT_EQ(f.field(55), static_cast<uint64_t>(c.packed ? c.compression : 0));
    EXPECT_EQ(f.field(56), c.packed ? 1u : 0u);
    EXPECT_EQ(f.field(57), 3u);
    EXPECT_EQ(f.field(58), 5u);
    EXPECT_EQ(f.field(59), c.packed ? 1u : 0u);
    EXPECT_EQ(f.field(60), dictionary_size());
    if (c.version == 2) {
      EXPECT_EQ(f.field(67), 2u);  // variable length: 10 to 1000
    }
    // The comment: its characters, zero padded, a zero byte at the end.
    const raw::FieldRow* cm = raw::header_field(c.version, 51);
    ASSERT_NE(cm, nullptr);
    for (int i = 0; i < 31; i++) {
      uint8_t want = i < static_cast<int>(comment_.size()) ? static_cast<uint8_t>(comment_[i]) : 0;
      EXPECT_EQ(h[static_cast<size_t>(cm->offset + i)], want) << "comment byte " << i;
    }
    std::vector<bool> named(512, false);
    for (int i = 0; i < 4; i++) named[static_cast<size_t>(i)] = true;  // magic
    for (const raw::FieldRow& r : raw::header_layout(c.version)) {
      for (int i = 0; i < r.width; i++) named[static_cast<size_t>(r.offset + i)] = true;
    }
    for (size_t i = 0; i < 512; i++) {
      if (!named[i]) {
        EXPECT_EQ(h[i], 0) << "unnamed header byte " << i;
      }
    }
    // The dictionary in the file's byte order, with its checksum.
    const raw::Dictionary& d = f.dictionary();
    ASSERT_TRUE(d.sound);
    EXPECT_EQ(d.magic, 0x4B444943u);
    EXPECT_EQ(d.bytes, dictionary_size());
    EXPECT_EQ(d.crc_stored, d.crc_computed);
    ASSERT_EQ(d.key_count, 2);
    EXPECT_FALSE(d.keys[0].duplicates);
    EXPECT_TRUE(d.keys[1].duplicates);
    EXPECT_EQ(d.keys[0].segments, (std::vector<std::pair<uint32_t, uint32_t>>{{8, 0}}));
    EXPECT_EQ(d.keys[1].segments, (std::vector<std::pair<uint32_t, uint32_t>>{{4, 10}, {2, 8}}));
    EXPECT_EQ(d.collating, collating());
  }

  // Fields that every state of the file shares between opens.
  void check_closed(raw::File& f, uint32_t stamp) {
    EXPECT_EQ(f.field(24), stamp);
    EXPECT_EQ(f.field(28), 0u) << "user count after close";
    EXPECT_EQ(f.field(27), 0u);
    const Case& c = GetParam();
    if (c.version <= 3) {
      EXPECT_EQ(static_cast<int64_t>(f.field(40)), raw::file_size(name_)) << "blocks in use";
      EXPECT_EQ(f.field(40) % static_cast<uint64_t>(f.block()), 0u);
    } else {
      check_index_header(stamp);
      EXPECT_FALSE(raw::exists(raw::data_path(name_, 1)));
    }
  }

  void check_index_header(uint32_t stamp) {
    Bytes x = raw::slurp(raw::index_path(name_, 0));
    ASSERT_GE(x.size(), 512u);
    int v = GetParam().version;
    EXPECT_EQ(raw::load(x.data(), 4, true), v == 5 ? 0x10121419u : 0x10121416u);
    EXPECT_EQ(raw::load(x.data() + 4, 2, true), static_cast<uint64_t>(v));
    EXPECT_EQ(raw::load(x.data() + 6, 2, true), 254u);
    EXPECT_EQ(raw::load(x.data() + 8, 4, true), 0u);
    EXPECT_EQ(raw::load(x.data() + 12, 4, true), static_cast<uint64_t>(GetParam().blocking) * 512);
    EXPECT_EQ(raw::load(x.data() + 16, 4, true), stamp) << "index segment stamp";
    for (size_t i = 20; i < 512; i++) EXPECT_EQ(x[i], 0) << "index segment header byte " << i;
  }

  // Each key's tree: one leaf holding the live records in key order, node counts and node
  // space as the header gives them.
  void check_trees(raw::File& f, const std::map<std::string, raw::Pos>& live) {
    const raw::Dictionary& d = f.dictionary();
    uint64_t space = 0;
    uint32_t nodes = 0;
    uint64_t max_serial = 0;
    for (int k = 0; k < 2; k++) {
      std::vector<raw::Leaf> leaves;
      std::vector<uint32_t> tree_nodes;
      uint64_t key_space;
      ASSERT_TRUE(f.tree(k, &leaves, &tree_nodes, &key_space)) << "key " << k;
      EXPECT_EQ(d.height[static_cast<size_t>(k)], 1);
      ASSERT_EQ(leaves.size(), 1u);
      EXPECT_EQ(leaves[0].prev, 0u);
      EXPECT_EQ(leaves[0].next, 0u);
      space += key_space;
      nodes += static_cast<uint32_t>(tree_nodes.size());
      const raw::KeyDef& key = d.keys[static_cast<size_t>(k)];
      ASSERT_EQ(leaves[0].entries.size(), live.size());
      std::set<raw::Pos> seen;
      for (size_t i = 0; i < leaves[0].entries.size(); i++) {
        const raw::Entry& e = leaves[0].entries[i];
        if (i > 0) {
          EXPECT_LT(leaves[0].entries[i - 1].key, e.key) << "key order";
        }
        // The address holds the record whose key the entry has.
        raw::Record r;
        ASSERT_TRUE(f.record_at(e.address, &r));
        Bytes content;
        ASSERT_TRUE(f.content(r, &content));
        Bytes want = raw::key_bytes(key, content, d.collating);
        EXPECT_EQ(Bytes(e.key.begin(), e.key.begin() + key.length), want);
        std::string pk(content.begin(), content.begin() + 8);
        ASSERT_EQ(live.count(pk), 1u) << "entry for a record that is not live";
        EXPECT_EQ(live.at(pk), e.address);
        seen.insert(e.address);
        if (key.duplicates) {
          max_serial =
              std::max<uint64_t>(max_serial, raw::load(e.key.data() + key.length, 4, true));
        }
      }
      EXPECT_EQ(seen.size(), live.size());
    }
    EXPECT_EQ(f.field(26), space) << "node space";
    EXPECT_EQ(f.field(61), nodes);
    EXPECT_EQ(f.field(29), nodes);
    EXPECT_EQ(f.field(30), 0u);
    EXPECT_EQ(f.field(64), 0u);
    EXPECT_EQ(f.field(62), 0u);
    EXPECT_GT(f.field(23), max_serial) << "next duplicate serial";
  }

  // A live record in a slot made for it: its header, stored form and seed.
  void check_fresh(raw::File& f, const raw::Record& r, const std::string& record) {
    const Case& c = GetParam();
    SCOPED_TRACE(record.substr(0, 8));
    EXPECT_FALSE(r.h.deleted);
    EXPECT_FALSE(r.h.abandoned);
    Bytes expect_packed = c.packed ? packed(c.version, record) : Bytes();
    bool plain = expect_packed.empty();
    EXPECT_EQ(r.h.plain, plain);
    if (c.version == 2) {
      EXPECT_EQ(r.h.mark, plain ? 0x7E : 0x00);
    }
    uint32_t stored_length =
        plain ? static_cast<uint32_t>(record.size()) : static_cast<uint32_t>(expect_packed.size());
    EXPECT_EQ(r.h.length, stored_length);
    EXPECT_EQ(r.h.stored, std::max(stored_length, link_room(c.version))) << "slot size";
    Bytes stored(r.slot.begin(), r.slot.begin() + std::min<size_t>(r.h.length, r.slot.size()));
    if (c.packed) {
      raw::unscramble(&stored, r.h.seed);
    } else {
      EXPECT_EQ(r.h.seed, 0u);
    }
    EXPECT_EQ(stored, plain ? bytes(record) : expect_packed);
    for (size_t i = r.h.length; i < r.slot.size(); i++) EXPECT_EQ(r.slot[i], 0) << "slack " << i;
    Bytes content;
    ASSERT_TRUE(f.content(r, &content));
    EXPECT_EQ(content, bytes(record));
  }

  KFile* open_for_writing(uint32_t expected_stamp) {
    KFile* k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    EXPECT_NE(k, nullptr) << error() << "/" << error2();
    // Already on disk while the file is open: the raised user count and the new stamp.
    raw::File f(name_);
    EXPECT_EQ(f.field(28), 1u) << "user count while open";
    EXPECT_EQ(f.field(24), expected_stamp);
    if (GetParam().version >= 4) check_index_header(expected_stamp);
    return k;
  }

  uint8_t table_[256];
  std::string name_;
  std::string comment_;
  int hsize_ = 0;
};

TEST_P(LayoutTest, BytesOnDiskFollowTheFormat) {
  const Case& c = GetParam();
  rt_config_set("K_VERSION", 0, c.version);
  rt_config_set("K_SEGMENT_SIZE", 0, 65536);
  char storage[64];
  snprintf(storage, sizeof storage, "%d,3,5,%d,%d", c.blocking, c.packed ? c.compression : 0,
           c.packed ? 1 : 0);
  ASSERT_NE(k5_make(name_.c_str(), comment_.c_str(), storage, "1000,10,2", "1,0,8,0,2,1,4,10,2,8",
                    c.packed ? table_ : nullptr),
            0)
      << error() << "/" << error2();

  // The new file: no records, no nodes, stamp 1.
  {
    raw::File f(name_);
    ASSERT_NO_FATAL_FAILURE(check_fixed_fields(f));
    check_closed(f, 1);
    EXPECT_TRUE((f.end() == raw::Pos{first_record(), 0}));
    EXPECT_TRUE(f.deleted_head().null());
    EXPECT_EQ(f.field(20), 0u);
    EXPECT_EQ(f.field(21), 0u);
    EXPECT_EQ(f.field(26), 0u);
    EXPECT_EQ(f.field(29), 0u);
    EXPECT_EQ(f.field(61), 0u);
    EXPECT_EQ(f.dictionary().root, (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(f.dictionary().height, (std::vector<int>{0, 0}));
    EXPECT_TRUE(f.walk().empty());
  }

  // First session: five records in fresh slots.
  KFile* k = open_for_writing(2);
  ASSERT_NE(k, nullptr);
  const std::vector<std::string> first = {kA, kB, kC, kD, kF};
  for (const std::string& r : first) {
    ASSERT_NE(k5_write(k, r.data(), static_cast<uint32_t>(r.size())), 0) << error();
  }
  ASSERT_NE(k5_close(k), 0);

  std::map<std::string, raw::Record> slot_of;  // by primary key
  raw::Pos end1;
  {
    raw::File f(name_);
    ASSERT_NO_FATAL_FAILURE(check_fixed_fields(f));
    check_closed(f, 2);
    std::vector<raw::Record> recs = f.walk(&end1);
    ASSERT_EQ(recs.size(), first.size());
    EXPECT_TRUE(recs[0].pos == f.first_record());
    std::map<std::string, raw::Pos> live;
    std::vector<uint32_t> seeds;
    for (size_t i = 0; i < recs.size(); i++) {
      check_fresh(f, recs[i], first[i]);
      slot_of[first[i].substr(0, 8)] = recs[i];
      live[first[i].substr(0, 8)] = recs[i].pos;
      seeds.push_back(recs[i].h.seed);
    }
    if (c.packed) {
      std::sort(seeds.begin(), seeds.end());
      EXPECT_NE(seeds.front(), seeds.back()) << "every record gets its own seed";
    }
    EXPECT_TRUE(f.end() == end1) << "end of data";
    EXPECT_TRUE(f.last_record() == recs.back().pos);
    EXPECT_EQ(f.field(20), 5u);
    if (c.version == 2) {
      EXPECT_EQ(f.field(65), 1u) << "height of the tallest tree";
    }
    EXPECT_EQ(f.field(21), 0u);
    EXPECT_TRUE(f.deleted_head().null());
    check_trees(f, live);
  }

  // Second session: a delete, a rewrite that no longer fits, a reuse and two deletes.
  const std::string c2 = long_c();
  k = open_for_writing(3);
  ASSERT_NE(k, nullptr);
  ASSERT_NE(k5_delete(k, kB.data()), 0) << error();
  ASSERT_NE(k5_rewrite(k, c2.data(), static_cast<uint32_t>(c2.size())), 0) << error();
  ASSERT_NE(k5_write(k, kE.data(), static_cast<uint32_t>(kE.size())), 0) << error();
  ASSERT_NE(k5_delete(k, kD.data()), 0) << error();
  ASSERT_NE(k5_delete(k, kA.data()), 0) << error();
  ASSERT_NE(k5_close(k), 0);

  raw::File f(name_);
  ASSERT_NO_FATAL_FAILURE(check_fixed_fields(f));
  check_closed(f, 3);
  raw::Pos end2;
  std::vector<raw::Record> recs = f.walk(&end2);
  ASSERT_EQ(recs.size(), 6u);
  raw::Pos pa = slot_of["ALPHA001"].pos, pb = slot_of["BRAVO002"].pos, pc = slot_of["CHARL003"].pos,
           pd = slot_of["DELTA004"].pos, pf = slot_of[std::string(8, ' ')].pos;
  EXPECT_TRUE(recs[0].pos == pa && recs[1].pos == pb && recs[2].pos == pc && recs[3].pos == pd &&
              recs[4].pos == pf);
  EXPECT_TRUE(recs[5].pos == end1) << "the moved record is appended";
  EXPECT_TRUE(f.last_record() == recs[5].pos);
  EXPECT_TRUE(f.end() == end2);
  check_fresh(f, recs[4], kF);
  check_fresh(f, recs[5], c2);
  if (c.version <= 3) {
    // 700 bytes do not fit the first block: the record runs on in the block its link names.
    EXPECT_GT(recs[5].slot_at.back() - recs[5].slot_at.front(), recs[5].slot.size())
        << "the long record crosses a block link";
  }

  // Where the reused record went: the head of the deleted chain at that time.
  raw::Pos reused = c.version == 3 || c.version == 4 ? pc : pb;
  std::map<std::string, raw::Pos> live = {
      {"ECHO5a5b", reused}, {std::string(8, ' '), pf}, {"CHARL003", recs[5].pos}};
  for (const raw::Record& r : recs) {
    if (!(r.pos == reused)) continue;
    const raw::Record& before = r.pos == pb ? slot_of["BRAVO002"] : slot_of["CHARL003"];
    EXPECT_FALSE(r.h.deleted || r.h.abandoned);
    EXPECT_EQ(r.h.stored, before.h.stored) << "a reused slot keeps its size";
    EXPECT_EQ(r.h.length, kE.size());
    EXPECT_TRUE(r.h.plain);
    Bytes content;
    ASSERT_TRUE(f.content(r, &content));
    EXPECT_EQ(content, bytes(kE));
  }

  // Freed slots keep their data behind the link bytes.
  auto check_freed = [&](const raw::Record& r, const std::string& pk, bool abandoned) {
    SCOPED_TRACE("freed " + pk);
    const raw::Record& before = slot_of[pk];
    EXPECT_EQ(r.h.stored, before.h.stored);
    if (c.version == 5) {
      EXPECT_EQ(r.h.abandoned, abandoned);
      EXPECT_EQ(r.h.deleted, !abandoned);
    } else {
      EXPECT_TRUE(r.h.deleted);
      if (c.version == 2) {
        EXPECT_EQ(r.h.mark, 0x7F);
      }
      if (c.version >= 3) {
        EXPECT_EQ(r.h.length, 0u);
      }
    }
    size_t keep = link_room(c.version);
    ASSERT_EQ(r.slot.size(), before.slot.size());
    EXPECT_TRUE(std::equal(r.slot.begin() + static_cast<long>(keep), r.slot.end(),
                           before.slot.begin() + static_cast<long>(keep)))
        << "data of a freed record";
  };
  check_freed(recs[0], "ALPHA001", false);
  check_freed(recs[3], "DELTA004", false);
  if (c.version == 3 || c.version == 4) {
    check_freed(recs[1], "BRAVO002", false);
  } else {
    check_freed(recs[2], "CHARL003", c.version == 5);
  }

  // The chains: deleted records at the head of the deleted chain in the order of deletion,
  // the moved record's old slot on the abandoned chain (version 5), chained with the deleted
  // ones (versions 3, 4) or only marked (version 2).
  std::vector<raw::Pos> chain;
  ASSERT_TRUE(f.chain(f.deleted_head(), &chain));
  std::vector<raw::Pos> want_deleted = {pa, pd};
  if (c.version == 3 || c.version == 4) want_deleted.push_back(pb);
  EXPECT_EQ(chain.size(), want_deleted.size());
  EXPECT_TRUE(chain == want_deleted) << "deleted chain";
  EXPECT_EQ(f.field(21), want_deleted.size());
  if (c.version == 5) {
    ASSERT_TRUE(f.chain(f.abandoned_head(), &chain));
    EXPECT_TRUE(chain == std::vector<raw::Pos>{pc}) << "abandoned chain";
    EXPECT_EQ(f.field(22), 1u);
  }
  if (c.version == 2) {
    EXPECT_EQ(f.field(66), 1u) << "free records besides the chain";
  }
  EXPECT_EQ(f.field(20), 3u);
  check_trees(f, live);

  // The open-file record agrees with the header.
  KFile* r = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->version, c.version);
  EXPECT_EQ(r->record_header_size, hsize_);
  EXPECT_EQ(r->data_segment_high, 0);
  EXPECT_EQ(r->index_segment_high, c.version >= 4 ? 0 : -1);
  EXPECT_EQ(r->data_segment_size[0], raw::file_size(name_));
  EXPECT_EQ(r->deleted_head, f.deleted_head().offset);
  EXPECT_EQ(r->deleted_head_segment, f.deleted_head().segment);
  EXPECT_EQ(r->abandoned_head, f.abandoned_head().offset);
  EXPECT_EQ(r->min_record_size, 10u);
  EXPECT_EQ(r->max_record_size, 1000u);
  EXPECT_EQ(r->key_count, 2);
  EXPECT_EQ(r->tree_height[0], 1);
  EXPECT_EQ(r->encryption, c.packed ? 1 : 0);
  EXPECT_EQ(r->compression, c.packed ? c.compression : 0);
  EXPECT_EQ(r->collating != nullptr, c.packed);
  if (r->collating) {
    EXPECT_EQ(memcmp(r->collating, table_, 256), 0);
  }
  EXPECT_NE(k5_close(r), 0);
}

// The version stamp skips 0 when it wraps, in the header and in every segment.
TEST_P(LayoutTest, StampSkipsZero) {
  const Case& c = GetParam();
  rt_config_set("K_VERSION", 0, c.version);
  char storage[32];
  snprintf(storage, sizeof storage, "%d,0,0,0,0", c.blocking);
  ASSERT_NE(k5_make(name_.c_str(), "", storage, "20,20,1", "1,0,8,0", nullptr), 0);
  const raw::FieldRow* stamp = raw::header_field(c.version, 24);
  Bytes last(4, 0xFF);
  ASSERT_TRUE(raw::patch(name_, static_cast<uint64_t>(stamp->offset), last));
  if (c.version >= 4) {
    ASSERT_TRUE(raw::patch(raw::index_path(name_, 0), 16, last));
  }
  KFile* k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(k, nullptr) << error() << "/" << error2();
  ASSERT_NE(k5_close(k), 0);
  EXPECT_EQ(raw::File(name_).field(24), 1u);
  if (c.version >= 4) {
    check_index_header(1);
  }
}

// Versions 2 and 3: a record that ends just before a block's link is followed by one that
// starts in the next block, never in the link bytes.
class LayoutFileTest : public KelvraTest {};

TEST_F(LayoutFileTest, RecordsNeverStartInTheLinkBytes) {
  for (int v : {2, 3}) {
    SCOPED_TRACE("version " + std::to_string(v));
    std::string name = path("links" + std::to_string(v));
    rt_config_set("K_VERSION", 0, v);
    ASSERT_NE(k5_make(name.c_str(), "", "1,0,0,0,0", "600,10,1", "1,0,8,0", nullptr), 0);
    int hsize = v == 2 ? 9 : 4;
    KFile* k = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(k, nullptr);
    std::string first = "FIRST001" + std::string(static_cast<size_t>(508 - hsize - 8), 'f');
    std::string second = "SECOND02" + std::string(40, 's');
    ASSERT_NE(k5_write(k, first.data(), static_cast<uint32_t>(first.size())), 0);
    ASSERT_NE(k5_write(k, second.data(), static_cast<uint32_t>(second.size())), 0);
    ASSERT_NE(k5_close(k), 0);
    raw::File f(name);
    std::vector<raw::Record> recs = f.walk();
    ASSERT_EQ(recs.size(), 2u);
    uint32_t start = f.first_record().offset;
    EXPECT_EQ(recs[0].after.offset, start + 508) << "the first record fills its block";
    const std::vector<uint8_t>& seg = f.data_segment(0);
    uint32_t link = static_cast<uint32_t>(raw::load(seg.data() + start + 508, 4, v == 3));
    uint32_t next = v == 2 ? link : link + 1;
    EXPECT_EQ(next % 512, 0u);
    EXPECT_GT(next, start);
    EXPECT_EQ(recs[1].pos.offset, next) << "the second record starts in the linked block";
    EXPECT_EQ(f.last_record().offset, next);
    std::vector<raw::Leaf> leaves;
    std::vector<uint32_t> nodes;
    uint64_t space;
    ASSERT_TRUE(f.tree(0, &leaves, &nodes, &space));
    ASSERT_EQ(leaves.size(), 1u);
    ASSERT_EQ(leaves[0].entries.size(), 2u);
    EXPECT_EQ(leaves[0].entries[1].address.offset, next) << "the index points at the block";
    Bytes content;
    ASSERT_TRUE(f.content(recs[1], &content));
    EXPECT_EQ(content, bytes(second));
  }
}

// Node accounting: freed nodes go on the free list (level 0xFF, linked at bytes 4-7), every
// node made is in a tree or on the list, and new nodes come from the list first.
TEST_P(LayoutTest, FreedNodesAreListedAndTakenFirst) {
  const Case& c = GetParam();
  rt_config_set("K_VERSION", 0, c.version);
  char storage[32];
  snprintf(storage, sizeof storage, "%d,0,0,0,0", c.blocking);
  ASSERT_NE(k5_make(name_.c_str(), "", storage, "40,40,2", "1,0,8,0,1,1,3,8", nullptr), 0);
  auto rec = [](int i) {
    char buf[48];
    snprintf(buf, sizeof buf, "%08d%03d%029d", i, i % 5, i);
    return std::string(buf, 40);
  };
  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    raw::File f(name_);
    uint32_t in_trees = 0;
    uint64_t space = 0;
    for (int k = 0; k < 2; k++) {
      std::vector<raw::Leaf> leaves;
      std::vector<uint32_t> nodes;
      uint64_t key_space;
      EXPECT_TRUE(f.tree(k, &leaves, &nodes, &key_space));
      in_trees += static_cast<uint32_t>(nodes.size());
      space += key_space;
    }
    std::vector<uint32_t> free_nodes;
    EXPECT_TRUE(f.free_nodes(&free_nodes));
    EXPECT_EQ(f.field(64), free_nodes.size());
    EXPECT_EQ(f.field(30), free_nodes.size());
    EXPECT_EQ(f.field(61), in_trees + free_nodes.size()) << "every node accounted for";
    EXPECT_EQ(f.field(26), space) << "node space";
    return std::make_pair(static_cast<uint32_t>(f.field(61)), free_nodes.size());
  };
  KFile* k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(k, nullptr);
  for (int i = 0; i < 400; i++) ASSERT_NE(k5_write(k, rec(i).data(), 40), 0);
  ASSERT_NE(k5_close(k), 0);
  auto [made, listed] = check("filled");
  EXPECT_EQ(listed, 0u);
  k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(k, nullptr);
  for (int i = 0; i < 300; i++) ASSERT_NE(k5_delete(k, rec(i).data()), 0);
  ASSERT_NE(k5_close(k), 0);
  auto [made2, freed] = check("emptied");
  EXPECT_EQ(made2, made);
  EXPECT_GT(freed, 2u);
  // New records need new leaves: they come from the list, so no node is made.
  k = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(k, nullptr);
  for (int i = 1000; i < 1100; i++) ASSERT_NE(k5_write(k, rec(i).data(), 40), 0);
  ASSERT_NE(k5_close(k), 0);
  auto [made3, left] = check("refilled");
  EXPECT_LT(left, freed);
  EXPECT_EQ(made3, made);
}

// The node counts that versions 3 and 4 hold in 16 bits stop at 65535; the 32-bit counts
// keep the number.
TEST_F(LayoutFileTest, SixteenBitNodeCountsSaturate) {
  for (int v : {3, 4}) {
    SCOPED_TRACE("version " + std::to_string(v));
    std::string name = path("counts" + std::to_string(v));
    rt_config_set("K_VERSION", 0, v);
    ASSERT_NE(k5_make(name.c_str(), "", "1,0,0,0,0", "20,20,1", "1,0,8,0", nullptr), 0);
    Bytes n(4);
    raw::store(n.data(), 4, true, 70000);
    ASSERT_TRUE(raw::patch(name, static_cast<uint64_t>(raw::header_field(v, 61)->offset), n));
    KFile* k = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(k, nullptr) << error() << "/" << error2();
    ASSERT_NE(k5_close(k), 0);
    raw::File f(name);
    EXPECT_EQ(f.field(29), 65535u);
    EXPECT_EQ(f.field(61), 70000u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LayoutTest,
    ::testing::Values(Case{2, false, 1, 0, "v2"}, Case{2, true, 1, 1, "v2_packed"},
                      Case{3, false, 1, 0, "v3"}, Case{3, true, 1, 1, "v3_packed"},
                      Case{4, false, 2, 0, "v4"}, Case{4, true, 2, 60, "v4_packed"},
                      Case{5, false, 4, 0, "v5"}, Case{5, true, 4, 60, "v5_packed"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// The offset table the program reads headers with, against the reference's tables: every
// field the reference names sits where it says, and no other field has an offset.
TEST(LayoutOffsets, TableMatchesTheReference) {
  for (int v = 0; v < 6; v++) {
    for (int f = 0; f < KF_FIELD_LIMIT; f++) {
      const raw::FieldRow* row = raw::header_field(v, f);
      int want = row ? row->offset : -1;
      EXPECT_EQ(K_offsets[v][f], want) << "version " << v << " field " << f;
    }
  }
  // The version bytes are found through the version-3 row for every file.
  EXPECT_EQ(K_offsets[3][KF_VERSION], 4);
  EXPECT_EQ(K_offsets[4][KF_VERSION], K_offsets[3][KF_VERSION]);
  EXPECT_EQ(K_offsets[5][KF_VERSION], K_offsets[3][KF_VERSION]);
  EXPECT_EQ(K_offsets[3][KF_V3_END], 64);
  EXPECT_EQ(K_offsets[4][KF_DATA_STAMP], 12);
  EXPECT_EQ(K_offsets[5][KF_INDEX_STAMP], 16);
  EXPECT_EQ(K_offsets[5][KF_NODE_SPACE], 70);
}

}  // namespace
