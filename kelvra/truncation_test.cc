// A file that another process shortens while this one reads it through the library: each
// read gives a record of the file, or fails with a file error code; none ends the reader
// with a signal.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "kelvra/test_support.h"

struct Cut {
  const char* label;
  int version;
  int code;  // the segment cut: K_SEGMENT_DATA or K_SEGMENT_INDEX, and its number
  int segment;
  long length;  // bytes left in it; -1: half of them
  int mode = K_MODE_READ;
};

std::ostream& operator<<(std::ostream& os, const Cut& c) {
  return os << c.label;
}

class TruncationTest : public KelvraTest, public ::testing::WithParamInterface<Cut> {};

// How the reading child ends: 0 when every read gave a record of the file or failed with
// code 6 (damaged) or 8 (no further record), and some read after the cut failed with 6.
// (1 is the sanitizers' status after a report, a signal among them.)
enum ReaderEnd { kSound = 0, kWrongRecord = 10, kNoCode, kNeverMet, kNoGo };

// The child reads half of the records by the primary key, lets the parent cut the segment,
// then reads on to the end, and reads from twenty starting values of every key; a writer
// then adds records and closes the file, each call succeeding or failing with a code.
// Records are stored in random order, so that the reads go all over the record area, and
// the trees have more nodes than the block cache holds, so that nodes are read again.
TEST_P(TruncationTest, ReadsFailWithACodeNeverASignal) {
  const Cut& c = GetParam();
  rt_config_set("K_SEGMENT_SIZE", 0, 16384);
  std::vector<std::string> recs;
  for (int i = 0; i < 3000; i++) recs.push_back(rec(i * 3, 30 + i % 11));
  std::shuffle(recs.begin(), recs.end(), std::mt19937(c.version));
  ASSERT_NO_FATAL_FAILURE(make(c.version, "1,0,0,0,0", "60,24,3", recs));
  const std::string cut = ki_segment_name(name_.c_str(), c.code, c.segment);
  const long size = long(raw::file_size(cut));
  ASSERT_GT(size, 512) << cut;
  std::set<std::string> stored(recs.begin(), recs.end());
  const std::vector<std::string> by_primary = model_.order(0);

  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  pid_t pid = fork();
  if (pid == 0) {
    alarm(60);
    KFile* f = k5_open(name_.c_str(), c.mode, "0,0,0");
    if (!f) _exit(kNoGo);
    Bytes buf(100, 0);
    int failed = 0;
    // A failed call must leave code 6 or 8; a read that does not fail gives a record.
    auto check = [&](int n, bool read) {
      if (n <= 0 && error() != 6 && error() != 8) _exit(kNoCode);
      if (n > 0 && read && !stored.count(std::string(buf.begin(), buf.begin() + n))) {
        _exit(kWrongRecord);
      }
      failed += n <= 0 && error() == 6;
      return n > 0;
    };
    for (size_t i = 0; i < by_primary.size() / 2; i++) {
      if (k5_next(f, buf.data()) != int(by_primary[i].size())) _exit(kNoGo);
    }
    char go = 0;
    pollfd p = {down[0], POLLIN, 0};
    if (write(up[1], "r", 1) != 1 || poll(&p, 1, 30000) != 1 || read(down[0], &go, 1) != 1) {
      _exit(kNoGo);
    }
    for (size_t i = 0; i <= by_primary.size() && check(k5_next(f, buf.data()), true); i++) {
    }
    for (int k = 0; k < 3; k++) {
      for (int from = 0; from < 20; from++) {
        std::string start = rec(from * 450);
        std::copy(start.begin(), start.end(), buf.begin());
        if (!check(k5_start(f, buf.data(), k, 0, K_START_NOT_LESS), false)) continue;
        for (int i = 0; i < 100 && check(k5_next(f, buf.data()), true); i++) {
        }
      }
    }
    for (int i = 0; c.mode == K_MODE_WRITE && i < 50; i++) {
      std::string added = rec(100000 + i);
      if (!k5_write(f, added.data(), uint32_t(added.size())) && error() == 0) _exit(kNoCode);
    }
    if (!k5_close(f) && error() == 0) _exit(kNoCode);
    _exit(failed ? kSound : kNeverMet);
  }
  close(up[1]);
  close(down[0]);
  char ready = 0;
  pollfd p = {up[0], POLLIN, 0};
  bool read_half = poll(&p, 1, 30000) == 1 && read(up[0], &ready, 1) == 1;
  EXPECT_TRUE(read_half) << "the reader did not get half way";
  if (read_half) {
    EXPECT_EQ(truncate(cut.c_str(), c.length < 0 ? size / 2 : c.length), 0) << cut;
    EXPECT_EQ(write(down[1], "g", 1), 1);
  }
  close(up[0]);
  close(down[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(WIFSIGNALED(status)) << "the reader died of signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kSound)
      << "the reader ended with " << WEXITSTATUS(status) << " (1: a sanitizer's report)";
}

INSTANTIATE_TEST_SUITE_P(
    Segments, TruncationTest,
    ::testing::Values(Cut{"v2_emptied", 2, K_SEGMENT_DATA, 0, 0},
                      Cut{"v2_halved", 2, K_SEGMENT_DATA, 0, -1},
                      Cut{"v3_emptied", 3, K_SEGMENT_DATA, 0, 0},
                      Cut{"v3_halved", 3, K_SEGMENT_DATA, 0, -1},
                      Cut{"v4_data0_emptied", 4, K_SEGMENT_DATA, 0, 0},
                      Cut{"v4_data3_halved", 4, K_SEGMENT_DATA, 3, -1},
                      Cut{"v4_index0_emptied", 4, K_SEGMENT_INDEX, 0, 0},
                      Cut{"v4_index2_halved", 4, K_SEGMENT_INDEX, 2, -1},
                      Cut{"v5_data0_emptied", 5, K_SEGMENT_DATA, 0, 0},
                      Cut{"v5_data2_emptied", 5, K_SEGMENT_DATA, 2, 0},
                      Cut{"v5_index0_halved", 5, K_SEGMENT_INDEX, 0, -1},
                      Cut{"v5_index3_emptied", 5, K_SEGMENT_INDEX, 3, 0},
                      Cut{"v4_index0_emptied_writer", 4, K_SEGMENT_INDEX, 0, 0, K_MODE_WRITE},
                      Cut{"v5_data2_emptied_writer", 5, K_SEGMENT_DATA, 2, 0, K_MODE_WRITE}),
    [](const ::testing::TestParamInfo<Cut>& info) { return info.param.label; });
