// Shared helpers of the library's tests: a scratch directory and a fresh runtime per test,
// records with known keys, a model of the order each key gives, and a bounded key reader.
#ifndef KELVRA_TEST_SUPPORT_H
#define KELVRA_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/test_format.h"
#include "tests/unit/scratch.h"

using raw::Bytes;
using Errors = std::vector<std::pair<int, int>>;  // file error codes, main and secondary

// The keys of most tests: 0 primary, 8 bytes at 0; 1 with duplicates, 4 bytes at 20 and 3
// at 8; 2 unique, 6 bytes at 12.
inline const char* const kKeys = "1,0,8,0,2,1,4,20,3,8,1,0,6,12";

// A record of len >= 24 bytes with primary key pk: key 1 takes 15 values, key 2 follows pk,
// and the rest is runs of tag and blanks for compression to shorten.
inline std::string rec(int pk, int len = 40, char tag = 'a') {
  char head[32];
  snprintf(head, sizeof head, "%08d%03d %06d  %04d", pk, pk % 5, 999999 - pk % 1000000, pk % 3);
  std::string r(head);
  for (int i = 24; i < len; i++) r.push_back(i % 9 < 4 ? tag : ' ');
  return r;
}

// Live records by primary key and the order each key of kKeys gives them: key bytes through
// the collating table, equal values of key 1 in the order they took them.
struct Model {
  std::map<std::string, std::pair<std::string, int>> live;  // record, serial for key 1
  const uint8_t* table = nullptr;
  int serial = 0;

  std::string key(std::string r, int k) const {
    r.resize(std::max<size_t>(r.size(), 24), '\0');  // a short record has zeros for the rest
    std::string out = std::vector<std::string>{r.substr(0, 8), r.substr(20, 4) + r.substr(8, 3),
                                               r.substr(12, 6)}[size_t(k)];
    for (char& c : out) c = char(table ? table[uint8_t(c)] : c);
    return out;
  }
  void put(const std::string& r) {
    auto it = live.find(r.substr(0, 8));
    int s =
        it != live.end() && key(it->second.first, 1) == key(r, 1) ? it->second.second : serial++;
    live[r.substr(0, 8)] = {r, s};
  }
  std::vector<std::string> order(int k) const {
    std::map<std::pair<std::string, int>, std::string> rows;  // unique: by key, then serial
    for (auto& [pk, e] : live) rows[{key(e.first, k), k == 1 ? e.second : 0}] = e.first;
    std::vector<std::string> out;
    for (auto& [by, r] : rows) out.push_back(r);
    return out;
  }
};

// What reading one key from one end gave, in key order.
struct Scan {
  std::vector<std::string> good;
  Errors errors;       // of the reads that failed
  bool ended = false;  // code 8 at the end of the key
  int calls = 0;
};

class KelvraTest : public Scratch {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Scratch::SetUp());
    name_ = path("f");
    rt_config_reset(), k5_init_cfg(), k5_init();
  }
  void TearDown() override {
    k5_exit(0);
    bKForceOpen = k_open_no_index = k_ixkit = 0;
    k5_register_duplicate(nullptr), k5_register_progress(nullptr), rt_config_reset();
    Scratch::TearDown();
  }
  static int error() { return *rt_file_error(); }
  static int error2() { return *rt_file_error2(); }

  // Makes name_ in version v with kKeys, writes records and tells the model about them.
  void make(int v, const char* storage, const char* sizes, const std::vector<std::string>& recs,
            const uint8_t* table = nullptr) {
    rt_config_set("K_VERSION", 0, v);
    ASSERT_NE(k5_make(name_.c_str(), "test", storage, sizes, kKeys, table), 0) << error();
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (const std::string& r : recs) {
      ASSERT_NE(k5_write(f, r.data(), uint32_t(r.size())), 0) << error() << "/" << error2();
      model_.put(r);
    }
    ASSERT_NE(k5_close(f), 0);
  }

  // 0 when name_ opens in mode (it is closed again), else the file error code times 100 plus,
  // for code 6, the secondary code.
  int open_error(int mode = K_MODE_READ) {
    KFile* f = k5_open(name_.c_str(), mode, "0,0,0");
    return f ? (k5_close(f) ? 0 : -1) : error() * 100 + (error() == 6 ? error2() : 0);
  }

  // Reads key k from one end, at most limit calls. A failed read is tried once more, then
  // the reading stops, except for a damaged record (6/80..85) while k_ixkit is set.
  static Scan scan(KFile* f, int k, bool forward, int limit = 20000, uint8_t lo = 0,
                   uint8_t hi = 0xFF) {
    Scan s;
    Bytes buf(1 << 16, forward ? lo : hi);
    bool go = k5_start(f, buf.data(), k, 0, forward ? K_START_NOT_LESS : K_START_NOT_GREATER);
    if (!go && !(s.ended = error() == 8)) s.errors.emplace_back(error(), error2());
    for (int hard = 0; go && !s.ended && s.calls < limit && hard < 2;) {
      int n = forward ? k5_next(f, buf.data()) : k5_previous(f, buf.data());
      s.calls++;
      if (n > 0) s.good.emplace_back(reinterpret_cast<char*>(buf.data()), size_t(n));
      if (n <= 0 && !(s.ended = error() == 8)) s.errors.emplace_back(error(), error2());
      hard += n <= 0 && !(k_ixkit && error() == 6 && error2() >= 80 && error2() <= 85);
    }
    if (!forward) std::reverse(s.good.begin(), s.good.end());
    return s;
  }

  // Every key, read forwards and backwards, gives exactly the model's records in order, and
  // the record count is the model's.
  static void expect_model(KFile* f, const Model& m) {
    int lo = 0, hi = 255;
    while (m.table && m.table[lo] != 0) lo++;
    while (m.table && m.table[hi] != 255) hi--;
    char count[32];
    EXPECT_TRUE(k5_info(f, -4, count) && std::stoul(count) == m.live.size()) << "record count";
    for (int k = 0; k < 3 * 2; k++) {
      Scan s = scan(f, k / 2, k % 2, 20000, uint8_t(lo), uint8_t(hi));
      EXPECT_TRUE(s.ended && s.errors.empty() && s.good == m.order(k / 2)) << "key " << k / 2;
    }
  }

  std::string name_;
  Model model_;
};

#endif  // KELVRA_TEST_SUPPORT_H
