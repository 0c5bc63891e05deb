// Long random runs of writes, rewrites, deletes, starts and reads against an in-memory
// model of every key, for each format version and storage variant.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "kelvra/test_support.h"

namespace {

// Keys of the records: 0 primary (8 bytes at 0); 1 two segments (4 at 20, 3 at 8) with
// duplicates; 2 unique (6 at 12).
struct Seg {
  int size, offset;
};
const std::vector<std::vector<Seg>> kKeys = {{{8, 0}}, {{4, 20}, {3, 8}}, {{6, 12}}};
const bool kDups[] = {false, true, false};
constexpr int kMin = 30, kMax = 60;

struct Variant {
  int version;
  int compression;
  int encryption;
  bool collating;
  const char* name;
};

struct Model {
  struct Rec {
    std::string bytes;
    uint64_t serial1;  // order among equal values of key 1
  };
  std::map<std::string, Rec> by_primary;
  uint64_t next_serial = 0;
};

class ModelTest : public KelvraTest, public ::testing::WithParamInterface<Variant> {
 protected:
  uint8_t table_[256];
  std::mt19937 rng_{12345};

  std::string key_of(const std::string& rec, int k) const {
    std::string out;
    for (const Seg& s : kKeys[static_cast<size_t>(k)]) {
      for (int i = 0; i < s.size; i++) {
        size_t at = static_cast<size_t>(s.offset + i);
        uint8_t b = at < rec.size() ? static_cast<uint8_t>(rec[at]) : 0;
        out.push_back(static_cast<char>(GetParam().collating ? table_[b] : b));
      }
    }
    return out;
  }

  // The records in key k's order, as the model has them.
  std::vector<std::string> expected(const Model& m, int k) const {
    std::vector<std::tuple<std::string, uint64_t, std::string>> rows;
    for (const auto& [pk, r] : m.by_primary) {
      rows.emplace_back(key_of(r.bytes, k), k == 1 ? r.serial1 : 0, r.bytes);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> out;
    for (auto& row : rows) out.push_back(std::get<2>(row));
    return out;
  }

  // The character at collating position 0 (lowest) or 255 (highest).
  uint8_t edge_char(int position) const {
    if (!GetParam().collating) return static_cast<uint8_t>(position);
    for (int c = 0; c < 256; c++) {
      if (table_[c] == position) return static_cast<uint8_t>(c);
    }
    return 0;
  }

  std::string random_record(const std::string& pk) {
    int len = std::uniform_int_distribution<int>(kMin, kMax)(rng_);
    std::string r(static_cast<size_t>(len), ' ');
    for (int i = 0; i < len; i++) {
      // Runs of blanks and zeros give compression something to do.
      int pick = std::uniform_int_distribution<int>(0, 9)(rng_);
      r[static_cast<size_t>(i)] =
          pick < 3 ? ' ' : (pick < 4 ? '\0' : static_cast<char>('a' + pick));
    }
    memcpy(r.data(), pk.data(), 8);
    const char* small = "AaBb";
    for (int i = 0; i < 4; i++) r[static_cast<size_t>(20 + i)] = small[rng_() % 4];  // key 1
    for (int i = 0; i < 6; i++) r[static_cast<size_t>(12 + i)] = small[rng_() % 4];  // key 2
    return r;
  }

  std::string random_pk() {
    char buf[16];
    snprintf(buf, sizeof buf, "%08u", static_cast<unsigned>(rng_() % 5000));
    return buf;
  }

  void scan_and_compare(KFile* f, const Model& m) {
    std::vector<uint8_t> buf(kMax);
    for (int k = 0; k < 3; k++) {
      std::vector<std::string> want = expected(m, k);
      std::vector<uint8_t> low(kMax, edge_char(0));
      std::vector<std::string> got;
      if (!want.empty()) {
        ASSERT_NE(k5_start(f, low.data(), k, 0, K_START_NOT_LESS), 0) << "key " << k;
      } else {
        ASSERT_EQ(k5_start(f, low.data(), k, 0, K_START_NOT_LESS), 0);
        EXPECT_EQ(error(), 8);
      }
      int n;
      while ((n = k5_next(f, buf.data())) > 0)
        got.emplace_back(reinterpret_cast<char*>(buf.data()), n);
      EXPECT_EQ(error(), 8);
      ASSERT_EQ(got.size(), want.size()) << "key " << k;
      EXPECT_TRUE(got == want) << "forward order of key " << k;
      // Backwards from the highest key.
      std::vector<uint8_t> high(kMax, edge_char(255));
      got.clear();
      if (!want.empty()) {
        ASSERT_NE(k5_start(f, high.data(), k, 0, K_START_NOT_GREATER), 0);
      }
      while (!want.empty() && (n = k5_previous(f, buf.data())) > 0) {
        got.emplace_back(reinterpret_cast<char*>(buf.data()), n);
      }
      std::reverse(got.begin(), got.end());
      EXPECT_TRUE(got == want) << "backward order of key " << k;
    }
  }

  // A start in every mode at a random probe, checked against the model's order.
  void probe_starts(KFile* f, const Model& m) {
    std::vector<uint8_t> buf(kMax);
    for (int t = 0; t < 20; t++) {
      int k = static_cast<int>(rng_() % 3);
      int mode = static_cast<int>(rng_() % 5);
      std::string probe_rec = random_record(random_pk());
      std::string probe = key_of(probe_rec, k);
      std::vector<std::string> order = expected(m, k);
      // Position of the answer in the model.
      long answer = -1;
      long n = static_cast<long>(order.size());
      auto cmp = [&](long i) { return key_of(order[static_cast<size_t>(i)], k).compare(probe); };
      switch (mode) {
        case K_START_EQUAL:
        case K_START_NOT_LESS:
          for (long i = 0; i < n && answer < 0; i++) {
            if (cmp(i) >= 0) answer = i;
          }
          if (mode == K_START_EQUAL && answer >= 0 && cmp(answer) != 0) answer = -1;
          break;
        case K_START_GREATER:
          for (long i = 0; i < n && answer < 0; i++) {
            if (cmp(i) > 0) answer = i;
          }
          break;
        case K_START_LESS:
          for (long i = n - 1; i >= 0 && answer < 0; i--) {
            if (cmp(i) < 0) answer = i;
          }
          break;
        case K_START_NOT_GREATER:
          for (long i = n - 1; i >= 0 && answer < 0; i--) {
            if (cmp(i) <= 0) answer = i;
          }
          break;
      }
      std::vector<uint8_t> rec(kMax, 0);
      memcpy(rec.data(), probe_rec.data(), probe_rec.size());
      int ok = k5_start(f, rec.data(), k, 0, mode);
      if (answer < 0) {
        EXPECT_EQ(ok, 0) << "mode " << mode;
        continue;
      }
      ASSERT_NE(ok, 0) << "mode " << mode << " key " << k;
      int len = k5_next(f, buf.data());
      ASSERT_GT(len, 0);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data()), len),
                order[static_cast<size_t>(answer)]);
    }
  }
};

TEST_P(ModelTest, RandomOperationsMatchTheModel) {
  const Variant& v = GetParam();
  // A collating table that orders letters case-blind: 'A' and 'a' compare equal.
  for (int c = 0; c < 256; c++) table_[c] = static_cast<uint8_t>(255 - c);
  for (int c = 'a'; c <= 'z'; c++) table_[c] = table_[c - 32];
  rt_config_set("K_VERSION", 0, v.version);
  rt_config_set("K_SEGMENT_SIZE", 0, 4096);
  std::string name = path("model");
  char storage[64];
  snprintf(storage, sizeof storage, "%d,0,0,%d,%d", v.version == 5 ? 4 : 1, v.compression,
           v.encryption);
  char sizes[32];
  snprintf(sizes, sizeof sizes, "%d,%d,3", kMax, kMin);
  ASSERT_NE(k5_make(name.c_str(), "model test", storage, sizes, "1,0,8,0,2,1,4,20,3,8,1,0,6,12",
                    v.collating ? table_ : nullptr),
            0);
  Model m;
  KFile* f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->version, v.version);
  for (int phase = 0; phase < 6; phase++) {
    for (int op = 0; op < 400; op++) {
      int what = static_cast<int>(rng_() % 10);
      if (what < 5 || m.by_primary.empty()) {
        std::string pk = random_pk();
        std::string rec = random_record(pk);
        bool taken = m.by_primary.count(pk) > 0;
        for (const auto& [p, r] : m.by_primary) {
          if (key_of(r.bytes, 2) == key_of(rec, 2)) taken = true;
        }
        int ok = k5_write(f, rec.data(), static_cast<uint32_t>(rec.size()));
        if (taken) {
          ASSERT_EQ(ok, 0);
          ASSERT_EQ(error(), 7);
        } else {
          ASSERT_NE(ok, 0) << "write error " << error() << "/" << error2();
          m.by_primary[pk] = {rec, m.next_serial++};
        }
      } else if (what < 8) {
        auto it = m.by_primary.begin();
        std::advance(it, static_cast<long>(rng_() % m.by_primary.size()));
        std::string rec = random_record(it->first);
        bool taken = false;
        for (const auto& [p, r] : m.by_primary) {
          if (p != it->first && key_of(r.bytes, 2) == key_of(rec, 2)) taken = true;
        }
        int ok = k5_rewrite(f, rec.data(), static_cast<uint32_t>(rec.size()));
        if (taken) {
          ASSERT_EQ(ok, 0);
          ASSERT_EQ(error(), 7);
        } else {
          ASSERT_NE(ok, 0) << "rewrite error " << error() << "/" << error2();
          bool moved_in_key1 = key_of(it->second.bytes, 1) != key_of(rec, 1);
          it->second.bytes = rec;
          if (moved_in_key1) it->second.serial1 = m.next_serial++;
        }
      } else {
        auto it = m.by_primary.begin();
        std::advance(it, static_cast<long>(rng_() % m.by_primary.size()));
        ASSERT_NE(k5_delete(f, it->second.bytes.data()), 0) << "delete error " << error();
        m.by_primary.erase(it);
      }
    }
    char count[32];
    ASSERT_NE(k5_info(f, -4, count), 0);
    EXPECT_EQ(std::stoul(count), m.by_primary.size());
    scan_and_compare(f, m);
    probe_starts(f, m);
    if (phase % 2 == 1) {
      ASSERT_NE(k5_close(f), 0);
      f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
      ASSERT_NE(f, nullptr) << "reopen error " << error() << "/" << error2();
      scan_and_compare(f, m);
    }
  }
  if (v.version >= 4) {
    EXPECT_GE(f->data_segment_high, 2);
  }
  ASSERT_NE(k5_close(f), 0);
  // A strict, unforced open accepts what the library wrote.
  rt_config_set("K_OPEN_STRICT", 0, 1);
  f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << "strict open error " << error() << "/" << error2();
  scan_and_compare(f, m);
  ASSERT_NE(k5_close(f), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ModelTest,
    ::testing::Values(Variant{2, 0, 0, false, "v2"}, Variant{2, 1, 1, false, "v2_packed"},
                      Variant{3, 0, 0, false, "v3"}, Variant{3, 1, 1, true, "v3_packed"},
                      Variant{4, 0, 0, false, "v4"}, Variant{4, 70, 1, true, "v4_packed"},
                      Variant{5, 0, 0, false, "v5"}, Variant{5, 1, 1, true, "v5_packed"},
                      Variant{5, 0, 0, true, "v5_collated"}),
    [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

}  // namespace
