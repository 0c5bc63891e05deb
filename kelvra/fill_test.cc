// Both fill modes: indexes complete after close, duplicates handed to the callback and
// taken out of the file, progress reported from the first key to the last.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kelvra/test_support.h"

namespace {

std::vector<std::string> g_duplicates;
std::vector<KProgress> g_progress;

void on_duplicate(const KDuplicate* d) {
  g_duplicates.emplace_back(reinterpret_cast<const char*>(d->record), d->length);
}
void on_progress(const KProgress* p) {
  g_progress.push_back(*p);
}

// Record i: primary key (8 digits) from a permutation, alternate key with duplicates.
std::string record(uint32_t pk, uint32_t alt, char fill) {
  char buf[64];
  snprintf(buf, sizeof buf, "%08u%05u", pk, alt);
  std::string r(buf);
  r.resize(40, fill);
  return r;
}

class FillTest : public KelvraTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    g_duplicates.clear();
    g_progress.clear();
    k5_register_duplicate(on_duplicate);
    k5_register_progress(on_progress);
    rt_config_set("K_VERSION", 0, GetParam());
    name_ = path("fill");
    ASSERT_NE(k5_make(name_.c_str(), "", "0,0,0,1,0", "40,40,2", "1,0,8,0,1,1,5,8", nullptr), 0);
  }

  // Every record by key k, in order.
  std::vector<std::string> scan(int k) {
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    EXPECT_NE(f, nullptr);
    std::vector<std::string> out;
    if (!f) return out;
    std::vector<uint8_t> buf(40, 0);
    if (k5_start(f, buf.data(), k, 0, K_START_NOT_LESS)) {
      int n;
      while ((n = k5_next(f, buf.data())) > 0)
        out.emplace_back(reinterpret_cast<char*>(buf.data()), n);
    }
    k5_close(f);
    return out;
  }

  std::string name_;
};

TEST_P(FillTest, FastFillBuildsEveryIndexAndRefusesDuplicates) {
  // Small sort memory: the keys go through sorted runs on disk.
  rt_config_set("K_SORT_MEMORY", 0, 65536);
  const uint32_t n = 6000;
  KFile* f = k5_open(name_.c_str(), K_MODE_FAST_FILL, "0,0,0");
  ASSERT_NE(f, nullptr);
  std::map<uint32_t, std::string> kept;
  std::vector<std::string> refused;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t pk = (i * 7919 + 13) % 5000;  // the records from 5000 on repeat earlier keys
    std::string r = record(pk, i % 37, static_cast<char>('a' + i % 26));
    ASSERT_NE(k5_write(f, r.data(), 40), 0) << "the fast fill refuses nothing before close";
    if (kept.count(pk)) {
      refused.push_back(r);
    } else {
      kept[pk] = r;
    }
  }
  ASSERT_NE(k5_close(f), 0);
  EXPECT_EQ(g_duplicates, refused) << "each later record of a key, in writing order";

  std::vector<std::string> by_primary = scan(0);
  std::vector<std::string> want;
  for (auto& [pk, r] : kept) want.push_back(r);
  EXPECT_TRUE(by_primary == want);
  // The alternate key keeps equal values in writing order.
  std::vector<std::string> by_alt = scan(1);
  std::vector<std::pair<std::string, uint32_t>> order;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t pk = (i * 7919 + 13) % 5000;
    if (kept[pk] == record(pk, i % 37, static_cast<char>('a' + i % 26))) {
      order.push_back({kept[pk].substr(8, 5), i});
    }
  }
  std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.first < b.first; });
  ASSERT_EQ(by_alt.size(), order.size());
  for (size_t i = 0; i < order.size(); i++) {
    uint32_t pk = (order[i].second * 7919 + 13) % 5000;
    EXPECT_EQ(by_alt[i], kept[pk]);
  }

  // Refused records went onto the deleted chain; the record count excludes them.
  KFile* r = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(r, nullptr);
  char text[32];
  k5_info(r, -4, text);
  EXPECT_EQ(std::stoul(text), kept.size());
  EXPECT_TRUE(r->deleted_head != 0 || r->deleted_head_segment != 0);
  k5_close(r);

  // Progress: every key, ending each with all records done, keys in order.
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.front().key, 0);
  EXPECT_EQ(g_progress.back().key, 1);
  EXPECT_EQ(g_progress.back().done, g_progress.back().total);
  EXPECT_EQ(g_progress.back().total, static_cast<int32_t>(kept.size()));
  EXPECT_EQ(g_progress.back().key_count, 2);
  for (size_t i = 1; i < g_progress.size(); i++) {
    bool forward =
        g_progress[i].key > g_progress[i - 1].key || (g_progress[i].key == g_progress[i - 1].key &&
                                                      g_progress[i].done >= g_progress[i - 1].done);
    EXPECT_TRUE(forward) << "progress went back at report " << i;
  }
}

TEST_P(FillTest, FastFillMergesWithRecordsAlreadyThere) {
  KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  std::map<uint32_t, std::string> want;
  for (uint32_t pk = 0; pk < 3000; pk += 3) {
    want[pk] = record(pk, pk % 11, 'x');
    ASSERT_NE(k5_write(f, want[pk].data(), 40), 0);
  }
  ASSERT_NE(k5_close(f), 0);
  f = k5_open(name_.c_str(), K_MODE_FAST_FILL, "0,0,0");
  ASSERT_NE(f, nullptr);
  for (uint32_t pk = 0; pk < 3000; pk += 2) {
    std::string r = record(pk, pk % 11, 'y');
    ASSERT_NE(k5_write(f, r.data(), 40), 0);
    if (!want.count(pk)) want[pk] = r;  // a key already there keeps its old record
  }
  ASSERT_NE(k5_close(f), 0);
  EXPECT_EQ(g_duplicates.size(), 500u);
  std::vector<std::string> expect;
  for (auto& [pk, r] : want) expect.push_back(r);
  EXPECT_TRUE(scan(0) == expect);
  EXPECT_EQ(scan(1).size(), want.size());
}

TEST_P(FillTest, OrdinaryFillRefusesDuplicatesAtOnce) {
  KFile* f = k5_open(name_.c_str(), K_MODE_FILL, "0,0,0");
  ASSERT_NE(f, nullptr);
  std::string a = record(5, 1, 'a'), b = record(5, 2, 'b'), c = record(6, 1, 'c');
  EXPECT_NE(k5_write(f, a.data(), 40), 0);
  EXPECT_EQ(k5_write(f, b.data(), 40), 0);
  EXPECT_EQ(error(), 7);
  EXPECT_NE(k5_write(f, c.data(), 40), 0);
  ASSERT_NE(k5_close(f), 0);
  EXPECT_TRUE(g_duplicates.empty());
  EXPECT_EQ(scan(0), (std::vector<std::string>{a, c}));
}

INSTANTIATE_TEST_SUITE_P(Versions, FillTest, ::testing::Values(2, 3, 4, 5));

}  // namespace
