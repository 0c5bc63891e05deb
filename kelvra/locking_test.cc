// Sharing a file between processes: a child made with fork holds the file open, or locks
// records, while this process works on it. Every wait has a bound.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "kelvra/test_support.h"

// A child process that opens the file and does what the parent asks, one command at a time:
// "o<mode>" open, "l<pk>" read record pk with a lock, "u" unlock, "c" close, "d<pk>" lock pk
// and let it go 300 ms later. It answers each with 'y' or 'n'.
class Helper {
 public:
  explicit Helper(const std::string& name) {
    if (pipe(down_) != 0 || pipe(up_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      alarm(60);
      close(down_[1]), close(up_[0]);
      serve(name);
      _exit(0);
    }
    close(down_[0]), close(up_[1]);
  }
  ~Helper() {
    close(down_[1]), close(up_[0]);
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  }
  // Sends a command; true when the child answered 'y' within 20 s.
  bool ask(const std::string& command) {
    std::string line = command + "\n";
    if (write(down_[1], line.data(), line.size()) != ssize_t(line.size())) return false;
    pollfd p = {up_[0], POLLIN, 0};
    char c = 0;
    return poll(&p, 1, 20000) == 1 && read(up_[0], &c, 1) == 1 && c == 'y';
  }
  // Kills the child with SIGKILL; true when it died of it.
  bool kill9() {
    int status = 0;
    bool dead = !kill(pid_, SIGKILL) && waitpid(pid_, &status, 0) == pid_ && WIFSIGNALED(status) &&
                WTERMSIG(status) == SIGKILL;
    pid_ = -1;
    return dead;
  }

 private:
  void serve(const std::string& name) {
    KFile* f = nullptr;
    FILE* in = fdopen(down_[0], "r");
    char line[64];
    while (in && fgets(line, sizeof line, in)) {
      int n = atoi(line + 1);
      bool ok = false;
      std::string r = rec(n);
      Bytes buf(100, 0);
      switch (line[0]) {
        case 'o':
          ok = (f = k5_open(name.c_str(), n, "0,0,0")) != nullptr;
          break;
        case 'l':
        case 'd':
          ok =
              k5_start(f, r.data(), 0, 0, K_START_EQUAL) && k5_next_lock(f, buf.data(), K_LOCK) > 0;
          if (line[0] == 'd') {
            if (write(up_[1], ok ? "y" : "n", 1) != 1) return;
            usleep(300000);
            k5_unlock(f);
            continue;
          }
          break;
        case 'u':
          ok = k5_unlock(f) != 0;
          break;
        case 'c':
          ok = k5_close(f) != 0;
          f = nullptr;
          break;
      }
      if (write(up_[1], ok ? "y" : "n", 1) != 1) return;
    }
  }
  int down_[2] = {-1, -1}, up_[2] = {-1, -1};
  pid_t pid_ = -1;
};

class LockingTest : public KelvraTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(KelvraTest::SetUp());
    std::vector<std::string> recs;
    for (int i = 0; i < 50; i++) recs.push_back(rec(i));
    ASSERT_NO_FATAL_FAILURE(make(GetParam(), "1,0,0,0,0", "40,40,3", recs));
  }
  // Reads record pk with lock flags: its length, or 0 and then 100 x the code.
  static int read_locked(KFile* f, int pk, int flags = K_LOCK) {
    std::string r = rec(pk);
    Bytes buf(100, 0);
    if (!k5_start(f, r.data(), 0, 0, K_START_EQUAL)) return -100 * error();
    int n = k5_next_lock(f, buf.data(), flags);
    return n > 0 ? n : -100 * error();
  }
  int users() { return int(raw::File(name_).field(KF_USER_COUNT)); }
};

// Exclusive opens (512, the fill modes) are refused with 11 while another process has the
// file, and refuse every open while they hold it; all other modes share the file. A file in
// use is not removed. A writer killed before its close leaves the user count raised; its
// locks went with it, so the file opens and gives every record.
TEST_P(LockingTest, ExclusiveAgainstShared) {
  const int modes[] = {K_MODE_EXCLUSIVE, K_MODE_FILL, K_MODE_WRITE, K_MODE_READ, K_MODE_SHARED};
  for (int held : {K_MODE_READ, K_MODE_SHARED, K_MODE_EXCLUSIVE, K_MODE_WRITE}) {
    Helper other(name_);
    ASSERT_TRUE(other.ask("o" + std::to_string(held))) << held;
    bool held_shared = !(held & K_MODE_EXCLUSIVE);
    for (int mode : modes) {
      bool shared = held_shared && !(mode & K_MODE_EXCLUSIVE);
      EXPECT_EQ(open_error(mode), shared ? 0 : 1100) << "held " << held << ", mode " << mode;
    }
    EXPECT_TRUE(!k5_remove(name_.c_str()) && error() == 11) << held;
    EXPECT_EQ(users(), held == K_MODE_WRITE ? 1 : 0);
    EXPECT_TRUE(other.kill9());
    EXPECT_EQ(users(), held == K_MODE_WRITE ? 1 : 0) << "a killed writer stays counted";
  }
  KFile* f = k5_open(name_.c_str(), K_MODE_EXCLUSIVE, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  {
    Helper other(name_);
    for (int mode : modes) EXPECT_FALSE(other.ask("o" + std::to_string(mode))) << mode;
  }
  expect_model(f, model_);
  EXPECT_NE(k5_close(f), 0);
  ASSERT_NE(f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0"), nullptr);
  EXPECT_EQ(users(), 2);
  EXPECT_NE(k5_close(f), 0);
  EXPECT_EQ(users(), 1);
}

// A record another process locked: a locking read gives 5 and leaves the cursor, a read
// without a lock gets it, rewrite and delete give 5, other records are free. The lock goes
// at unlock, at close and when the process is killed; a waiting read gets it when it goes.
// Only an open that may write locks records.
TEST_P(LockingTest, RecordLocksAcrossProcesses) {
  KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(f, nullptr);
  const std::string r7 = rec(7), r8 = rec(8), changed = rec(7, 40, 'z');
  Bytes buf(100, 0);
  {
    Helper other(name_);
    ASSERT_TRUE(other.ask("o2") && other.ask("l7"));
    EXPECT_EQ(read_locked(f, 7), -500);
    EXPECT_EQ(k5_next(f, buf.data()), 40) << "the cursor stayed before the locked record";
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 40), r7);
    EXPECT_EQ(k5_rewrite(f, changed.data(), 40), 0);
    EXPECT_EQ(error(), 5);
    EXPECT_EQ(k5_delete(f, r7.data()), 0);
    EXPECT_EQ(error(), 5);
    EXPECT_EQ(read_locked(f, 8), 40) << "another record is free";
    EXPECT_NE(k5_rewrite(f, r8.data(), 40), 0) << "a record this open locked";
    EXPECT_FALSE(other.ask("l8")) << "this open holds 8";
    EXPECT_TRUE(other.ask("u"));
    EXPECT_EQ(read_locked(f, 7), 40) << "after the other's unlock";
    EXPECT_FALSE(other.ask("l7")) << "held here now";
    EXPECT_TRUE(other.ask("l8")) << "locking 7 let 8 go";
    EXPECT_EQ(read_locked(f, 9, K_LOCK | K_LOCK_KEEP), 40);
    EXPECT_FALSE(other.ask("l7")) << "kept with K_LOCK_KEEP";
    EXPECT_TRUE(other.ask("u"));
    EXPECT_NE(k5_unlock(f), 0);
    ASSERT_TRUE(other.ask("l7"));
    ASSERT_TRUE(other.ask("c"));
    EXPECT_EQ(read_locked(f, 7), 40) << "after the other's close";
    EXPECT_NE(k5_unlock(f), 0);
    ASSERT_TRUE(other.ask("o0"));
    EXPECT_FALSE(other.ask("l7")) << "a read-only open locks nothing";
    ASSERT_TRUE(other.ask("c") && other.ask("o2") && other.ask("d7"));
    auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(read_locked(f, 7, K_LOCK | K_LOCK_WAIT), 40) << "waits for the other's unlock";
    EXPECT_GT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(100));
    EXPECT_NE(k5_unlock(f), 0);
    ASSERT_TRUE(other.ask("l7"));
    EXPECT_TRUE(other.kill9());
  }
  EXPECT_EQ(read_locked(f, 7), 40) << "after the other was killed";
  EXPECT_NE(k5_rewrite(f, changed.data(), 40), 0);
  EXPECT_NE(k5_delete(f, changed.data()), 0);
  EXPECT_NE(k5_close(f), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, LockingTest, ::testing::Values(2, 3, 4, 5));
