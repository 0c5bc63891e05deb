// Long random runs against a model of every key, for each format version and storage
// variant, with both fill modes.
#include <random>

#include "kelvra/test_support.h"

struct Variant {
  int version;
  const char* storage;  // blocking, pre-allocation, extension, compression, encryption
  bool collate;
};

class ModelTest : public KelvraTest, public ::testing::WithParamInterface<Variant> {};

static std::vector<std::string> g_refused;
static std::vector<KProgress> g_progress;

// The ordinary fill, then the fast fill, then writes, rewrites, deletes and starts in every
// mode, against the model: after each phase and after each close and reopen, every key reads
// back the model's records in order both ways. Multi-segment and
// duplicate keys, a case-blind collating table, variable lengths; versions 4 and 5 spread
// over at least three data and two index segments. The ordinary fill refuses a duplicate at
// once with code 7; the fast fill, through sorted runs on disk, hands each record whose
// primary key is taken to the callback and takes it out of the file, and reports progress
// from the first key to the last.
TEST_P(ModelTest, RandomOperationsMatchTheModel) {
  const Variant& v = GetParam();
  uint8_t table[256];
  for (int c = 0; c < 256; c++) table[c] = uint8_t(255 - (c >= 'a' && c <= 'z' ? c - 32 : c));
  rt_config_set("K_SEGMENT_SIZE", 0, 2048);
  rt_config_set("K_SORT_MEMORY", 0, 4096);
  ASSERT_NO_FATAL_FAILURE(make(v.version, v.storage, "60,30,3", {}, v.collate ? table : nullptr));
  Model& m = model_;
  m.table = v.collate ? table : nullptr;
  std::mt19937 rng(12345);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  auto random_record = [&](std::string r) {  // from a primary key
    for (size_t len = 30 + pick(31); r.size() < len;) r.push_back(" \0ghijkl"[pick(8)]);
    for (int i : {12, 13, 14, 20, 21, 22, 23}) r[size_t(i)] = "AaBb"[pick(4)];
    return r;
  };
  auto random_pk = [&]() { return rec(int(pick(5000))).substr(0, 8); };
  k5_register_duplicate(
      [](const KDuplicate* d) { g_refused.emplace_back((const char*)d->record, d->length); });
  k5_register_progress([](const KProgress* p) { g_progress.push_back(*p); });
  g_refused.clear();
  g_progress.clear();
  KFile* f = k5_open(name_.c_str(), K_MODE_FILL, "0,0,0");
  ASSERT_NE(f, nullptr);
  for (int phase = 0; phase < 6; phase++) {
    for (int op = 0; op < 400; op++) {
      size_t what = phase ? pick(10) : 0;  // the fill only writes
      bool write = what < 5 || m.live.empty();
      std::string pk =
          write ? random_pk() : std::next(m.live.begin(), long(pick(m.live.size())))->first;
      if (!write && what >= 8) {
        ASSERT_NE(k5_delete(f, m.live[pk].first.data()), 0) << error() << "/" << error2();
        m.live.erase(pk);
        continue;
      }
      std::string r = random_record(pk);
      bool clash = write && m.live.count(pk);  // a taken primary key or a taken key 2
      for (auto& [p, e] : m.live) clash = clash || (p != pk && m.key(e.first, 2) == m.key(r, 2));
      int ok = (write ? k5_write : k5_rewrite)(f, r.data(), uint32_t(r.size()));
      ASSERT_EQ(ok ? 0 : error(), clash ? 7 : 0) << error2();
      if (!clash) m.put(r);
    }
    expect_model(f, m);
    // A start in a random mode at a random key: the model's first record from there.
    for (int t = 0; t < 30; t++) {
      int k = int(pick(3)), mode = int(pick(5));
      std::string probe = random_record(random_pk()), buf(64, 0);
      std::vector<std::string> order = m.order(k), keys;
      for (const std::string& r : order) keys.push_back(m.key(r, k));
      long lo = std::lower_bound(keys.begin(), keys.end(), m.key(probe, k)) - keys.begin();
      long hi = std::upper_bound(keys.begin(), keys.end(), m.key(probe, k)) - keys.begin();
      long want[] = {lo < hi ? lo : -1, lo, hi, lo - 1, hi - 1};
      bool found = want[mode] >= 0 && want[mode] < long(order.size());
      ASSERT_EQ(k5_start(f, probe.data(), k, 0, mode) != 0, found)
          << "key " << k << " mode " << mode;
      int n = found ? k5_next(f, buf.data()) : 0;
      EXPECT_EQ(buf.substr(0, size_t(std::max(n, 0))), found ? order[size_t(want[mode])] : "");
    }
    if (phase % 2) continue;
    ASSERT_NE(k5_close(f), 0);
    EXPECT_TRUE(g_refused.empty());
    if (phase == 0) {  // the fast fill, some primary keys taken twice, some already there
      ASSERT_NE(f = k5_open(name_.c_str(), K_MODE_FAST_FILL, "0,0,0"), nullptr);
      std::vector<std::string> refused;
      for (int i = 0; i < 600; i++) {
        std::string r = rec(i % 450 * 11, 40, char('a' + i % 26));
        ASSERT_NE(k5_write(f, r.data(), 40), 0) << "the fast fill refuses nothing before close";
        m.live.count(r.substr(0, 8)) ? refused.push_back(r) : m.put(r);
      }
      ASSERT_NE(k5_close(f), 0);
      EXPECT_TRUE(
          std::is_permutation(g_refused.begin(), g_refused.end(), refused.begin(), refused.end()))
          << "handed to the callback";
      g_refused.clear();
      const KProgress last = g_progress.empty() ? KProgress{} : g_progress.back();
      EXPECT_TRUE(!g_progress.empty() && g_progress[0].key == 0 && last.key == 2 &&
                  last.key_count == 3 && last.done == last.total &&
                  last.total == int(m.live.size()))
          << "progress";
    }
    ASSERT_NE(f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0"), nullptr) << error();
    expect_model(f, m);
  }
  EXPECT_TRUE(v.version < 4 || (f->data_segment_high >= 2 && f->index_segment_high >= 1));
  ASSERT_NE(k5_close(f), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ModelTest,
    ::testing::Values(Variant{2, "1,0,0,0,0", false}, Variant{2, "1,0,0,1,1", false},
                      Variant{3, "1,0,0,0,0", false}, Variant{3, "1,0,0,1,1", true},
                      Variant{4, "1,0,0,0,0", false}, Variant{4, "1,0,0,70,1", true},
                      Variant{5, "4,0,0,0,0", false}, Variant{5, "4,0,0,1,1", true}));

class LongRecordTest : public KelvraTest, public ::testing::WithParamInterface<int> {};

// Records over several blocks of the one-file versions, of every length from 2000 to 2600
// bytes, so that the last block of one or another holds any number of its bytes: all read
// back whole, through every key both ways.
TEST_P(LongRecordTest, RecordsSpanningManyBlocksReadBack) {
  std::vector<std::string> recs;
  for (int i = 0; i <= 600; i++) recs.push_back(rec(i, 2000 + i));
  ASSERT_NO_FATAL_FAILURE(make(GetParam(), "1,0,0,0,0", "2600,24,3", recs));
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  expect_model(f, model_);
  EXPECT_NE(k5_close(f), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, LongRecordTest, ::testing::Values(2, 3));
