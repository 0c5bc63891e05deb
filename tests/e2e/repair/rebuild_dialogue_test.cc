// -rebuild and its operator: the option checks, the automation levels and quiet mode, where
// the new file is built, locks, interrupts, the progress line, and spool volumes.
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/repair/repair_fixture.h"

namespace {

using namespace e2e;
using namespace kfiles;
namespace fs = std::filesystem;

const std::string kReplace = "Replace original file with new one? ";
const std::string kNextVolume = "Type 'Y' to continue, 'N' to abort: ";
const std::string kMountFirst =
    "Please insure that volume 1 of the spool file is mounted\n"
    "Type 'Y' when ready, 'N' to abort: ";

class RebuildDialogue : public RepairTest {
 protected:
  // File f, version 5: n records of 40 bytes with one key, the first `deleted` of every fifth
  // deleted.
  void make_records(uint32_t n, uint32_t deleted = 0) {
    std::vector<std::string> all = records_up_to(n), deletes;
    for (uint32_t d = 0; d < deleted; ++d) deletes.push_back(all[d * 5]);
    make(f_, {}, all, deletes);
    live_ = records(f_);
  }
  // The temporary files (K...) in the scratch directory, without their further segments.
  std::vector<std::string> temporaries() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(scratch())) {
      const std::string n = e.path().filename().string();
      if (n[0] == 'K' && n.find('.') == std::string::npos) names.push_back(n);
    }
    return names;
  }
  void move(const std::string& from, const std::string& to) { fs::rename(path(from), path(to)); }
  // A prompt of the operator's dialogue, the files then renamed (from, to), and the reply.
  struct Step {
    std::string prompt;
    std::vector<std::pair<std::string, std::string>> moves;
    std::string reply = "y\n";
  };
  // Starts the rebuild of f through spool volumes of one data block each; at the end of volume
  // 1 the operator interrupts the copy and mounts a new volume, then follows the steps.
  void spool_in_volumes(const std::vector<Step>& steps) {
    process_ = start({"-rebuild", "-m", "16", "-s", "sp", "f"});
    ASSERT_TRUE(process_->wait_until_printed(
        "\nEnd of media on spool file #1, mount next volume\n" + kNextVolume));
    process_->send_signal(SIGINT);
    move("sp", "v1");
    process_->write_input("y\n");
    for (const Step& s : steps) {
      ASSERT_TRUE(process_->wait_until_printed(s.prompt)) << s.prompt;
      for (const auto& [from, to] : s.moves) move(from, to);
      process_->write_input(s.reply);
    }
  }
  std::vector<std::string> live_;
  std::unique_ptr<Process> process_;
};

TEST_F(RebuildDialogue, OptionChecks) {
  make_records(30);
  make(path("g"), {.version = 3}, records_up_to(5));
  fs::create_directory(path("dir"));
  const std::string usage = "255 [" + std::string(kUsageStart);
  for (const auto& [line, expected] : std::vector<std::pair<std::string, std::string>>{
           {"-rebuild -d dir -s sp f", "255 [Options -d and -s may not be used together\n][]"},
           {"-rebuild -r f", "255 [Rebuild option -r requires option -s\n][]"},
           {"-rebuild -s f g", "255 [Option -s must be followed by the name of a spool file\n][]"},
           {"-rebuild -k 120 f", "255 ['-k' value must be between 0 and 119\n][]"},
           {"-rebuild -b 17 f", "255 ['-b' value must be between 1 and 16\n][]"},
           {"-rebuild -f -1 f", "255 [Missing value for '-f' option\n][]"},
           // A volume limit whose bytes pass 2147483647 is out of range.
           {"-rebuild -m 2097152 f", "255 ['-m' value must be between 8 and 2097151\n][]"},
           {"-rebuild -d nodir f", "1 [Cannot access directory 'nodir'\n][]"},
           {"-rebuild -k 1 g", "255 [g: key number 1 does not exist\n][]"},
           {"-rebuild -q", "99 [][]"},
           {"-rebuild -t dir/name f", usage},
           {"-rebuild -aq -s", usage},
           {"-rebuild -w f", usage},
           {"-rebuild --fast f", usage},
       }) {
    const std::string got = said(run(words(line)));
    EXPECT_EQ(got.substr(0, expected.size()), expected) << line;
  }
  // +a works as -a, +q as -q; --SLOW is the word --slow.
  EXPECT_EQ(run(words("-rebuild +aq --SLOW f")).status, 0);
  EXPECT_EQ(records(f_), live_);
  auto r = run({"-rebuild", "absent"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_TRUE(r.err.starts_with("absent: ")) << r;
}

// Level 0 asks before replacing; 1 replaces after a clean rebuild and asks after one that
// lost records; 2 always replaces. Quiet mode ends with 99 where it would ask, leaving the
// source and the finished temporary file.
TEST_F(RebuildDialogue, AutomationLevels) {
  const std::string clean = "removed\n", lost = "lost!\n", renaming = "temporary file...\n";
  struct Case {
    std::string options, input;
    bool damaged;
    int status;
    bool replaced;
    std::string ends;  // what the output ends with
  };
  for (const Case& c : std::vector<Case>{
           {"", "n\n", false, 0, false, kReplace},
           {"", "y\n", false, 0, true, kReplace},
           {"-a", "", false, 0, true, renaming},
           {"-a", "n\n", true, 2, false, kReplace},
           {"-a", "y\n", true, 2, true, kReplace},
           {"-aa", "", true, 2, true, renaming},
           {"-q", "", false, 99, false, clean},
           {"-qa", "", false, 0, true, renaming},
           {"-qa", "", true, 99, false, lost},
       }) {
    SCOPED_TRACE(c.options + " " + c.input + (c.damaged ? " damaged" : ""));
    for (const std::string& t : temporaries()) ASSERT_EQ(k5_remove(path(t).c_str()), 1);
    make_records(200, 10);
    // A record whose length is below the minimum: one record lost.
    if (c.damaged) patch(f_, record_at(3, 4), be32(20));
    const std::string bytes = read_file(f_);
    auto r = run(words("-rebuild " + c.options + " f"), {.input = c.input});
    EXPECT_TRUE(ended(r, c.status, c.ends));
    const size_t kept = c.damaged ? live_.size() - 1 : live_.size();
    if (c.replaced) {
      EXPECT_EQ(records(f_).size(), kept);
      EXPECT_EQ(check().status, 0);
      EXPECT_TRUE(temporaries().empty());
    } else {
      EXPECT_EQ(read_file(f_), bytes);
      ASSERT_EQ(temporaries().size(), 1u);
      EXPECT_EQ(records(path(temporaries()[0])).size(), kept);
    }
  }
}

// -d builds the new file in the directory and leaves it there under the source's name; -t
// builds it under one fixed name, never the source's own.
TEST_F(RebuildDialogue, WhereTheNewFileIsBuilt) {
  make_records(100);
  fs::create_directory(path("dir"));
  const std::string bytes = read_file(f_);
  auto r = run({"-rebuild", "-d", "dir/", "f"});
  EXPECT_TRUE(r.out.starts_with("Input = f, Output = dir/K")) << r;
  EXPECT_TRUE(ended(r, 0, "Renaming temporary file...\n"));
  EXPECT_EQ(read_file(f_), bytes);
  EXPECT_EQ(records(path("dir/f")), live_);
  std::vector<std::string> in_dir;
  for (const auto& e : fs::directory_iterator(path("dir"))) in_dir.push_back(e.path().filename());
  std::sort(in_dir.begin(), in_dir.end());
  EXPECT_EQ(in_dir, (std::vector<std::string>{"f", "f.x0"}));

  r = run({"-rebuild", "-t", "work", "f"}, {.input = "n\n"});
  EXPECT_TRUE(r.out.starts_with("Input = f, Output = work, 100 records\n")) << r;
  EXPECT_EQ(records(path("work")), live_);
  EXPECT_EQ(run({"-rebuild", "-a", "-t", "work", "f"}).status, 0);
  EXPECT_FALSE(fs::exists(path("work")));
  EXPECT_EQ(records(f_), live_);

  // The source itself, or one of its segments, is never a temporary file or a spool.
  for (const std::string line : {"-rebuild -a -t f f", "-rebuild -a -s f.x0 f"}) {
    const std::string before = read_file(f_);
    r = run(words(line));
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_TRUE(r.err.ends_with(" is the file itself or one of its segments\n")) << r;
    EXPECT_EQ(read_file(f_), before);
  }
}

// A file another process holds: -l refuses it at once (1); without -l the copy is made and
// the source, still held, is not replaced (255).
TEST_F(RebuildDialogue, FileInUse) {
  make_records(100);
  const std::string bytes = read_file(f_);
  Library library;
  KFile* holder = k5_open(f_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(holder, nullptr);
  auto r = run({"-rebuild", "-l", "-a", "f"});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_NE(r.err.find("f: "), std::string::npos) << r;
  EXPECT_NE(r.err.find("(error 11/"), std::string::npos) << r;
  r = run({"-rebuild", "-a", "f"});
  k5_close(holder);
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_NE(r.err.find("(error 11/"), std::string::npos) << r;
  EXPECT_EQ(read_file(f_), bytes);
  ASSERT_EQ(temporaries().size(), 1u);
  EXPECT_EQ(records(path(temporaries()[0])), live_);
}

// The line runs to 100 % once over the whole job; a header that counts no records shows it
// at the first record; one that counts more than there are ends short and is completed.
TEST_F(RebuildDialogue, ProgressLine) {
  make_records(50);
  auto r = run({"-rebuild", "-a", "--slow", "f"});
  EXPECT_EQ(r.out.substr(r.out.find("Rebuilding...\n")),
            "Rebuilding...\n" + kLine +
                "50 records recovered, 0 deleted records removed\nRenaming temporary file...\n");
  set_field(f_, 5, KF_RECORDS, 4, 0);
  r = run({"-rebuild", "-a", "f"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_TRUE(r.out.starts_with("Input = f, Output = K")) << r;
  EXPECT_NE(r.out.find(", 0 records\nRebuilding...\n" + kLine + "50 records recovered"),
            std::string::npos)
      << r;
  set_field(f_, 5, KF_RECORDS, 4, 52);
  r = run({"-rebuild", "-aa", "--slow", "f"});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.out.substr(r.out.find("Rebuilding...\n")),
            "Rebuilding...\n....10%....20%....30%....40%....50%....60%....70%....80%....90%..."
            "100%\n50 records recovered, 0 deleted records removed\nWarning: 2 records lost!\n"
            "Renaming temporary file...\n");
}

// A key without records gives a clean empty file, directly; through a spool the source is
// left alone.
TEST_F(RebuildDialogue, KeyWithoutRecords) {
  make_records(0);
  auto r = run({"-rebuild", "-a", "-k", "0", "f"});
  EXPECT_TRUE(ended(r, 0,
                    "No records to read from key 0.  The new file is a clean empty "
                    "file.\nRenaming temporary file...\n"));
  EXPECT_EQ(check().status, 0);
  const std::string bytes = read_file(f_);
  r = run({"-rebuild", "-a", "-k", "0", "-s", "sp", "f"});
  EXPECT_EQ(said(r), "0 [No records to read from key 0.  The new file is a clean empty file.\n][]");
  EXPECT_EQ(read_file(f_), bytes);
  EXPECT_FALSE(fs::exists(path("sp")));
}

// Through one spool volume, with and without the question before reading it back; a restart
// from the spool alone.
TEST_F(RebuildDialogue, SpoolAndRestart) {
  make_records(600, 20);
  auto r = run({"-rebuild", "-a", "-s", "sp", "f"});
  EXPECT_EQ(said(r), "0 [Input = f, Output = sp, 580 records\nSpooling records...\n" + kLine +
                         "580 records spooled\nRebuilding...\n" + kLine +
                         "580 records recovered\n][]");
  EXPECT_EQ(records(f_), live_);
  EXPECT_EQ(check().status, 0);
  EXPECT_EQ(fs::file_size(path("sp")), 8192u + 3 * 8192u);

  const std::string bytes = read_file(f_);
  r = run({"-rebuild", "-s", "sp", "f"}, {.input = "n\n"});
  EXPECT_TRUE(ended(r, 255,
                    "580 records spooled\nReady to start reading records from the spool file\n" +
                        kMountFirst + "*** Aborted ***\n"));
  EXPECT_EQ(read_file(f_), bytes);
  r = run({"-rebuild", "-a", "-r", "-s", "sp", "f"});
  EXPECT_EQ(said(r),
            "0 [Restarting rebuild of f\nWarning: proceeding will overwrite file\n"
            "Rebuilding...\n" +
                kLine + "580 records recovered\n][]");
  EXPECT_EQ(records(f_), live_);
  EXPECT_EQ(check().status, 0);
  // Records longer than a spool can hold: refused before anything is touched.
  make(path("long"), {.sizes = "70000,10,1", .keys = "1,0,8,0"}, {record(1, 70000)});
  r = run({"-rebuild", "-a", "-s", "sp2", "long"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.err,
            "long: records of up to 70000 bytes do not fit a spool (at most 65535); "
            "rebuild it without -s\n");
  EXPECT_FALSE(fs::exists(path("sp2")));
}

// Four volumes of one data block each: the operator swaps them, offers one twice while
// writing, offers the wrong one and a foreign file while reading, and interrupts the copy
// once (answering no).
TEST_F(RebuildDialogue, VolumesSwappedByTheOperator) {
  make_records(600);
  write_file(path("foreign"), "a foreign file");
  ASSERT_NO_FATAL_FAILURE(spool_in_volumes({
      {"\nInput records = ", {}, ""},
      {"Do you want to terminate? ", {}, "n\n"},
      {"\nEnd of media on spool file #2, mount next volume\n" + kNextVolume},
      {"You used that volume already!\n" + kNextVolume, {{"sp", "v2"}}},
      {"\nEnd of media on spool file #3, mount next volume\n" + kNextVolume, {{"sp", "v3"}}},
      {"600 records spooled\nReady to start reading records from the spool file\n" + kMountFirst,
       {{"sp", "v4"}, {"v2", "sp"}}},
      {"\nThat's volume 2, please mount volume 1\n" + kMountFirst, {{"sp", "v2"}, {"v1", "sp"}}},
      {"\nEnd of media on spool file, mount volume 2\n" + kNextVolume,
       {{"sp", "v1"}, {"foreign", "sp"}}},
      {"\nThat's not a spool volume!\n" + kNextVolume, {{"v2", "sp"}}},
      {"\nEnd of media on spool file, mount volume 3\n" + kNextVolume,
       {{"sp", "v2"}, {"v3", "sp"}}},
      {"\nEnd of media on spool file, mount volume 4\n" + kNextVolume,
       {{"sp", "v3"}, {"v4", "sp"}}},
  }));
  auto r = process_->wait();
  EXPECT_TRUE(ended(r, 0, "600 records recovered\n"));
  EXPECT_EQ(records(f_), live_);
  EXPECT_EQ(check().status, 0);
}

// Stopping the copy at an interrupt: the records spooled so far, the warning of the others,
// and the source left as it was when the operator does not go on.
TEST_F(RebuildDialogue, InterruptStopsTheCopy) {
  make_records(600);
  const std::string bytes = read_file(f_);
  ASSERT_NO_FATAL_FAILURE(spool_in_volumes({
      {"Do you want to terminate? "},
      {"Rebuild terminated\n", {}, ""},
      {kNextVolume, {{"sp", "v2"}}},  // the end mark needs volume 3
      {" records spooled\nWarning: ", {}, ""},
      {kMountFirst, {}, "n\n"},
  }));
  auto r = process_->wait();
  EXPECT_TRUE(ended(r, 255, "*** Aborted ***\n"));
  EXPECT_EQ(read_file(f_), bytes);
}

}  // namespace
