// -check options and levels: the user count, -a, -f, -k, -x, -q, names from the console,
// files that cannot be opened or read.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/e2e/repair/kelvra_files.h"

namespace {

using repair_files::FilePlan;
using repair_files::make_file;
using repair_files::set_user_count;

class CheckOptions : public e2e::E2eTest {
 protected:
  void SetUp() override {
    FilePlan plan;
    plan.records = 30;
    make_file(name_, plan);
  }
  std::string name_ = path("f");
};

TEST_F(CheckOptions, DefaultOnlyWarnsOfANonZeroUserCount) {
  auto r = run({"-check", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out + r.err, "");
  set_user_count(name_, 5, 3);
  r = run({"-check", name_});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, name_ + ": non-zero user count\n");
}

TEST_F(CheckOptions, OptionAExaminesOnlyFilesInUse) {
  auto r = run({"-check", "-a", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out + r.err, "");
  r = run({"-check", "-ax", name_});
  EXPECT_EQ(r.out + r.err, "") << "user count 0: no examination";
  set_user_count(name_, 5, 1);
  r = run({"-check", "-ax", name_});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.out, name_ + ":\n");
  EXPECT_EQ(r.err, name_ +
                       ": non-zero user count\n"
                       "reading all records by key #0...OK\n"
                       "reading all records by key #1...OK\n"
                       "reading all records raw...OK\n"
                       "checking deleted records list...OK\n");
}

TEST_F(CheckOptions, UserCountOfAWriterThatDied) {
  // A child that opens the file for writing and is killed leaves the user count raised.
  repair_files::start_library();
  pid_t child = fork();
  if (child == 0) {
    if (k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0") == nullptr) _exit(1);
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer opened the file";
  auto r = run({"-check", name_});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.err, name_ + ": non-zero user count\n");
}

TEST_F(CheckOptions, KeyOptionChoosesTheKeyOfTheBasicExamination) {
  auto r = run({"-check", "-fk", "1", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out + r.err, "") << "a sound key pass prints nothing";
  r = run({"-check", "-f", "-k", "5", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, name_ + ": key 5 does not exist in this file, '-k' ignored\n");
  EXPECT_EQ(r.err, "");
  r = run({"-check", "-k", "121", name_});
  EXPECT_EQ(r.status, 255) << r;
}

TEST_F(CheckOptions, ExtendedAloneDoesNothing) {
  auto r = run({"-check", "-x", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(CheckOptions, TitlesOfLaterFilesStartWithABlankLine) {
  std::string second = path("g");
  FilePlan plan;
  plan.version = 3;
  plan.records = 5;
  make_file(second, plan);
  auto r = run({"-check", "-FX", name_, second});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, name_ + ":\n\n" + second + ":\n");
}

TEST_F(CheckOptions, QuietWithoutNamesEndsWith99) {
  auto r = run({"-check", "-qf"}, {.input = name_ + "\n"});
  EXPECT_EQ(r.status, 99) << r;
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(CheckOptions, NamesFromTheConsoleOnePerLine) {
  set_user_count(name_, 5, 2);
  auto r = run({"-check"}, {.input = name_ + "\n\n" + name_ + "\r\n"});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_EQ(r.err, name_ + ": non-zero user count\n" + name_ + ": non-zero user count\n");
}

TEST_F(CheckOptions, UnknownLetterPrintsTheUsage) {
  auto r = run({"-check", "-fz", name_});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_NE(r.out.find("-check   [-afkqx] [files]"), std::string::npos) << r;
}

TEST_F(CheckOptions, UnreadableHeadersAreReported) {
  write_file(path("short"), std::string(100, 'x'));
  write_file(path("zeros"), std::string(512, '\0'));
  auto r = run({"-check", path("short"), path("zeros")});
  EXPECT_EQ(r.status, 3) << r;
  EXPECT_EQ(r.err.find(path("short") + ": "), 0u) << r;
  EXPECT_NE(r.err.find("\n" + path("zeros") + ": "), std::string::npos) << r;
  r = run({"-check", path("absent")});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.err.find(path("absent") + ": "), 0u) << r;
}

TEST_F(CheckOptions, FileLockedByAnotherOpenerEndsWith1) {
  repair_files::start_library();
  KFile* holder = k5_open(name_.c_str(), K_MODE_EXCLUSIVE, "0,0,0");
  ASSERT_NE(holder, nullptr);
  auto r = run({"-check", "-fx", name_});
  k5_close(holder);
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("(error 11/"), std::string::npos) << r;
}

}  // namespace
