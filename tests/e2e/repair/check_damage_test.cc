// -check on files damaged on purpose: record headers, index nodes, chain links, header
// counts and segments. Each damage gives its message on standard error and exit status 3
// (255 when a data segment cannot be opened), and the passes after the failing one are
// not run.
#include <unistd.h>

#include <string>

#include "tests/e2e/harness.h"
#include "tests/e2e/repair/kelvra_files.h"

namespace {

using repair_files::FilePlan;
using repair_files::make_file;
using repair_files::read_at;
using repair_files::read_field;
using repair_files::write_at;
using repair_files::write_field;

const char kKeys[] =
    "reading all records by key #0...OK\n"
    "reading all records by key #1...OK\n";
const char kKeysAndRaw[] =
    "reading all records by key #0...OK\n"
    "reading all records by key #1...OK\n"
    "reading all records raw...OK\n";

class CheckDamage : public e2e::E2eTest {
 protected:
  // A file of `records` records with every third of the first 30 deleted (0, 3, ... 27).
  void make(int version, long segment_size = 0, uint32_t records = 60) {
    version_ = version;
    FilePlan plan;
    plan.version = version;
    plan.records = records;
    plan.deleted = 10;
    plan.segment_size = segment_size;
    make_file(name_, plan);
  }

  long header_size() const {
    return read_at(name_, K_offsets[version_][KF_RECORD_HEADER] + 1, 1)[0];
  }

  // File position of byte n of the record area (no compression, one data segment), after
  // the block links of version 3.
  long area_position(long n) const {
    long position = read_field(name_, version_, KF_FIRST_RECORD, 4);
    if (version_ != 3) return position + n;
    long block = 512L * read_at(name_, K_offsets[3][KF_BLOCKING] + 1, 1)[0];
    while (true) {
      long room = block - position % block - 4;
      if (n < room) return position + n;
      n -= room;
      std::vector<uint8_t> link = read_at(name_, position + room, 4);
      position = (static_cast<long>(link[0]) << 24 | link[1] << 16 | link[2] << 8 | link[3]) + 1;
    }
  }
  // Start of record i's header, and of byte `at` of its slot (at 0: the header).
  long record_at(uint32_t i, long at = 0) const {
    return area_position(static_cast<long>(i) * (header_size() + repair_files::kRecordSize) + at);
  }
  // Writes bytes into record i's header and slot, byte by byte across block links.
  void patch_record(uint32_t i, long at, const std::vector<uint8_t>& bytes) {
    for (size_t k = 0; k < bytes.size(); k++) {
      write_at(name_, record_at(i, at + static_cast<long>(k)), {bytes[k]});
    }
  }
  std::vector<uint8_t> record_bytes(uint32_t i, long at, size_t count) const {
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k < count; k++) {
      bytes.push_back(read_at(name_, record_at(i, at + static_cast<long>(k)), 1)[0]);
    }
    return bytes;
  }

  e2e::RunResult check() { return run({"-check", "-fx", name_}); }

  std::string name_ = path("f");
  int version_ = 5;
};

TEST_F(CheckDamage, LiveRecordHeaderFailsTheFirstKeyPass) {
  make(5);
  patch_record(1, 4, {0x7F, 0xFF, 0xFF, 0xFF});  // data length
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.out, name_ + ":\n");
  EXPECT_EQ(r.err, "reading all records by key #0..." + name_ + ": found a bad record header\n");
}

TEST_F(CheckDamage, DeletedRecordHeaderBreaksTheRawPass) {
  make(5);
  // The keys do not reach deleted records; the raw pass does.
  patch_record(3, 0, {0x7F, 0xFF, 0xFF, 0xFF});  // stored size
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeys) +
                       "reading all records raw...Chain of records is broken!\n"
                       "wrong number of records found\n");
}

TEST_F(CheckDamage, UnindexedLiveRecordOfBadLengthFailsTheRawPass) {
  make(5);
  // A deleted record turned live with a length below the minimum (40).
  patch_record(6, 4, {0, 0, 0, 20, 4});
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeys) +
                       "reading all records raw...found a bad record header\n"
                       "wrong number of records found\n");
}

TEST_F(CheckDamage, RecordOutsideTheIndexIsCounted) {
  make(3);
  // A version-3 deleted record whose data length is set again: live in the raw area only.
  patch_record(9, 2, {0x80, 40});
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err,
            std::string(kKeys) + "reading all records raw...wrong number of records found\n");
}

TEST_F(CheckDamage, IndexNodeDamageFailsAKeyPass) {
  make(5);
  // Every byte after the index segment's header block: the trees' nodes.
  std::string index = ki_segment_name(name_.c_str(), K_SEGMENT_INDEX, 0);
  std::string bytes = read_file(index);
  ASSERT_GT(bytes.size(), 1024u);
  write_at(index, 512, std::vector<uint8_t>(bytes.size() - 512, 0xA5));
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_NE(r.err.find(name_ + ": "), std::string::npos) << r;
  EXPECT_EQ(r.err.find("reading all records raw"), std::string::npos) << "no later pass";
}

TEST_F(CheckDamage, DeletedChainLinkToALiveRecord) {
  make(5);
  long head = read_field(name_, 5, KF_DELETED_HEAD, 4);
  ASSERT_EQ(head, record_at(27)) << "the last record deleted heads the chain";
  write_field(name_, 5, KF_DELETED_HEAD, 4, static_cast<uint32_t>(record_at(28)));
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) +
                       "checking deleted records list...found non-deleted record\n");
}

TEST_F(CheckDamage, ChainsThatLoopEndWithAMessage) {
  for (int version : {3, 5}) {
    SCOPED_TRACE(version);
    make(version);
    // Record 12's successor is record 9; make it record 21, which comes before it.
    long link = version == 5 ? 9 : header_size();
    patch_record(12, link, record_bytes(24, link, 4));
    auto r = check();
    EXPECT_EQ(r.status, 3) << r;
    EXPECT_EQ(r.err, std::string(kKeysAndRaw) + "checking deleted records list..." + name_ +
                         ": the deleted records list loops back on itself\n");
  }
}

TEST_F(CheckDamage, ChainLinkToAMissingSegmentEndsWith255) {
  make(5);
  patch_record(27, 13, {0, 9});  // head's successor in data segment 9
  auto r = check();
  EXPECT_EQ(r.status, 255) << r;
  std::string segment = ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 9);
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) + "checking deleted records list..." + segment +
                       ": No such file or directory\n");
}

TEST_F(CheckDamage, AbandonedChainIsWalkedAndItsMembersChecked) {
  version_ = 5;
  FilePlan plan;
  plan.records = 60;
  plan.deleted = 3;
  plan.rewritten = 4;
  plan.storage = "0,0,0,1,0";
  make_file(name_, plan);
  uint32_t abandoned = read_field(name_, 5, KF_ABANDONED, 4);
  ASSERT_GT(abandoned, 0u);
  write_field(name_, 5, KF_ABANDONED, 4, abandoned + 1);
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) +
                       "checking deleted records list...wrong number of abandoned records found\n" +
                       std::to_string(abandoned + 1) + " expected, " + std::to_string(abandoned) +
                       " found\n");
  // The abandoned chain's head moved to the first record, which is live.
  write_field(name_, 5, KF_ABANDONED, 4, abandoned);
  write_field(name_, 5, KF_ABANDONED_HEAD, 4, read_field(name_, 5, KF_FIRST_RECORD, 4));
  r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) +
                       "checking deleted records list...found non-abandoned record\n");
}

TEST_F(CheckDamage, HeaderCountsOfVersion5MustAgree) {
  make(5);
  write_field(name_, 5, KF_DELETED, 4, 11);
  write_field(name_, 5, KF_ABANDONED, 4, 2);
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) +
                       "checking deleted records list...wrong number of deleted records found\n"
                       "11 expected, 10 found\n"
                       "wrong number of abandoned records found\n"
                       "2 expected, 0 found\n");
}

TEST_F(CheckDamage, Version3AcceptsFewerDeletedMembersButNotMore) {
  make(3);
  write_field(name_, 3, KF_DELETED, 4, 15);
  auto r = check();
  EXPECT_EQ(r.status, 0) << r;
  write_field(name_, 3, KF_DELETED, 4, 9);
  r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err, std::string(kKeysAndRaw) +
                       "checking deleted records list...too many deleted records found\n"
                       "9 expected, 10 found\n");
}

TEST_F(CheckDamage, RecordCountInTheHeader) {
  make(4);
  write_field(name_, 4, KF_RECORDS, 4, 45);  // 50 records are live
  auto r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err,
            "reading all records by key #0..." + name_ + ": found more records than expected\n");
  write_field(name_, 4, KF_RECORDS, 4, 57);
  r = check();
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err,
            "reading all records by key #0..." + name_ + ": expected 57 records, found 50\n");
}

TEST_F(CheckDamage, MissingFurtherSegmentIsRefusedAtTheOpen) {
  make(5, 4096, 200);
  std::string segment = ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 1);
  ASSERT_TRUE(file_exists(segment)) << "the file has more than one data segment";
  ASSERT_EQ(unlink(segment.c_str()), 0);
  auto r = run({"-check", name_});
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(name_ + ": ", 0), 0u) << r;
  EXPECT_NE(r.err.find("(error 6/"), std::string::npos) << r;
}

}  // namespace
