// Damaged files: cut segments, flipped bytes in nodes and record headers, looping chains,
// missing segments, foreign version stamps, broken dictionaries, foreign and random files.
// Every case must end in the documented error code, never in a crash, a sanitizer report
// or a read that does not end. Each test runs under a deadline and every read loop has a
// bound, so that a hang shows as a failure.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "kelvra/test_format.h"
#include "kelvra/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kMax = 60, kMin = 20;
// Key 0: 8 bytes at 0. Key 1: 4 at 10 and 2 at 6, with duplicates. Key 2: 6 at 4, unique.
const char* kKeys = "1,0,8,0,2,1,4,10,2,6,1,0,6,4";

// Ends the test program when a test outlives its time: a hang becomes a failure.
struct Deadline {
  explicit Deadline(unsigned seconds) { alarm(seconds); }
  ~Deadline() { alarm(0); }
};

// Record i: "K" and 7 digits, 2 digits, "G" and 3 digits, blanks (so that compression has
// something to take), two letters; 20 to 60 bytes.
std::string record(int i) {
  char head[32];
  snprintf(head, sizeof head, "K%07d%02dG%03d", i * 10, i % 7, i % 4);
  int len = kMin + (i * 7) % (kMax - kMin + 1);
  std::string r(head);
  r += std::string(static_cast<size_t>(len) - r.size() - 2, ' ');
  r.push_back(static_cast<char>('a' + i % 26));
  r.push_back(static_cast<char>('A' + i % 23));
  return r;
}

std::string key_of(const std::string& r, int k) {
  switch (k) {
    case 0:
      return r.substr(0, 8);
    case 1:
      return r.substr(10, 4) + r.substr(6, 2);
    default:
      return r.substr(4, 6);
  }
}

// The records in the order of key k; live holds (writing sequence, record) pairs.
std::vector<std::string> key_order(const std::vector<std::pair<int, std::string>>& live, int k) {
  std::vector<std::tuple<std::string, int, std::string>> rows;
  for (const auto& [seq, r] : live) rows.emplace_back(key_of(r, k), k == 1 ? seq : 0, r);
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(std::get<2>(row));
  return out;
}

struct Scan {
  std::vector<std::string> good;
  std::vector<std::pair<int, int>> errors;
  bool ended = false;  // code 8 at the end of the key
  int calls = 0;
};

class DamageTest : public KelvraTest {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    name_ = path("hurt");
  }

  // Makes a file of version v holding records 0 to n-1.
  void make(int v, int n, const char* storage = "1,0,0,0,0", long segment = 0) {
    rt_config_set("K_VERSION", 0, v);
    if (segment) rt_config_set("K_SEGMENT_SIZE", 0, segment);
    char sizes[32];
    snprintf(sizes, sizeof sizes, "%d,%d,3", kMax, kMin);
    ASSERT_NE(k5_make(name_.c_str(), "damage", storage, sizes, kKeys, nullptr), 0)
        << error() << "/" << error2();
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    live_.clear();
    for (int i = 0; i < n; i++) {
      std::string r = record(i);
      ASSERT_NE(k5_write(f, r.data(), static_cast<uint32_t>(r.size())), 0) << error();
      live_.emplace_back(i, r);
    }
    ASSERT_NE(k5_close(f), 0);
  }

  // 0 when the file opens (it is closed again), else the file error code.
  int open_error(int mode = K_MODE_READ) {
    KFile* f = k5_open(name_.c_str(), mode, "0,0,0");
    if (!f) return error();
    EXPECT_NE(k5_close(f), 0);
    return 0;
  }

  // Reads key k from one end, at most limit calls. A failing read is tried once more and the
  // scan stops, except for a damaged record while k_ixkit is set.
  Scan scan(KFile* f, int k, bool forward, int limit) {
    Scan s;
    int hard = 0;
    Bytes buf(kMax + 64, forward ? 0x00 : 0xFF);
    if (!k5_start(f, buf.data(), k, 0, forward ? K_START_NOT_LESS : K_START_NOT_GREATER)) {
      s.ended = error() == 8;
      if (!s.ended) s.errors.emplace_back(error(), error2());
      return s;
    }
    while (s.calls < limit) {
      s.calls++;
      int n = forward ? k5_next(f, buf.data()) : k5_previous(f, buf.data());
      if (n > 0) {
        s.good.emplace_back(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
        continue;
      }
      if (error() == 8) {
        s.ended = true;
        break;
      }
      std::pair<int, int> e(error(), error2());
      s.errors.push_back(e);
      // With k_ixkit a damaged record is passed over; anything else fails again.
      bool record_damage = e.first == 6 && e.second >= 80 && e.second <= 85;
      if (!(k_ixkit && record_damage) && ++hard == 2) break;
    }
    return s;
  }

  // The record whose primary key record(i) has, as found in the record area.
  raw::Record find(raw::File& rf, int i) {
    std::string pk = record(i).substr(0, 8);
    for (const raw::Record& r : rf.walk()) {
      Bytes c;
      if (!r.h.deleted && !r.h.abandoned && rf.content(r, &c) && c.size() >= 8 &&
          std::string(c.begin(), c.begin() + 8) == pk) {
        return r;
      }
    }
    ADD_FAILURE() << "record " << i << " not found";
    return raw::Record();
  }

  void patch_bytes(const std::string& path, const std::vector<uint32_t>& at, const Bytes& b) {
    for (size_t i = 0; i < b.size(); i++) ASSERT_TRUE(raw::patch(path, at[i], {b[i]}));
  }

  void rewrite_header(raw::File& rf, const raw::Record& r, const raw::RecHeader& h) {
    Bytes hb(static_cast<size_t>(rf.header_size()));
    raw::encode_record_header(rf.version(), rf.header_size(), h, hb.data());
    patch_bytes(raw::data_path(name_, r.pos.segment), r.header_at, hb);
  }

  // Byte position of node n in its file.
  std::pair<std::string, uint64_t> node_at(raw::File& rf, uint32_t n) {
    std::string p;
    uint64_t off = 0;
    EXPECT_TRUE(rf.node_place(n, &p, &off));
    return {p, off};
  }

  void set_leaf_link(raw::File& rf, uint32_t leaf, bool next, uint32_t to) {
    auto [p, off] = node_at(rf, leaf);
    Bytes b(4);
    raw::store(b.data(), 4, rf.big(), to);
    ASSERT_TRUE(raw::patch(p, off + static_cast<uint64_t>(rf.node_header()) + (next ? 4 : 0), b));
  }

  std::vector<raw::Leaf> leaves(raw::File& rf, int k) {
    std::vector<raw::Leaf> out;
    std::vector<uint32_t> nodes;
    uint64_t space;
    EXPECT_TRUE(rf.tree(k, &out, &nodes, &space));
    return out;
  }

  std::vector<std::string> expected(int k) const { return key_order(live_, k); }

  std::string name_;
  std::vector<std::pair<int, std::string>> live_;
  Deadline deadline_{120};
};

// ---- One damaged record, read through every key ---------------------------------------

struct RecordCase {
  int version;
  int code;  // the secondary code the damage must give
};

class RecordDamageTest : public DamageTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordDamageTest, ReadsGoOnPastTheRecordOnlyWithIxkit) {
  const RecordCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(make(c.version, 30, c.code == 84 ? "1,0,0,1,0" : "1,0,0,0,0"));
  const int victim = 13;
  raw::File rf(name_);
  ASSERT_TRUE(rf.valid());
  raw::Record r = find(rf, victim);
  raw::RecHeader h = r.h;
  switch (c.code) {
    case 80:  // every key's entry points below the record area
      for (int k = 0; k < 3; k++) {
        const raw::KeyDef& key = rf.dictionary().keys[static_cast<size_t>(k)];
        for (const raw::Leaf& l : leaves(rf, k)) {
          for (const raw::Entry& e : l.entries) {
            if (e.address != r.pos) continue;
            auto [p, off] = node_at(rf, e.node);
            uint64_t at = off + static_cast<uint64_t>(rf.node_header()) + 8 +
                          static_cast<uint64_t>(e.slot) * (key.entry + rf.address_bytes()) +
                          static_cast<uint64_t>(key.entry);
            Bytes a(static_cast<size_t>(rf.address_bytes()), 0);
            raw::store(a.data(), 4, rf.big(), 100);
            ASSERT_TRUE(raw::patch(p, at, a));
          }
        }
      }
      break;
    case 81:  // more data than the slot holds
      h.length = h.stored + 1;
      rewrite_header(rf, r, h);
      break;
    case 82:
      h.deleted = true;
      rewrite_header(rf, r, h);
      break;
    case 83:  // shorter than the smallest record
      ASSERT_TRUE(h.plain);
      h.length = kMin - 1;
      rewrite_header(rf, r, h);
      break;
    case 84: {  // runs that overflow the largest record
      ASSERT_FALSE(h.plain);
      ASSERT_GE(r.slot.size(), 6u);
      patch_bytes(raw::data_path(name_, r.pos.segment), r.slot_at,
                  {0xFE, 'q', 0xFF, 0xFE, 'q', 0xFF});
      h.length = 6;
      rewrite_header(rf, r, h);
      break;
    }
    case 85: {  // byte 6 belongs to every key
      Bytes b = {static_cast<uint8_t>(r.slot[6] ^ 1)};
      ASSERT_TRUE(raw::patch(raw::data_path(name_, r.pos.segment), r.slot_at[6], b));
      break;
    }
  }
  std::string lost = record(victim);
  std::vector<std::pair<int, std::string>> rest;
  for (const auto& row : live_) {
    if (row.second != lost) rest.push_back(row);
  }
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  const std::vector<std::pair<int, int>> once = {{6, c.code}};
  for (int k = 0; k < 3; k++) {
    SCOPED_TRACE("key " + std::to_string(k));
    std::vector<std::string> want = key_order(rest, k);
    k_ixkit = 1;
    Scan fwd = scan(f, k, true, 100);
    EXPECT_TRUE(fwd.ended);
    EXPECT_EQ(fwd.errors, once);
    EXPECT_EQ(fwd.good, want);
    Scan back = scan(f, k, false, 100);
    std::reverse(back.good.begin(), back.good.end());
    EXPECT_TRUE(back.ended);
    EXPECT_EQ(back.errors, once);
    EXPECT_EQ(back.good, want);
    // Without the flag the same record fails again and the scan goes no further.
    k_ixkit = 0;
    std::vector<std::string> all = expected(k);
    size_t rank = static_cast<size_t>(std::find(all.begin(), all.end(), lost) - all.begin());
    Scan stuck = scan(f, k, true, 100);
    EXPECT_FALSE(stuck.ended);
    EXPECT_EQ(stuck.errors, (std::vector<std::pair<int, int>>{{6, c.code}, {6, c.code}}));
    EXPECT_EQ(stuck.good,
              std::vector<std::string>(want.begin(), want.begin() + static_cast<long>(rank)));
  }
  EXPECT_NE(k5_close(f), 0);
}

std::vector<RecordCase> record_cases() {
  std::vector<RecordCase> out;
  for (int v = 2; v <= 5; v++) {
    for (int code = 80; code <= 85; code++) out.push_back({v, code});
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Codes, RecordDamageTest, ::testing::ValuesIn(record_cases()),
                         [](const ::testing::TestParamInfo<RecordCase>& info) {
                           return "v" + std::to_string(info.param.version) + "_" +
                                  std::to_string(info.param.code);
                         });

// ---- Files that are no Kelvra file ------------------------------------------------------

TEST_F(DamageTest, MissingEmptyShortAndForeignFiles) {
  EXPECT_EQ(open_error(), 15);
  write_bytes(name_, {});
  EXPECT_EQ(open_error(), 13) << "empty file";
  write_bytes(name_, Bytes(100, 0x16));
  EXPECT_EQ(open_error(), 13) << "100 bytes";
  write_bytes(name_, Bytes(512, 0));
  EXPECT_EQ(open_error(), 13) << "512 zero bytes";
  std::mt19937 rng(99);
  for (int t = 0; t < 20; t++) {
    Bytes junk(static_cast<size_t>(rng() % 9000));
    for (uint8_t& b : junk) b = static_cast<uint8_t>(rng());
    write_bytes(name_, junk);
    EXPECT_EQ(open_error(), 13) << "random file " << t;
    EXPECT_EQ(open_error(K_MODE_WRITE), 13) << "random file " << t;
  }
  // Header blocks that are almost right.
  for (int v = 2; v <= 5; v++) {
    ASSERT_NO_FATAL_FAILURE(make(v, 3));
    Bytes good = raw::slurp(name_);
    auto with = [&](int at, Bytes b) {
      Bytes x = good;
      std::copy(b.begin(), b.end(), x.begin() + at);
      write_bytes(name_, x);
      return open_error();
    };
    EXPECT_EQ(with(4, {0, 6}), 13) << "version 6";
    EXPECT_EQ(with(4, {1, static_cast<uint8_t>(v)}), 13) << "version byte not 0";
    EXPECT_EQ(with(0, {0x12, 0x34, 0x56, 0x78}), 13) << "magic";
    if (v == 3) {
      EXPECT_EQ(with(0, {0x10, 0x12, 0x14, 0x19}), 13) << "segmented magic in version 3";
    }
    if (v == 4) {
      // Accepted in version 4 when the segments carry it too.
      std::string x0 = raw::index_path(name_, 0);
      Bytes x0_good = raw::slurp(x0);
      ASSERT_TRUE(raw::patch(x0, 0, {0x10, 0x12, 0x14, 0x19}));
      EXPECT_EQ(with(0, {0x10, 0x12, 0x14, 0x19}), 0) << "segmented magic in version 4";
      write_bytes(x0, x0_good);
    }
    EXPECT_EQ(with(6, {0, static_cast<uint8_t>(v == 5 ? 17 : 3)}), 13) << "blocking factor";
    int zero_blocking = with(6, {0, 0});
    EXPECT_TRUE(zero_blocking == 13 || zero_blocking == 6)
        << "blocking factor 0: " << zero_blocking;
    // Cut inside the dictionary and inside the header.
    write_bytes(name_, Bytes(good.begin(), good.begin() + 530));
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 5);
    write_bytes(name_, Bytes(good.begin(), good.begin() + 300));
    EXPECT_EQ(open_error(), 13);
  }
}

// ---- Header and dictionary --------------------------------------------------------------

TEST_F(DamageTest, HeaderFieldsAndDictionaryAreChecked) {
  for (int v = 2; v <= 5; v++) {
    SCOPED_TRACE("version " + std::to_string(v));
    ASSERT_NO_FATAL_FAILURE(make(v, 5));
    Bytes good = raw::slurp(name_);
    bool big = v != 2;
    auto field_set = [&](int field, uint64_t value) {
      Bytes x = good;
      const raw::FieldRow* row = raw::header_field(v, field);
      raw::store(x.data() + row->offset, row->width, big, value);
      write_bytes(name_, x);
    };
    for (auto [field, value] : std::vector<std::pair<int, uint64_t>>{
             {31, 11}, {45, 0}, {53, 61}, {54, 0}, {7, 1024}, {60, 5}, {60, 4000}}) {
      field_set(field, value);
      EXPECT_EQ(open_error(), 6) << "field " << field << " = " << value;
      EXPECT_EQ(error2(), 1) << "field " << field;
    }
    // The damage mark.
    field_set(27, 1);
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 3);
    bKForceOpen = 1;
    EXPECT_EQ(open_error(), 0);
    bKForceOpen = 0;

    // A flipped dictionary byte breaks its checksum; a dictionary with a sound checksum
    // that describes impossible keys is refused as well.
    raw::File rf(name_);
    size_t dict = static_cast<size_t>(rf.field(60));
    auto dictionary_with = [&](size_t at, uint8_t value, bool fix_crc) {
      Bytes x = good;
      x[512 + at] = value;
      if (fix_crc) {
        uint32_t crc = raw::crc32(x.data() + 512, dict - 4);
        raw::store(x.data() + 512 + dict - 4, 4, big, crc);
      }
      write_bytes(name_, x);
      return open_error();
    };
    EXPECT_EQ(dictionary_with(20, good[512 + 20] ^ 0x40, false), 6);
    EXPECT_EQ(error2(), 5) << "checksum";
    EXPECT_EQ(dictionary_with(big ? 5 : 4, 2, true), 6);
    EXPECT_EQ(error2(), 5) << "key count that differs from the header";
    EXPECT_EQ(dictionary_with(8, 17, true), 6);
    EXPECT_EQ(error2(), 5) << "17 segments";
    // Key 0's segment offset beyond the largest record any file of the version has.
    EXPECT_EQ(dictionary_with(big ? 12 : 15, 0x7F, true), 6);
    EXPECT_EQ(error2(), 5) << "segment outside every record";
    EXPECT_EQ(dictionary_with(dict - 1, good[512 + dict - 1] ^ 1, false), 6);
    EXPECT_EQ(error2(), 5) << "checksum bytes";
    write_bytes(name_, good);
    EXPECT_EQ(open_error(), 0);
  }
}

// ---- Segments: stamps, missing and cut segments -----------------------------------------

class SegmentDamageTest : public DamageTest, public ::testing::WithParamInterface<int> {
 protected:
  void make_segmented() {
    ASSERT_NO_FATAL_FAILURE(make(GetParam(), GetParam() == 4 ? 260 : 150, "1,0,0,0,0", 4096));
    raw::File rf(name_);
    data_high_ = static_cast<int>(rf.field(6));
    index_high_ = static_cast<int>((rf.field(61) - 1) / ((4096 - 512) / 512));
    ASSERT_GE(data_high_, 2);
    ASSERT_GE(index_high_, 1);
  }
  int strict_error(int force) {
    rt_config_set("K_OPEN_STRICT", 0, 1);
    bKForceOpen = force;
    int e = open_error();
    bKForceOpen = 0;
    rt_config_set("K_OPEN_STRICT", 0, 0);
    return e;
  }
  // Reads every key with k_ixkit set; returns the records read by key 0.
  Scan scan_all(KFile* f, std::set<std::pair<int, int>>* errors) {
    k_ixkit = 1;
    Scan first;
    for (int k = 0; k < 3; k++) {
      Scan s = scan(f, k, true, 400);
      EXPECT_LT(s.calls, 400) << "key " << k << ": the read did not end";
      errors->insert(s.errors.begin(), s.errors.end());
      if (k == 0) first = s;
    }
    k_ixkit = 0;
    return first;
  }
  int data_high_ = 0, index_high_ = 0;
};

TEST_P(SegmentDamageTest, ForeignVersionStamps) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(make_segmented());
  for (bool index : {false, true}) {
    SCOPED_TRACE(index ? "index segment" : "data segment");
    std::string seg = index ? raw::index_path(name_, 1) : raw::data_path(name_, 2);
    int at = K_offsets[v][index ? KF_INDEX_STAMP : KF_DATA_STAMP];
    Bytes old = raw::slurp(seg);
    Bytes other(4);
    raw::store(other.data(), 4, true, raw::load(old.data() + at, 4, true) + 5);
    ASSERT_TRUE(raw::patch(seg, static_cast<uint64_t>(at), other));
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 2);
    EXPECT_EQ(open_error(K_MODE_WRITE), 6);
    EXPECT_EQ(strict_error(0), 6);
    EXPECT_EQ(error2(), 2);
    EXPECT_EQ(strict_error(1), 0);
    // Forced, the file reads whole; a forced writer puts its stamp in every segment.
    bKForceOpen = 1;
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr) << error() << "/" << error2();
    Scan s = scan(f, 0, true, 400);
    EXPECT_EQ(s.good, expected(0));
    EXPECT_TRUE(s.ended);
    ASSERT_NE(k5_close(f), 0);
    bKForceOpen = 0;
    EXPECT_EQ(open_error(), 0);
    raw::File rf(name_);
    EXPECT_EQ(raw::load(raw::slurp(seg).data() + at, 4, true), rf.field(24));
  }
}

TEST_P(SegmentDamageTest, MissingSegments) {
  ASSERT_NO_FATAL_FAILURE(make_segmented());
  raw::File rf(name_);
  std::vector<raw::Record> recs = rf.walk();
  std::string x1 = raw::index_path(name_, 1);
  Bytes x1_bytes = raw::slurp(x1);
  ASSERT_EQ(unlink(x1.c_str()), 0);
  EXPECT_EQ(open_error(), 6);
  EXPECT_EQ(error2(), 4);
  EXPECT_EQ(strict_error(0), 6);
  // Without the index the description and the record area are still there.
  k_open_no_index = 1;
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  char text[256];
  EXPECT_NE(k5_info(f, -4, text), 0);
  EXPECT_EQ(std::to_string(live_.size()), text);
  Bytes buf(kMax, 0);
  EXPECT_EQ(k5_start(f, buf.data(), 0, 0, K_START_NOT_LESS), 0);
  EXPECT_EQ(error(), 4);
  EXPECT_EQ(k5_write(f, buf.data(), kMax), 0);
  ASSERT_NE(k5_close(f), 0);
  k_open_no_index = 0;
  // Forced, the nodes of the lost segment are damage.
  bKForceOpen = 1;
  f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  std::set<std::pair<int, int>> errors;
  scan_all(f, &errors);
  EXPECT_TRUE(errors.count({6, 10})) << "a node in the missing segment";
  for (auto e : errors) EXPECT_EQ(e.first, 6);
  ASSERT_NE(k5_close(f), 0);
  bKForceOpen = 0;
  write_bytes(x1, x1_bytes);
  EXPECT_EQ(open_error(), 0);

  // A missing data segment: its records are damaged, the others read.
  std::string d1 = raw::data_path(name_, 1);
  size_t in_d1 = 0;
  for (const raw::Record& r : recs) in_d1 += r.pos.segment == 1;
  ASSERT_GT(in_d1, 0u);
  ASSERT_EQ(unlink(d1.c_str()), 0);
  EXPECT_EQ(open_error(), 6);
  EXPECT_EQ(error2(), 4);
  bKForceOpen = 1;
  f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  errors.clear();
  Scan s = scan_all(f, &errors);
  EXPECT_EQ(s.good.size(), live_.size() - in_d1);
  EXPECT_EQ(errors, (std::set<std::pair<int, int>>{{6, 81}}));
  ASSERT_NE(k5_close(f), 0);
  bKForceOpen = 0;

  // No index segment at all.
  ASSERT_NO_FATAL_FAILURE(make(GetParam(), 5));
  ASSERT_EQ(unlink(raw::index_path(name_, 0).c_str()), 0);
  EXPECT_EQ(open_error(), 6);
  EXPECT_EQ(error2(), 4);
}

TEST_P(SegmentDamageTest, CutSegments) {
  ASSERT_NO_FATAL_FAILURE(make_segmented());
  raw::File rf(name_);
  std::vector<raw::Record> recs = rf.walk();
  // A further data segment cut inside its header block.
  std::string d1 = raw::data_path(name_, 1);
  Bytes d1_bytes = raw::slurp(d1);
  ASSERT_EQ(truncate(d1.c_str(), 100), 0);
  EXPECT_EQ(open_error(), 6);
  EXPECT_EQ(error2(), 4);
  write_bytes(d1, d1_bytes);

  // The last data segment cut in the middle: a strict open sees that the records run past
  // its end; otherwise only the records that are cut off are damaged.
  std::string last = raw::data_path(name_, data_high_);
  int64_t cut = (raw::file_size(last) + 512) / 2;
  size_t lost = 0;
  for (const raw::Record& r : recs) {
    lost += r.pos.segment == data_high_ && r.after.offset > cut;
  }
  ASSERT_GT(lost, 0u);
  ASSERT_EQ(truncate(last.c_str(), cut), 0);
  EXPECT_EQ(strict_error(0), 6);
  EXPECT_EQ(error2(), 4);
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  std::set<std::pair<int, int>> errors;
  Scan s = scan_all(f, &errors);
  EXPECT_EQ(s.good.size(), live_.size() - lost);
  EXPECT_EQ(errors, (std::set<std::pair<int, int>>{{6, 81}}));
  ASSERT_NE(k5_close(f), 0);
  ASSERT_NO_FATAL_FAILURE(make_segmented());

  // An index segment cut after its first node.
  raw::File again(name_);
  std::string x0 = raw::index_path(name_, 0);
  ASSERT_EQ(truncate(x0.c_str(), 512 + 512), 0);
  bool root_lost = false;
  for (int k = 0; k < 3; k++) {
    uint32_t root = again.dictionary().root[static_cast<size_t>(k)];
    std::string p;
    uint64_t off;
    ASSERT_TRUE(again.node_place(root, &p, &off));
    root_lost = root_lost || (p == x0 && off >= 1024);
  }
  EXPECT_EQ(strict_error(0), root_lost ? 6 : 0);
  if (root_lost) {
    EXPECT_EQ(error2(), 10);
  }
  f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  errors.clear();
  scan_all(f, &errors);
  EXPECT_TRUE(errors.count({6, 10}));
  for (auto e : errors) EXPECT_EQ(e.first, 6);
  ASSERT_NE(k5_close(f), 0);
}

// A node count that would need more index segments than there can be: every kind of open
// refuses it at once, instead of looking for each of the segments or sizing tables for them.
TEST_P(SegmentDamageTest, NodeCountBeyondTheIndexSegments) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(make(v, 3, "1,0,0,0,0", 4096));
  Bytes good = raw::slurp(name_);
  const raw::FieldRow* nodes = raw::header_field(v, 61);
  const raw::FieldRow* size = raw::header_field(v, 39);
  for (auto [count, segment] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0x7FFFFFFFu, 4096}, {0xFFFFFFF0u, 4096}, {0xFFFFFFF0u, 1024}, {7 * 65537, 4096}}) {
    SCOPED_TRACE("nodes " + std::to_string(count) + ", segment size " + std::to_string(segment));
    Bytes x = good;
    raw::store(x.data() + nodes->offset, 4, true, count);
    raw::store(x.data() + size->offset, 4, true, segment);
    write_bytes(name_, x);
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 1);
    bKForceOpen = 1;
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 1);
    bKForceOpen = 0;
    k_open_no_index = 1;
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 1);
    k_open_no_index = 0;
  }
  // The last count that fits: 65536 index segments of 7 nodes; forced, the missing ones are
  // no obstacle.
  Bytes x = good;
  raw::store(x.data() + nodes->offset, 4, true, 7 * 65536);
  write_bytes(name_, x);
  EXPECT_EQ(open_error(), 6);
  EXPECT_EQ(error2(), 4);
  bKForceOpen = 1;
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  bKForceOpen = 0;
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  EXPECT_EQ(f->index_segment_high, 65535);
  EXPECT_NE(k5_close(f), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, SegmentDamageTest, ::testing::Values(4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

// ---- Index nodes ------------------------------------------------------------------------

class NodeDamageTest : public DamageTest, public ::testing::WithParamInterface<int> {};

TEST_P(NodeDamageTest, FlippedNodeBytes) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(make(v, 200));
  Bytes original = raw::slurp(name_);
  std::string index = v >= 4 ? raw::index_path(name_, 0) : name_;
  Bytes original_index = raw::slurp(index);
  raw::File rf(name_);
  std::vector<raw::Leaf> ls = leaves(rf, 0);
  ASSERT_GE(ls.size(), 3u);
  ASSERT_GE(rf.dictionary().height[0], 2);
  uint32_t root = rf.dictionary().root[0];
  auto restore = [&]() {
    write_bytes(name_, original);
    if (v >= 4) write_bytes(index, original_index);
  };
  struct Flip {
    const char* what;
    uint32_t node;
    int at;
    Bytes bytes;
  };
  int hdr = rf.node_header();
  std::vector<Flip> flips = {
      {"root level", root, 0, {9}},
      {"root freed", root, 0, {0xFF}},
      {"leaf level", ls[1].node, 0, {1}},
      {"leaf count", ls[1].node, 1, v == 2 ? Bytes{0xFF} : Bytes{0xFF, 0xFF}},
      {"first child far away", root, hdr, {0x7F, 0xFF, 0xFF, 0x00}},
      {"first child is the root", root, hdr, {}},
      {"next leaf far away", ls[0].node, hdr + 4, {0x00, 0xFF, 0xFF, 0x7F}},
  };
  Bytes self(4);
  raw::store(self.data(), 4, rf.big(), root);
  flips[5].bytes = self;
  for (const Flip& fl : flips) {
    SCOPED_TRACE(fl.what);
    restore();
    auto [p, off] = node_at(rf, fl.node);
    ASSERT_TRUE(raw::patch(p, off + static_cast<uint64_t>(fl.at), fl.bytes));
    bool at_root = fl.node == root && fl.at == 0;
    rt_config_set("K_OPEN_STRICT", 0, 1);
    EXPECT_EQ(open_error(), at_root ? 6 : 0);
    if (at_root) {
      EXPECT_EQ(error2(), 10);
    }
    rt_config_set("K_OPEN_STRICT", 0, 0);
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    std::set<std::pair<int, int>> errors;
    for (bool forward : {true, false}) {
      for (int ix = 0; ix < 2; ix++) {
        k_ixkit = ix;
        Scan s = scan(f, 0, forward, 600);
        EXPECT_LT(s.calls, 600) << "the read did not end";
        errors.insert(s.errors.begin(), s.errors.end());
      }
    }
    k_ixkit = 0;
    EXPECT_TRUE(errors.count({6, 10})) << "damaged node";
    for (auto e : errors) EXPECT_EQ(e.first, 6);
    ASSERT_NE(k5_close(f), 0);
    // A writer that meets the node fails the same way and leaves no crash behind.
    f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 200; i += 40) {
      std::string r = record(i);
      r[1] = 'Z';  // a new primary key and a new key 2
      r[4] = 'Z';
      if (!k5_write(f, r.data(), static_cast<uint32_t>(r.size()))) {
        EXPECT_EQ(error(), 6);
      }
      if (!k5_delete(f, record(i + 1).data())) {
        EXPECT_TRUE(error() == 6 || error() == 8);
      }
    }
    k5_close(f);
  }
}

TEST_P(NodeDamageTest, LoopingLeafChains) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(make(v, 200));
  Bytes original = raw::slurp(name_);
  std::string index = v >= 4 ? raw::index_path(name_, 0) : name_;
  Bytes original_index = raw::slurp(index);
  raw::File rf(name_);
  std::vector<raw::Leaf> ls = leaves(rf, 0);
  ASSERT_GE(ls.size(), 4u);
  struct Loop {
    const char* what;
    bool forward;
    std::vector<std::tuple<uint32_t, bool, uint32_t>> links;  // leaf, next link?, target
  };
  std::vector<Loop> loops = {
      {"second leaf leads back to the first",
       true,
       {{ls[1].node, true, ls[0].node}, {ls[0].node, false, ls[1].node}}},
      {"first leaf leads to itself",
       true,
       {{ls[0].node, true, ls[0].node}, {ls[0].node, false, ls[0].node}}},
      {"backwards: the last but one leaf leads back to the last",
       false,
       {{ls[ls.size() - 2].node, false, ls.back().node},
        {ls.back().node, true, ls[ls.size() - 2].node}}},
  };
  for (const Loop& loop : loops) {
    SCOPED_TRACE(loop.what);
    write_bytes(name_, original);
    if (v >= 4) write_bytes(index, original_index);
    for (auto [leaf, next, to] : loop.links) set_leaf_link(rf, leaf, next, to);
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int ix = 0; ix < 2; ix++) {
      k_ixkit = ix;
      Scan s = scan(f, 0, loop.forward, 3 * 200);
      EXPECT_LT(s.calls, 3 * 200) << "the read went round the loop";
      EXPECT_LE(s.good.size(), 200u);
      ASSERT_FALSE(s.errors.empty());
      EXPECT_EQ(s.errors.front(), std::make_pair(6, 11));
    }
    k_ixkit = 0;
    ASSERT_NE(k5_close(f), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, NodeDamageTest, ::testing::Values(2, 3, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

// ---- Free record chains and block chains --------------------------------------------------

class ChainDamageTest : public DamageTest, public ::testing::WithParamInterface<int> {
 protected:
  // Makes the link of the free record at `at` name `to`.
  void relink(raw::File& rf, raw::Pos at, raw::Pos to) {
    raw::Record r;
    ASSERT_TRUE(rf.record_at(at, &r));
    ASSERT_TRUE(r.h.deleted || r.h.abandoned);
    if (rf.version() == 5) {
      raw::RecHeader h = r.h;
      h.link = to;
      rewrite_header(rf, r, h);
      return;
    }
    Bytes link(rf.version() == 4 ? 6 : 4);
    raw::store(link.data(), 4, rf.big(), to.offset);
    if (rf.version() == 4) raw::store(link.data() + 4, 2, true, to.segment);
    patch_bytes(name_, r.slot_at, link);
  }
};

TEST_P(ChainDamageTest, LoopingFreeChainsNeverGiveALiveSlot) {
  int v = GetParam();
  for (int shape = 0; shape < 2; shape++) {
    SCOPED_TRACE(shape == 0 ? "head links to itself" : "two members link to each other");
    ASSERT_NO_FATAL_FAILURE(make(v, 20));
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i : {3, 7, 11}) {
      ASSERT_NE(k5_delete(f, record(i).data()), 0);
      live_.erase(std::find(live_.begin(), live_.end(), std::make_pair(i, record(i))));
    }
    // In version 5 a rewrite that no longer fits leaves a slot on the abandoned chain.
    std::string longer = record(5) + std::string(kMax - record(5).size(), '#');
    ASSERT_NE(k5_rewrite(f, longer.data(), kMax), 0);
    for (auto& row : live_) {
      if (row.first == 5) row.second = longer;
    }
    ASSERT_NE(k5_close(f), 0);
    raw::File rf(name_);
    std::vector<raw::Pos> chain;
    ASSERT_TRUE(rf.chain(rf.deleted_head(), &chain));
    ASSERT_GE(chain.size(), 3u);
    if (shape == 0) {
      relink(rf, chain[0], chain[0]);
    } else {
      relink(rf, chain[1], chain[0]);
    }
    if (v == 5) {
      ASSERT_FALSE(rf.abandoned_head().null());
      relink(rf, rf.abandoned_head(), rf.abandoned_head());
    }
    // New records, small enough for every freed slot, and more changes.
    f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 100; i < 110; i++) {
      std::string r = record(i).substr(0, kMin);
      ASSERT_NE(k5_write(f, r.data(), kMin), 0) << error() << "/" << error2();
      live_.emplace_back(i, r);
    }
    ASSERT_NE(k5_delete(f, record(100).data()), 0);
    live_.erase(
        std::find_if(live_.begin(), live_.end(), [](auto& row) { return row.first == 100; }));
    for (int i = 110; i < 115; i++) {
      std::string r = record(i).substr(0, kMin);
      ASSERT_NE(k5_write(f, r.data(), kMin), 0) << error() << "/" << error2();
      live_.emplace_back(i, r);
    }
    for (int k = 0; k < 3; k++) {
      Scan s = scan(f, k, true, 100);
      EXPECT_TRUE(s.ended);
      EXPECT_TRUE(s.errors.empty());
      EXPECT_EQ(s.good, expected(k)) << "key " << k;
    }
    ASSERT_NE(k5_close(f), 0);
    f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    Scan s = scan(f, 0, true, 100);
    EXPECT_EQ(s.good, expected(0));
    ASSERT_NE(k5_close(f), 0);
  }
}

// A chain head that names a place in the header block where the bytes read as a free
// record: a new record must not be stored there.
TEST_P(ChainDamageTest, FreeChainHeadOutsideTheRecordArea) {
  int v = GetParam();
  for (int field : v == 5 ? std::vector<int>{13, 15} : std::vector<int>{13}) {
    SCOPED_TRACE("field " + std::to_string(field));
    ASSERT_NO_FATAL_FAILURE(make(v, 10));
    // A free record of 40 bytes at byte 400, where no header field of any version is.
    const uint32_t fake = 400;
    int hsize = raw::File(name_).header_size();
    Bytes free_record(static_cast<size_t>(hsize) + 6, 0);
    raw::RecHeader h;
    h.stored = 40;
    h.length = 40;
    h.deleted = field == 13;
    h.abandoned = field == 15;
    raw::encode_record_header(v, hsize, h, free_record.data());
    ASSERT_TRUE(raw::patch(name_, fake, free_record));
    Bytes head(4);
    raw::store(head.data(), 4, v != 2, fake);
    ASSERT_TRUE(
        raw::patch(name_, static_cast<uint64_t>(raw::header_field(v, field)->offset), head));
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr) << error() << "/" << error2();
    for (int i = 50; i < 53; i++) {
      std::string r = record(i).substr(0, kMin);
      ASSERT_NE(k5_write(f, r.data(), kMin), 0) << error() << "/" << error2();
      live_.emplace_back(i, r);
    }
    ASSERT_NE(k5_close(f), 0);
    f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr) << error() << "/" << error2();
    for (int k = 0; k < 3; k++) {
      Scan s = scan(f, k, true, 100);
      EXPECT_TRUE(s.errors.empty()) << "key " << k << ": " << s.errors.size() << " damaged";
      EXPECT_EQ(s.good, expected(k));
    }
    ASSERT_NE(k5_close(f), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, ChainDamageTest, ::testing::Values(2, 3, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

// Versions 2 and 3: block links that loop or lead back into the record area.
TEST_F(DamageTest, LoopingBlockLinks) {
  for (int v : {2, 3}) {
    SCOPED_TRACE("version " + std::to_string(v));
    ASSERT_NO_FATAL_FAILURE(make(v, 60));
    Bytes original = raw::slurp(name_);
    raw::File rf(name_);
    std::vector<raw::Record> recs = rf.walk();
    // A record whose bytes run across a block link: the link made to name its own block.
    const raw::Record* across = nullptr;
    size_t gap_at = 0;
    for (const raw::Record& r : recs) {
      for (size_t i = 1; i < r.slot_at.size() && !across; i++) {
        if (r.slot_at[i] != r.slot_at[i - 1] + 1) {
          across = &r;
          gap_at = i - 1;
        }
      }
    }
    ASSERT_NE(across, nullptr);
    uint32_t b = static_cast<uint32_t>(rf.block());
    uint32_t block = across->slot_at[gap_at] / b * b;
    Bytes link(4);
    raw::store(link.data(), 4, rf.big(), v == 2 ? block : block - 1);
    ASSERT_TRUE(raw::patch(name_, block + b - 4, link));
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    k_ixkit = 1;
    Scan s = scan(f, 0, true, 200);
    k_ixkit = 0;
    EXPECT_TRUE(s.ended);
    EXPECT_GE(s.good.size(), live_.size() - 2);
    EXPECT_FALSE(s.errors.empty());
    for (auto e : s.errors) EXPECT_EQ(e.first, 6);
    ASSERT_NE(k5_close(f), 0);

    // The block where the records end links back to the first block of the area: records
    // appended there must not land on the records already in it.
    write_bytes(name_, original);
    raw::File fresh(name_);
    uint32_t end = fresh.end().offset;
    uint32_t last_block = end / b * b;
    uint32_t first = fresh.first_record().offset;
    raw::store(link.data(), 4, fresh.big(), v == 2 ? first : first - 1);
    ASSERT_TRUE(raw::patch(name_, last_block + b - 4, link));
    f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 200; i < 220; i++) {
      std::string r = record(i);
      if (k5_write(f, r.data(), static_cast<uint32_t>(r.size()))) {
        live_.emplace_back(i, r);
      } else {
        EXPECT_EQ(error(), 6);
      }
    }
    k5_close(f);
    bKForceOpen = 1;
    f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    bKForceOpen = 0;
    ASSERT_NE(f, nullptr);
    k_ixkit = 1;
    s = scan(f, 0, true, 400);
    k_ixkit = 0;
    EXPECT_TRUE(s.errors.empty()) << "records overwritten: " << s.errors.size();
    EXPECT_EQ(s.good, expected(0));
    ASSERT_NE(k5_close(f), 0);
  }
}

// ---- The free node list -----------------------------------------------------------------

TEST_F(DamageTest, BrokenFreeNodeList) {
  for (int v = 2; v <= 5; v++) {
    SCOPED_TRACE("version " + std::to_string(v));
    ASSERT_NO_FATAL_FAILURE(make(v, 200));
    // Deleting a run of records in key order empties leaves: their nodes go on the list.
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 120; i++) ASSERT_NE(k5_delete(f, record(i).data()), 0) << error();
    live_.erase(live_.begin(), live_.begin() + 120);
    ASSERT_NE(k5_close(f), 0);
    raw::File rf(name_);
    std::vector<uint32_t> free_nodes;
    ASSERT_TRUE(rf.free_nodes(&free_nodes));
    ASSERT_FALSE(free_nodes.empty());
    EXPECT_EQ(rf.field(64), free_nodes.size());
    // The list head made to name a node in use.
    Bytes head(4);
    raw::store(head.data(), 4, rf.big(), rf.dictionary().root[0]);
    const raw::FieldRow* row = raw::header_field(v, 62);
    ASSERT_TRUE(raw::patch(name_, static_cast<uint64_t>(row->offset), head));
    rt_config_set("K_OPEN_STRICT", 0, 1);
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 12);
    bKForceOpen = 1;
    EXPECT_EQ(open_error(), 0);
    bKForceOpen = 0;
    rt_config_set("K_OPEN_STRICT", 0, 0);
    // A writer that needs a node finds the damage instead of using the live node.
    f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    int failed = 0;
    for (int i = 1000; i < 1200 && !failed; i++) {
      std::string r = record(i);
      if (k5_write(f, r.data(), static_cast<uint32_t>(r.size()))) {
        live_.emplace_back(i, r);
      } else {
        failed = 1;
        EXPECT_EQ(error(), 6);
        EXPECT_EQ(error2(), 12);
      }
    }
    EXPECT_TRUE(failed);
    k5_close(f);
    // What was written before stays readable; the file carries the damage mark.
    EXPECT_EQ(open_error(), 6);
    EXPECT_EQ(error2(), 3);
  }
}

// ---- Random damage ------------------------------------------------------------------------

// Flips a few random bytes of a sound file, then opens it every way and reads and writes
// through every key. Whatever the damage, each call ends with a documented code.
class FuzzTest : public DamageTest, public ::testing::WithParamInterface<int> {};

TEST_P(FuzzTest, RandomlyDamagedFilesFailCleanly) {
  int v = GetParam();
  const char* storage = (v % 2) ? "1,0,0,1,1" : "1,0,0,0,0";
  ASSERT_NO_FATAL_FAILURE(make(v, 80, storage, v >= 4 ? 4096 : 0));
  // The sound file, every segment of it.
  std::map<std::string, Bytes> sound;
  DIR* d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') sound[path(e->d_name)] = raw::slurp(path(e->d_name));
  }
  closedir(d);
  std::vector<std::string> files;
  size_t total = 0;
  for (auto& [p, b] : sound) {
    files.push_back(p);
    total += b.size();
  }
  const std::set<int> allowed = {2, 4, 6, 7, 8, 9, 10, 13};
  size_t dictionary = static_cast<size_t>(raw::File(name_).field(60));
  files.erase(std::find(files.begin(), files.end(), name_));
  files.insert(files.begin(), name_);  // data segment 0 first
  std::mt19937 rng(1000 + static_cast<unsigned>(v));
  for (int round = 0; round < 150; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Back to the sound file, without what the last round added.
    DIR* dd = opendir(dir_.c_str());
    while (dirent* e = readdir(dd)) {
      if (e->d_name[0] != '.' && !sound.count(path(e->d_name))) unlink(path(e->d_name).c_str());
    }
    closedir(dd);
    for (auto& [p, b] : sound) write_bytes(p, b);
    // Flip 1 to 6 bytes: in every other round inside the header block and the dictionary,
    // which steer everything else, otherwise anywhere in any segment.
    int flips = 1 + static_cast<int>(rng() % 6);
    bool head = round % 2 == 0;
    for (int i = 0; i < flips; i++) {
      size_t at = rng() % (head ? 512 + dictionary : total);
      for (const std::string& p : files) {
        size_t n = sound[p].size();
        if (at < n) {
          Bytes x = raw::slurp(p);
          x[at] ^= static_cast<uint8_t>(1 + rng() % 255);
          write_bytes(p, x);
          break;
        }
        at -= n;
      }
    }
    bKForceOpen = static_cast<int>(rng() % 2);
    rt_config_set("K_OPEN_STRICT", 0, static_cast<long>(rng() % 2));
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    if (!f) {
      EXPECT_TRUE(allowed.count(error())) << "open: " << error() << "/" << error2();
    } else {
      for (int k = 0; k < 3; k++) {
        for (bool forward : {true, false}) {
          k_ixkit = static_cast<int>(rng() % 2);
          Scan s = scan(f, k, forward, 400);
          EXPECT_LT(s.calls, 400) << "key " << k << ": the read did not end";
          for (auto e : s.errors) EXPECT_TRUE(allowed.count(e.first)) << e.first << "/" << e.second;
        }
      }
      k_ixkit = 0;
      EXPECT_NE(k5_close(f), 0);
    }
    f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    if (f) {
      for (int i = 0; i < 6; i++) {
        std::string r = record(static_cast<int>(rng() % 120));
        int what = static_cast<int>(rng() % 3);
        int ok = what == 0   ? k5_write(f, r.data(), static_cast<uint32_t>(r.size()))
                 : what == 1 ? k5_rewrite(f, r.data(), static_cast<uint32_t>(r.size()))
                             : k5_delete(f, r.data());
        if (!ok) {
          EXPECT_TRUE(allowed.count(error())) << "change: " << error() << "/" << error2();
        }
      }
      k5_close(f);
    }
    bKForceOpen = 0;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, FuzzTest, ::testing::Values(2, 3, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

}  // namespace
