// Files spread over several data and index segments by a small segment size: every record
// found again by every key, the open-file record's segment fields, the segment files'
// names, headers and sizes, the empty header that ends a segment a record did not fit, and
// the removal and replacement of every segment of a file.
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kelvra/test_format.h"
#include "kelvra/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kMax = 220, kMin = 40;
constexpr uint32_t kSegment = 4096;

// Three keys: 0 primary (8 at 0); 1 (6 at 8, duplicates); 2 (4 at 14 and 8 at 0).
const char* kKeys = "1,0,8,0,1,1,6,8,2,0,4,14,8,0";

class SegmentTest : public KelvraTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    name_ = path("seg");
  }

  std::string record(int i) {
    int len = std::uniform_int_distribution<int>(kMin, kMax)(rng_);
    char head[32];
    snprintf(head, sizeof head, "%08d%06d%04d", (i * 7919) % 100000, i % 9, i);
    std::string r(head);
    while (static_cast<int>(r.size()) < len) r.push_back(static_cast<char>('a' + rng_() % 26));
    r.resize(static_cast<size_t>(len));
    return r;
  }

  // Makes the file with small segments and writes n records.
  void fill(int n, int blocking = 1) {
    rt_config_set("K_VERSION", 0, GetParam());
    rt_config_set("K_SEGMENT_SIZE", 0, kSegment);
    char storage[32], sizes[32];
    snprintf(storage, sizeof storage, "%d,0,0,0,0", blocking);
    snprintf(sizes, sizeof sizes, "%d,%d,3", kMax, kMin);
    ASSERT_NE(k5_make(name_.c_str(), "segments", storage, sizes, kKeys, nullptr), 0) << error();
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    int high = 0;
    for (int i = 0; i < n; i++) {
      std::string r = record(i);
      ASSERT_NE(k5_write(f, r.data(), static_cast<uint32_t>(r.size())), 0) << error();
      written_.push_back(r);
      // The open-file record follows the file as it grows.
      EXPECT_GE(f->data_segment_high, high);
      high = f->data_segment_high;
    }
    EXPECT_GE(f->data_segment_high, 2) << "at least three data segments";
    EXPECT_GE(f->index_segment_high, 1) << "at least two index segments";
    ASSERT_NE(k5_close(f), 0);
  }

  // Every key gives back every record, in the key's order.
  void read_all_keys(KFile* f) {
    static const std::vector<std::vector<std::pair<int, int>>> segs = {
        {{8, 0}}, {{6, 8}}, {{4, 14}, {8, 0}}};
    for (int k = 0; k < 3; k++) {
      std::multimap<std::string, std::string> want;
      for (size_t i = 0; i < written_.size(); i++) {
        std::string key;
        for (auto [size, offset] : segs[static_cast<size_t>(k)])
          key += written_[i].substr(offset, size);
        // Equal keys keep the order they were written in.
        char order[24];
        snprintf(order, sizeof order, "%08zu", i);
        want.emplace(key + (k == 1 ? order : ""), written_[i]);
      }
      std::vector<uint8_t> buf(kMax, 0);
      ASSERT_NE(k5_start(f, buf.data(), k, 0, K_START_NOT_LESS), 0) << "key " << k;
      auto it = want.begin();
      int n;
      size_t got = 0;
      while (got <= written_.size() && (n = k5_next(f, buf.data())) > 0) {
        ASSERT_NE(it, want.end());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n)),
                  it->second)
            << "key " << k << " record " << got;
        ++it;
        got++;
      }
      EXPECT_EQ(error(), 8);
      EXPECT_EQ(got, written_.size()) << "key " << k;
      // Each record by an equal start on its primary key.
    }
    std::vector<uint8_t> buf(kMax, 0);
    for (size_t i = 0; i < written_.size(); i += 7) {
      memcpy(buf.data(), written_[i].data(), 8);
      ASSERT_NE(k5_start(f, buf.data(), 0, 0, K_START_EQUAL), 0);
      int n = k5_next(f, buf.data());
      EXPECT_EQ(
          std::string(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n > 0 ? n : 0)),
          written_[i]);
    }
  }

  std::string name_;
  std::vector<std::string> written_;
  std::mt19937 rng_{777};
};

TEST_P(SegmentTest, RecordsAndNodesSpreadOverSegments) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(fill(150));
  raw::File rf(name_);
  ASSERT_TRUE(rf.valid());
  int hsize = v == 5 ? 15 : 4;
  EXPECT_EQ(rf.segment_size(), kSegment);
  int data_high = static_cast<int>(rf.field(6));
  uint32_t per = (kSegment - 512) / 512;
  int index_high = static_cast<int>((rf.field(61) - 1) / per);

  // The segment files that exist are exactly those the header names.
  EXPECT_STREQ(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 0), name_.c_str());
  for (int n = 1; n <= data_high + 1; n++) {
    std::string want = raw::data_path(name_, n);
    EXPECT_EQ(std::string(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, n)), want);
    EXPECT_EQ(raw::exists(want), n <= data_high) << want;
  }
  for (int n = 0; n <= index_high + 1; n++) {
    std::string want = raw::index_path(name_, n);
    EXPECT_EQ(std::string(ki_segment_name(name_.c_str(), K_SEGMENT_INDEX, n)), want);
    EXPECT_EQ(raw::exists(want), n <= index_high) << want;
  }

  // The open-file record.
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  EXPECT_EQ(f->data_segment_high, data_high);
  EXPECT_EQ(f->index_segment_high, index_high);
  EXPECT_EQ(f->segment_size, kSegment);
  for (int n = 0; n <= data_high; n++) {
    int64_t size = raw::file_size(raw::data_path(name_, n));
    EXPECT_EQ(f->data_segment_size[n], size) << "data segment " << n;
    EXPECT_LE(size, static_cast<int64_t>(kSegment));
  }
  for (int n = 0; n <= index_high; n++) {
    int64_t size = raw::file_size(raw::index_path(name_, n));
    EXPECT_EQ(f->index_segment_size[n], size) << "index segment " << n;
    EXPECT_LE(size, static_cast<int64_t>(kSegment));
  }
  read_all_keys(f);
  ASSERT_NE(k5_close(f), 0);

  // Segment headers: magic, version, code, number and the file's stamp.
  uint32_t stamp = static_cast<uint32_t>(rf.field(24));
  uint32_t magic = static_cast<uint32_t>(raw::load(rf.header_bytes().data(), 4, true));
  for (int n = 1; n <= data_high; n++) {
    const Bytes& d = rf.data_segment(n);
    ASSERT_GE(d.size(), 512u);
    EXPECT_EQ(raw::load(d.data(), 4, true), magic);
    EXPECT_EQ(raw::load(d.data() + 4, 2, true), static_cast<uint64_t>(v));
    EXPECT_EQ(raw::load(d.data() + 6, 2, true), 255u);
    EXPECT_EQ(raw::load(d.data() + 8, 4, true), static_cast<uint64_t>(n));
    EXPECT_EQ(raw::load(d.data() + K_offsets[v][KF_DATA_STAMP], 4, true), stamp);
    for (size_t i = 16; i < 512; i++) EXPECT_EQ(d[i], 0) << "data segment " << n << " byte " << i;
  }
  for (int n = 0; n <= index_high; n++) {
    const Bytes& x = rf.index_segment(n);
    ASSERT_GE(x.size(), 512u);
    EXPECT_EQ(raw::load(x.data() + 6, 2, true), 254u);
    EXPECT_EQ(raw::load(x.data() + 8, 4, true), static_cast<uint64_t>(n));
    EXPECT_EQ(raw::load(x.data() + 12, 4, true), 512u);
    EXPECT_EQ(raw::load(x.data() + K_offsets[v][KF_INDEX_STAMP], 4, true), stamp);
  }

  // The record area: every record in writing order across the segments; each segment ends
  // with an empty header where the next record would not have fit.
  raw::Pos end;
  std::vector<raw::Pos> ends;
  std::vector<raw::Record> recs = rf.walk(&end, &ends);
  ASSERT_EQ(recs.size(), written_.size());
  for (size_t i = 0; i < recs.size(); i++) {
    Bytes content;
    ASSERT_TRUE(rf.content(recs[i], &content));
    EXPECT_EQ(std::string(content.begin(), content.end()), written_[i]) << "record " << i;
    if (i > 0 && recs[i].pos.segment != recs[i - 1].pos.segment) {
      EXPECT_EQ(recs[i].pos.segment, recs[i - 1].pos.segment + 1);
      EXPECT_EQ(recs[i].pos.offset, 512u) << "records of a further segment start after its header";
      raw::Pos seg_end = recs[i - 1].after;
      uint64_t need = seg_end.offset + static_cast<uint64_t>(hsize) + recs[i].h.stored;
      EXPECT_GT(need, kSegment) << "the record would have fit in segment " << seg_end.segment;
      const Bytes& d = rf.data_segment(seg_end.segment);
      if (seg_end.offset + static_cast<uint64_t>(hsize) <= kSegment) {
        ASSERT_GE(d.size(), seg_end.offset + static_cast<size_t>(hsize))
            << "the empty header that ends segment " << seg_end.segment;
        for (int b = 0; b < hsize; b++) EXPECT_EQ(d[seg_end.offset + static_cast<size_t>(b)], 0);
      }
    }
    EXPECT_LE(recs[i].after.offset, kSegment);
  }
  EXPECT_EQ(static_cast<int>(ends.size()), data_high + 1);
  EXPECT_TRUE(end == rf.end()) << "end of data";
  EXPECT_EQ(rf.field(20), written_.size());

  // The trees: every node where the node number puts it, in both index segments.
  std::set<int> index_used;
  for (int k = 0; k < 3; k++) {
    std::vector<raw::Leaf> leaves;
    std::vector<uint32_t> nodes;
    uint64_t space;
    ASSERT_TRUE(rf.tree(k, &leaves, &nodes, &space)) << "key " << k;
    size_t entries = 0;
    for (const raw::Leaf& l : leaves) entries += l.entries.size();
    EXPECT_EQ(entries, written_.size());
    for (uint32_t n : nodes) index_used.insert(static_cast<int>((n - 1) / per));
  }
  EXPECT_EQ(static_cast<int>(index_used.size()), index_high + 1);

  // A strict open accepts the file and reading by every key gives the same.
  rt_config_set("K_OPEN_STRICT", 0, 1);
  f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  read_all_keys(f);
  ASSERT_NE(k5_close(f), 0);
}

// The segment size is raised so that segment 0 holds the header, the dictionary and the
// largest record, and an index segment one node.
TEST_P(SegmentTest, SegmentSizeRaisedForLargeRecordsAndBlocks) {
  int v = GetParam();
  rt_config_set("K_VERSION", 0, v);
  rt_config_set("K_SEGMENT_SIZE", 0, kSegment);
  ASSERT_NE(k5_make(name_.c_str(), "", "2,0,0,0,0", "9000,9000,1", "1,0,8,0", nullptr), 0);
  raw::File rf(name_);
  uint32_t need = 512 + static_cast<uint32_t>(rf.field(60)) + (v == 5 ? 15 : 4) + 9000;
  EXPECT_GE(rf.segment_size(), need);
  KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  std::string big(9000, 'q');
  for (int i = 0; i < 4; i++) {
    snprintf(big.data(), 9, "%08d", i);
    big[8] = 'q';
    ASSERT_NE(k5_write(f, big.data(), 9000), 0) << error() << "/" << error2();
  }
  EXPECT_GE(f->data_segment_high, 2);
  ASSERT_NE(k5_close(f), 0);
  raw::File after(name_);
  std::vector<raw::Record> recs = after.walk();
  ASSERT_EQ(recs.size(), 4u);
  for (const raw::Record& r : recs) EXPECT_LE(r.after.offset, after.segment_size());
  if (v == 5) {
    // Version 5 allows blocks of 16 units: an index segment still holds a node.
    ASSERT_NE(k5_make(name_.c_str(), "", "16,0,0,0,0", "100,100,1", "1,0,8,0", nullptr), 0);
    raw::File wide(name_);
    EXPECT_GE(wide.segment_size(), 512u + 16 * 512);
  }
}

// k5_remove takes every segment; k5_make over an existing file takes all of the old one's.
TEST_P(SegmentTest, RemoveAndReplaceTakeEverySegment) {
  int v = GetParam();
  ASSERT_NO_FATAL_FAILURE(fill(150));
  raw::File rf(name_);
  int data_high = static_cast<int>(rf.field(6));
  int index_high = static_cast<int>((rf.field(61) - 1) / ((kSegment - 512) / 512));
  ASSERT_GE(data_high, 2);
  ASSERT_GE(index_high, 1);
  auto all_gone = [&](int first_data, int first_index) {
    for (int n = first_data; n <= data_high; n++) {
      EXPECT_FALSE(raw::exists(raw::data_path(name_, n))) << "data segment " << n;
    }
    for (int n = first_index; n <= index_high; n++) {
      EXPECT_FALSE(raw::exists(raw::index_path(name_, n))) << "index segment " << n;
    }
  };

  // A new file of the same name, default segment size: one data and one index segment.
  rt_config_set("K_SEGMENT_SIZE", 0, 1 << 20);
  ASSERT_NE(k5_make(name_.c_str(), "again", "1,0,0,0,0", "100,100,1", "1,0,8,0", nullptr), 0);
  all_gone(1, 1);
  EXPECT_TRUE(raw::exists(name_));
  EXPECT_TRUE(raw::exists(raw::index_path(name_, 0)));
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  char count[32];
  ASSERT_NE(k5_info(f, -4, count), 0);
  EXPECT_STREQ(count, "0");
  EXPECT_EQ(f->data_segment_high, 0);
  EXPECT_EQ(f->index_segment_high, 0);
  ASSERT_NE(k5_close(f), 0);

  // Replaced by a version-3 file: no index segment stays behind.
  written_.clear();
  ASSERT_NO_FATAL_FAILURE(fill(150));
  rt_config_set("K_VERSION", 0, 3);
  ASSERT_NE(k5_make(name_.c_str(), "v3", "1,0,0,0,0", "100,100,1", "1,0,8,0", nullptr), 0);
  all_gone(1, 0);
  EXPECT_EQ(raw::File(name_).version(), 3);

  // k5_remove of a segmented file.
  rt_config_set("K_VERSION", 0, v);
  written_.clear();
  ASSERT_NO_FATAL_FAILURE(fill(150));
  ASSERT_NE(k5_remove(name_.c_str()), 0) << error();
  all_gone(0, 0);
  EXPECT_FALSE(raw::exists(name_));
  EXPECT_EQ(k5_remove(name_.c_str()), 0);
  EXPECT_EQ(error(), 15);
  // With k_open_no_index the data segments go as well, and a missing index is no obstacle.
  written_.clear();
  ASSERT_NO_FATAL_FAILURE(fill(150));
  ASSERT_EQ(unlink(raw::index_path(name_, 1).c_str()), 0);
  k_open_no_index = 1;
  ASSERT_NE(k5_remove(name_.c_str()), 0) << error();
  k_open_no_index = 0;
  all_gone(0, 0);
  EXPECT_FALSE(raw::exists(name_));
}

INSTANTIATE_TEST_SUITE_P(Versions, SegmentTest, ::testing::Values(4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

}  // namespace
