// -deleted: the deleted chain then the abandoned chain of a version-5 file, across data
// segments, in every framing; the files it refuses and the chains it cannot walk.
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/transfer/transfer_support.h"

namespace {

using transfer_test::be16;
using transfer_test::kUsageStart;
using transfer_test::le32;
using transfer_test::NewFile;
using transfer_test::padded;

std::string record(int i, size_t length = 90) {
  char key[16];
  snprintf(key, sizeof key, "%08d", i);
  std::string r = key;
  for (size_t j = r.size(); j < length; ++j) r += static_cast<char>('a' + (i + j) % 26);
  return r;
}

class DeletedTest : public transfer_test::TransferTest {
 protected:
  // 60 records over two data segments of 4096 bytes; records 3 and 45 rewritten longer (their
  // old slots abandoned), then 5, 50 and 10 deleted.
  void make_source(const std::string& storage = "0,0,0,0,0") {
    name_ = path("k");
    make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0", .storage = storage, .segment_size = 4096});
    std::vector<std::string> all;
    for (int i = 0; i < 60; ++i) all.push_back(record(i));
    put(name_, all);
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i : {3, 45}) {
      std::string longer = record(i, 200);
      ASSERT_NE(k5_rewrite(f, longer.data(), 200), 0);
    }
    for (int i : {5, 50, 10}) ASSERT_NE(k5_delete(f, record(i).data()), 0);
    ASSERT_NE(k5_close(f), 0);
  }
  // Records in the order -deleted writes them: the deleted chain (last deleted first), then
  // the abandoned chain.
  std::vector<std::string> recovered() const {
    return {record(10), record(50), record(5), record(45), record(3)};
  }
  std::string header() const {
    return "Record size = 200\nRecovering deleted records from " + name_ + "...\n";
  }
  // The segment file and offset of the head of the deleted chain.
  void head(std::string* segment, uint32_t* offset, uint16_t* number = nullptr) {
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    *segment = ki_segment_name(name_.c_str(), K_SEGMENT_DATA, f->deleted_head_segment);
    *offset = f->deleted_head;
    if (number != nullptr) *number = f->deleted_head_segment;
    k5_close(f);
  }
  void patch(const std::string& file, uint32_t at, const std::string& bytes) {
    std::fstream s(file, std::ios::in | std::ios::out | std::ios::binary);
    s.seekp(at);
    s.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(s.good());
  }
  std::string name_;
};

TEST_F(DeletedTest, DeletedRecordsThenAbandonedOnesInChainOrderAcrossSegments) {
  make_source();
  // Record 50 lies in the second data segment, so the deleted chain goes 0, 1, 0.
  ASSERT_NE(read_file(name_ + ".d1").find(record(50).substr(0, 8)), std::string::npos);
  ASSERT_EQ(read_file(name_).find(record(50).substr(0, 8)), std::string::npos);

  auto r = run({"-deleted", "-bv", name_, path("flat")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, header());
  EXPECT_EQ(r.err, "5 deleted records recovered\n");
  std::string want;
  for (const std::string& rec : recovered()) want += be16(90) + rec;
  EXPECT_TRUE(e2e::file_holds(path("flat"), want));

  // The recovered records load back into the file they came from.
  r = run({"-load", "-lrbv", path("flat"), name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(records(name_).size(), 60u);
  EXPECT_EQ(records(name_)[3], record(3)) << "the old content of a rewritten record";
}

TEST_F(DeletedTest, EveryFraming) {
  make_source();
  auto r = run({"-deleted", name_, path("fixed")});
  EXPECT_EQ(r.status, 0) << r;
  std::string fixed, native, lines;
  for (const std::string& rec : recovered()) {
    fixed += padded(rec, 200);
    native += le32(90) + rec;
    lines += rec + "\n";
  }
  EXPECT_TRUE(e2e::file_holds(path("fixed"), fixed));
  r = run({"-deleted", "-vq", name_, path("native")});
  EXPECT_TRUE(e2e::file_holds(path("native"), native)) << r;
  r = run({"-deleted", "-tv", name_, path("lines")});
  EXPECT_TRUE(e2e::file_holds(path("lines"), lines)) << r;
}

TEST_F(DeletedTest, CompressedRecordsAreExpanded) {
  name_ = path("k");
  make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0", .storage = "0,0,0,1,0"});
  std::string spaced = padded("00000001", 150, ' ') + "end";
  std::string plain = record(2, 60);
  put(name_, {spaced, plain, record(3)});
  KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(k5_delete(f, spaced.data()), 0);
  ASSERT_NE(k5_delete(f, plain.data()), 0);
  k5_close(f);
  ASSERT_EQ(read_file(name_).find(spaced), std::string::npos) << "stored compressed";
  auto r = run({"-deleted", "-bv", name_, path("flat")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "2 deleted records recovered\n");
  EXPECT_TRUE(e2e::file_holds(path("flat"), be16(60) + plain + be16(153) + spaced));
}

TEST_F(DeletedTest, EmptyChainsGiveAnEmptyFile) {
  name_ = path("k");
  make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0"});
  put(name_, {record(1)});
  write_file(path("flat"), "old");
  auto r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "0 deleted records recovered\n");
  EXPECT_TRUE(e2e::file_holds(path("flat"), ""));
}

TEST_F(DeletedTest, TheWalkEndsWhereTheDeletedChainIsEmpty) {
  // Abandoned records alone are not reached: the walk starts at the deleted chain's head.
  name_ = path("k");
  make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0"});
  put(name_, {record(1)});
  KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(k5_rewrite(f, record(1, 200).data(), 200), 0);
  k5_close(f);
  auto r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "0 deleted records recovered\n");
}

TEST_F(DeletedTest, RefusedFiles) {
  name_ = path("k");
  make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0", .version = 4});
  auto r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, name_ + " not Kelvra version 5 or greater\n");
  EXPECT_FALSE(file_exists(path("flat")));

  make(name_, {.sizes = "200,8,1", .keys = "1,0,8,0", .storage = "0,0,0,0,1"});
  r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, name_ + " encrypted, recovery of deleted records not allowed\n");
  EXPECT_FALSE(file_exists(path("flat")));

  r = run({"-deleted", path("none"), path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind(path("none") + ": ", 0), 0u);

  std::string before = read_file(name_);
  r = run({"-deleted", name_, name_});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, name_ + ": input and output file names are the same\n");
  EXPECT_TRUE(e2e::file_holds(name_, before));

  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"-deleted", "-bt", name_, path("flat")},
                                             {"-deleted", "-l", name_, path("flat")},
                                             {"-deleted", name_}}) {
    r = run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind(kUsageStart, 0), 0u) << args[1];
  }
}

TEST_F(DeletedTest, AChainThatLoopsEndsTheWalk) {
  make_source();
  std::string segment;
  uint32_t offset = 0;
  uint16_t number = 0;
  head(&segment, &offset, &number);
  // The head's link (header bytes 9 to 14) names the head itself.
  patch(segment, offset + 9, transfer_test::be32(offset) + be16(number));
  auto r = run({"-deleted", "-bv", name_, path("flat")});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.err, name_ + ": the deleted records list loops back on itself\n");
  EXPECT_TRUE(e2e::file_holds(path("flat"), be16(90) + record(10))) << "written before stays";
}

TEST_F(DeletedTest, BrokenMembersEndTheWalkWithTheirMessages) {
  make_source();
  std::string segment;
  uint32_t offset = 0;
  head(&segment, &offset);
  std::string original = read_file(segment);

  patch(segment, offset + 8, std::string(1, '\0'));  // flags: a live record
  auto r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "found non-deleted record\n");

  write_file(segment, original);
  patch(segment, offset + 4, std::string("\x00\x01\x00\x00", 4));  // data length 65536
  r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            name_ + ": a deleted record of 65536 bytes does not fit its buffer of 200 bytes\n");
  EXPECT_TRUE(e2e::file_holds(path("flat"), "")) << "nothing read past the buffer";

  write_file(segment, original);
  patch(segment, offset + 13, std::string("\x00\x09", 2));  // a data segment that is not there
  r = run({"-deleted", name_, path("flat")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, std::string(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 9)) +
                       ": No such file or directory\n");
}

}  // namespace
