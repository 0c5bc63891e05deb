// -check on sound files, on files damaged on purpose, and its options.
#include <unistd.h>

#include <functional>
#include <tuple>

#include "tests/e2e/repair/repair_fixture.h"

namespace {

using namespace e2e;
using namespace kfiles;

const std::string kKey0 = "reading all records by key #0...";
const std::string kKeys = kKey0 + "OK\nreading all records by key #1...OK\n";
const std::string kRaw = kKeys + "reading all records raw...";
const std::string kChains = kRaw + "OK\nchecking deleted records list...";

using Check = RepairTest;

// Sound files of every version, with deleted, compressed, scrambled, abandoned records and
// several segments: the title and the passes' "OK"s, no chain walk for version 2.
TEST_F(Check, SoundFilesGiveNoMessage) {
  for (const FileKind& k : kFileKinds) {
    SCOPED_TRACE(std::to_string(k.version) + " " + k.storage);
    make_file(k);
    if (k.rewritten) {
      ASSERT_GT(field(read_file(f_), 5, KF_ABANDONED, 4), 0u);
    }
    EXPECT_EQ(said(check()), "0 [f:\n][" + (k.version >= 3 ? kChains : kRaw) + "OK\n]");
  }
}

// A collating table that does not put byte 0 first: the key pass still starts at the lowest
// key and finds every record.
TEST_F(Check, CollatingOrderWithoutByteZeroFirst) {
  std::string table(256, '\0');
  int place = 0;
  for (int c : {'Z', 'Y', 'X'}) table[c] = static_cast<char>(place++);
  for (int c = 0; c < 256; ++c) {
    if (c != 'Z' && c != 'Y' && c != 'X') table[c] = static_cast<char>(place++);
  }
  make(f_, {.sizes = "10,10,2", .keys = "1,0,4,0,1,1,2,4", .collating = table},
       {"ZZZZ000000", "AAAA000000", "XXXX110000"});
  EXPECT_EQ(said(check()), "0 [f:\n][" + kChains + "OK\n]");
}

// Each damage gives its message on standard error and its status, and the passes after the
// failing one are not run.
TEST_F(Check, DamagedFiles) {
  auto at = [&](uint32_t i, long offset, const std::string& bytes) {
    patch(f_, record_at(i, offset), bytes);
  };
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      // Record headers: a live one (data length), a deleted one (stored size), a deleted
      // one made live with a length below the minimum and with a good length.
      {[&] { at(1, 4, "\x7f\xff\xff\xff"); },
       "3 [f:\n][" + kKey0 + "f: found a bad record header\n]"},
      {[&] { at(3, 0, "\x7f\xff\xff\xff"); },
       "3 [f:\n][" + kRaw + "Chain of records is broken!\nwrong number of records found\n]"},
      {[&] { at(6, 4, std::string("\0\0\0\x14\4", 5)); },
       "3 [f:\n][" + kRaw + "found a bad record header\nwrong number of records found\n]"},
      {[&] { at(6, 4, std::string("\0\0\0\x28\4", 5)); },
       "3 [f:\n][" + kRaw + "wrong number of records found\n]"},
      // Index nodes: every byte after the index segment's header block; the open refuses.
      {[&] { overwrite_index_nodes(); }, "3 [][f: damaged file (error 6/10)\n]"},
      // Chain links: the head to a live record, a link back to an earlier member, a link
      // into a data segment that is not there.
      {[&] { set_field(f_, 5, KF_DELETED_HEAD, 4, record_at(28)); },
       "3 [f:\n][" + kChains + "found non-deleted record\n]"},
      {[&] { at(12, 9, read_file(f_).substr(record_at(24, 9), 4)); },
       "3 [f:\n][" + kChains + "f: the deleted records list loops back on itself\n]"},
      {[&] { at(27, 13, std::string("\0\x09", 2)); }, "255 [f:\n][" + kChains +
                                                          ki_segment_name("f", K_SEGMENT_DATA, 9) +
                                                          ": No such file or directory\n]"},
      // Counts in the header: deleted and abandoned (version 5), records (version 4).
      {[&] { set_field(f_, 5, KF_DELETED, 4, 11), set_field(f_, 5, KF_ABANDONED, 4, 2); },
       "3 [f:\n][" + kChains + "wrong number of deleted records found\n11 expected, 10 found\n" +
           "wrong number of abandoned records found\n2 expected, 0 found\n]"},
      {[&] { make_file(4), set_field(f_, 4, KF_RECORDS, 4, 45); },
       "3 [f:\n][" + kKey0 + "f: found more records than expected\n]"},
      {[&] { make_file(4), set_field(f_, 4, KF_RECORDS, 4, 57); },
       "3 [f:\n][" + kKey0 + "f: expected 57 records, found 50\n]"},
      // Versions 3 and 4 accept fewer deleted records than counted, not more.
      {[&] { make_file(3), set_field(f_, 3, KF_DELETED, 4, 15); }, "0 [f:\n][" + kChains + "OK\n]"},
      {[&] { make_file(3), set_field(f_, 3, KF_DELETED, 4, 9); },
       "3 [f:\n][" + kChains + "too many deleted records found\n9 expected, 10 found\n]"},
      // The abandoned chain: a count one too high, a head that leads to a live record.
      {[&] {
         make_file(5, 60, 3, 4, "0,0,0,1,0");
         set_field(f_, 5, KF_ABANDONED, 4, field(read_file(f_), 5, KF_ABANDONED, 4) + 1);
       },
       "3 [f:\n][" + kChains + "wrong number of abandoned records found\n5 expected, 4 found\n]"},
      {[&] {
         make_file(5, 60, 3, 4, "0,0,0,1,0");
         set_field(f_, 5, KF_ABANDONED_HEAD, 4, field(read_file(f_), 5, KF_FIRST_RECORD, 4));
       },
       "3 [f:\n][" + kChains + "found non-abandoned record\n]"},
  };
  for (const auto& [damage, outcome] : cases) {
    make_file(5);
    damage();
    EXPECT_EQ(said(check()), outcome);
  }
  // A missing further data segment: the strict open refuses the file.
  make_file(5, 200, 10, 0, "0,0,0,0,0", 4096);
  ASSERT_EQ(unlink(ki_segment_name(f_.c_str(), K_SEGMENT_DATA, 1)), 0);
  auto r = run({"-check", "f"});
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_TRUE(r.err.starts_with("f: ") && r.err.find("(error 6/") != std::string::npos) << r;
}

// The user count, the options a, f, k and x, quiet, names from the console, and files that
// cannot be opened, read or are locked.
TEST_F(Check, OptionsAndStatus) {
  make_file(5, 30, 0);
  const std::string in_use = "f: non-zero user count\n";
  // The command line, the user count, the outcome.
  for (const auto& [line, users, outcome] : std::vector<std::tuple<std::string, int, std::string>>{
           {"-check f", 0, "0 [][]"},
           {"-check f", 3, "2 [][" + in_use + "]"},
           {"-check -ax f", 0, "0 [][]"},
           {"-check -ax f", 1, "2 [f:\n][" + in_use + kChains + "OK\n]"},
           {"-check -x f", 0, "0 [][]"},
           {"-check -fk 1 f", 0, "0 [][]"},
           {"-check -f -k 5 f", 0, "0 [f: key 5 does not exist in this file, '-k' ignored\n][]"},
           {"-check -k 121 f", 0, "255 ['-k' value must be between 0 and 120\n][]"},
           {"-check -qf", 0, "99 [][]"},
           {"-check", 2,
            "255 [][" + in_use + ": file missing: No such file or directory (error 15/2)\n" +
                in_use + "]"}}) {
    set_field(f_, 5, KF_USER_COUNT, 2, users);
    EXPECT_EQ(said(run(words(line), {.input = "f\n\nf\r\n"})), outcome) << line;
  }
  set_field(f_, 5, KF_USER_COUNT, 2, 0);
  make(path("g"), {.version = 3});
  EXPECT_EQ(run(words("-check -FX f g")).out, "f:\n\ng:\n");
  write_file(path("short"), std::string(100, 'x'));
  write_file(path("zeros"), std::string(512, '\0'));
  auto r = run(words("-check short zeros"));
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_TRUE(r.err.starts_with("short: ") && r.err.find("\nzeros: ") != std::string::npos) << r;
  EXPECT_EQ(run(words("-check absent")).status, 255);
  Library library;
  KFile* holder = k5_open(f_.c_str(), K_MODE_EXCLUSIVE, "0,0,0");
  r = run(words("-check -fx f"));
  k5_close(holder);
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_NE(r.err.find("(error 11/"), std::string::npos) << r;
}

}  // namespace
