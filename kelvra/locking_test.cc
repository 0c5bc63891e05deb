// Sharing a file between processes: another process holds the file open (a child made with
// fork) while this one tries every kind of open; a writer killed with SIGKILL leaves the
// user count raised and the file still usable. The two processes talk through pipes, and
// every wait has a bound.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "kelvra/test_format.h"
#include "kelvra/test_support.h"

namespace {

constexpr int kWaitMs = 20000;

// Reads one byte from fd, waiting at most ms; -1 when nothing came.
int read_byte(int fd, int ms) {
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, ms) != 1) return -1;
  uint8_t b;
  return read(fd, &b, 1) == 1 ? b : -1;
}

// A child process that opens the file and keeps it open until told to close it.
class Holder {
 public:
  // The child runs `hold`: it returns 'r' once the file is open, or 'f' when it failed.
  Holder(const std::string& name, int mode, std::function<void(KFile*)> work = nullptr) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(down[1]);
      KFile* f = k5_open(name.c_str(), mode, "0,0,0");
      if (f && work) work(f);
      uint8_t answer = f ? 'r' : 'f';
      if (write(up[1], &answer, 1) != 1) _exit(2);
      read_byte(down[0], kWaitMs);  // the parent's word to close, or the time is up
      if (f) k5_close(f);
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    from_child_ = up[0];
    to_child_ = down[1];
    ready_ = read_byte(from_child_, kWaitMs) == 'r';
  }
  ~Holder() { finish(); }

  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }

  // Tells the child to close the file and waits for it, within a bound.
  int finish() {
    if (pid_ <= 0) return -1;
    uint8_t go = 'c';
    if (write(to_child_, &go, 1) != 1) kill(pid_, SIGKILL);
    return reap();
  }

  // Ends the child at once.
  int kill_now() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGKILL);
    return reap();
  }

 private:
  int reap() {
    int status = -1;
    for (int i = 0; i < kWaitMs / 5; i++) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) break;
      if (r < 0) break;
      usleep(5000);
      if (i == kWaitMs / 5 - 1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    pid_ = -1;
    close(from_child_);
    close(to_child_);
    return status;
  }

  pid_t pid_ = -1;
  int from_child_ = -1;
  int to_child_ = -1;
  bool ready_ = false;
};

class LockingTest : public KelvraTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    name_ = path("shared");
    rt_config_set("K_VERSION", 0, GetParam());
    ASSERT_NE(k5_make(name_.c_str(), "", "1,0,0,0,0", "30,30,1", "1,0,8,0", nullptr), 0);
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 50; i++) {
      std::string r = record(i);
      ASSERT_NE(k5_write(f, r.data(), 30), 0);
    }
    ASSERT_NE(k5_close(f), 0);
  }

  static std::string record(int i) {
    char buf[40];
    snprintf(buf, sizeof buf, "%08d-shared-record-%011d", i, i * 3);
    return std::string(buf, 30);
  }

  // 0 when an open in mode succeeds (the file is closed again), else the file error code.
  int try_open(int mode) {
    KFile* f = k5_open(name_.c_str(), mode, "0,0,0");
    if (!f) return error();
    EXPECT_NE(k5_close(f), 0);
    return 0;
  }

  // The records the file gives through its key.
  std::vector<std::string> read_all(KFile* f) {
    std::vector<std::string> out;
    std::vector<uint8_t> buf(30, 0);
    if (!k5_start(f, buf.data(), 0, 0, K_START_NOT_LESS)) return out;
    int n;
    while (out.size() < 1000 && (n = k5_next(f, buf.data())) > 0) {
      out.emplace_back(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
    }
    return out;
  }

  uint64_t user_count() {
    raw::File rf(name_);
    return rf.field(28);
  }

  std::string name_;
};

TEST_P(LockingTest, ReaderInAnotherProcess) {
  Holder reader(name_, K_MODE_READ);
  ASSERT_TRUE(reader.ready());
  EXPECT_EQ(try_open(K_MODE_EXCLUSIVE), 11) << "exclusive open while another process reads";
  EXPECT_EQ(try_open(K_MODE_WRITE), 11) << "writer while another process reads";
  EXPECT_EQ(try_open(K_MODE_SHARED), 0) << "shared readers";
  // Two readers at once, each reading the whole file.
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error();
  EXPECT_EQ(read_all(f).size(), 50u);
  EXPECT_NE(k5_close(f), 0);
  EXPECT_EQ(k5_make(name_.c_str(), "", "1,0,0,0,0", "30,30,1", "1,0,8,0", nullptr), 0);
  EXPECT_EQ(error(), 11) << "a file in use is not replaced";
  EXPECT_EQ(k5_remove(name_.c_str()), 0);
  EXPECT_EQ(error(), 11) << "a file in use is not removed";
  EXPECT_EQ(reader.finish(), 0);
  EXPECT_EQ(try_open(K_MODE_EXCLUSIVE), 0);
  EXPECT_EQ(try_open(K_MODE_WRITE), 0);
}

TEST_P(LockingTest, WriterInAnotherProcess) {
  Holder writer(name_, K_MODE_WRITE);
  ASSERT_TRUE(writer.ready());
  EXPECT_EQ(user_count(), 1u);
  EXPECT_EQ(try_open(K_MODE_WRITE), 11) << "a second writer";
  EXPECT_EQ(try_open(K_MODE_READ), 11) << "a reader while another process writes";
  EXPECT_EQ(try_open(K_MODE_EXCLUSIVE), 11);
  EXPECT_EQ(try_open(K_MODE_FILL), 11);
  EXPECT_EQ(writer.finish(), 0);
  EXPECT_EQ(user_count(), 0u);
  EXPECT_EQ(try_open(K_MODE_WRITE), 0);
}

TEST_P(LockingTest, ExclusiveOpenerInAnotherProcess) {
  Holder owner(name_, K_MODE_EXCLUSIVE);
  ASSERT_TRUE(owner.ready());
  EXPECT_EQ(try_open(K_MODE_READ), 11);
  EXPECT_EQ(try_open(K_MODE_EXCLUSIVE), 11);
  EXPECT_EQ(owner.finish(), 0);
  // The child could not have had it while this process holds it.
  KFile* f = k5_open(name_.c_str(), K_MODE_EXCLUSIVE, "0,0,0");
  ASSERT_NE(f, nullptr);
  Holder late(name_, K_MODE_READ);
  EXPECT_FALSE(late.ready()) << "a reader while this process has the file alone";
  late.finish();
  EXPECT_NE(k5_close(f), 0);
}

TEST_P(LockingTest, KilledWriterLeavesTheUserCountRaised) {
  // The child writes a few records and is killed before it closes.
  Holder writer(name_, K_MODE_WRITE, [](KFile* f) {
    for (int i = 100; i < 105; i++) {
      std::string r = record(i);
      k5_write(f, r.data(), 30);
    }
  });
  ASSERT_TRUE(writer.ready());
  ASSERT_EQ(user_count(), 1u);
  int status = writer.kill_now();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  raw::File rf(name_);
  const raw::FieldRow* row = raw::header_field(GetParam(), KF_USER_COUNT);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->offset, K_offsets[GetParam()][KF_USER_COUNT]);
  EXPECT_EQ(rf.field(KF_USER_COUNT), 1u) << "the dead writer is still counted";
  // The lock went with the process: the file opens and reads; what the child wrote may or
  // may not be there, but everything written before is.
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  std::vector<std::string> got = read_all(f);
  EXPECT_EQ(error(), 8);
  size_t before = 0;
  for (const std::string& r : got) {
    int i = std::stoi(r.substr(0, 8));
    EXPECT_EQ(r, record(i));
    before += i < 50;
  }
  EXPECT_EQ(before, 50u);
  EXPECT_NE(k5_close(f), 0);
  // A new writer counts itself on top and takes itself off at its close.
  f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  EXPECT_EQ(user_count(), 2u);
  std::string r = record(200);
  EXPECT_NE(k5_write(f, r.data(), 30), 0);
  EXPECT_NE(k5_close(f), 0);
  EXPECT_EQ(user_count(), 1u);
  rt_config_set("K_OPEN_STRICT", 0, 1);
  EXPECT_EQ(try_open(K_MODE_READ), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, LockingTest, ::testing::Values(2, 3, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "v" + std::to_string(info.param);
                         });

}  // namespace
