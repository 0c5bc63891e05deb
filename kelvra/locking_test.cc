// Sharing a file between processes: a child made with fork holds the file open while this
// process tries to open it. Every wait has a bound.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kelvra/test_support.h"

class LockingTest : public KelvraTest, public ::testing::WithParamInterface<int> {};

// While another process reads, has the file alone or writes, a conflicting open fails at once
// with 11 (an exclusive one always), and a file in use is not removed. A writer killed before
// its close leaves the user count raised; its lock went with it, so the file opens and gives
// every record, and a new writer counts itself on top.
TEST_P(LockingTest, AnotherProcessHasTheFile) {
  std::vector<std::string> recs;
  for (int i = 0; i < 50; i++) recs.push_back(rec(i));
  ASSERT_NO_FATAL_FAILURE(make(GetParam(), "1,0,0,0,0", "40,40,3", recs));
  auto users = [&] { return raw::File(name_).field(KF_USER_COUNT); };
  // A child that opens the file in mode and holds it until it is killed: its pid, or 0 when
  // its open failed.
  auto hold = [&](int mode) {
    int up[2];
    if (pipe(up) != 0) return pid_t(0);
    pid_t pid = fork();
    if (pid == 0) {
      KFile* f = k5_open(name_.c_str(), mode, "0,0,0");
      alarm(60);
      if (f && write(up[1], "r", 1) == 1) pause();
      _exit(0);
    }
    close(up[1]);
    pollfd p = {up[0], POLLIN, 0};
    char c = 0;
    bool open = poll(&p, 1, 20000) == 1 && read(up[0], &c, 1) == 1 && c == 'r';
    int status;
    if (!open) kill(pid, SIGKILL), waitpid(pid, &status, 0);
    close(up[0]);
    return open ? pid : 0;
  };
  for (int held : {K_MODE_READ, K_MODE_EXCLUSIVE, K_MODE_WRITE}) {
    pid_t other = hold(held);
    ASSERT_GT(other, 0);
    for (int mode : {K_MODE_EXCLUSIVE, K_MODE_WRITE, K_MODE_FILL, K_MODE_READ, K_MODE_SHARED}) {
      bool shared = held == K_MODE_READ && (mode == K_MODE_READ || mode == K_MODE_SHARED);
      EXPECT_EQ(open_error(mode), shared ? 0 : 1100) << "held " << held << ", mode " << mode;
    }
    EXPECT_TRUE(held != K_MODE_READ || (!k5_remove(name_.c_str()) && error() == 11));
    EXPECT_EQ(users(), held == K_MODE_WRITE ? 1u : 0u);
    int status = 0;
    EXPECT_TRUE(!kill(other, SIGKILL) && waitpid(other, &status, 0) == other &&
                WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(users(), held == K_MODE_WRITE ? 1u : 0u) << "a killed writer stays counted";
  }
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr) << error() << "/" << error2();
  expect_model(f, model_);
  EXPECT_NE(k5_close(f), 0);
  ASSERT_NE(f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0"), nullptr);
  EXPECT_EQ(users(), 2u);
  EXPECT_NE(k5_close(f), 0);
  EXPECT_EQ(users(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Versions, LockingTest, ::testing::Values(2, 3, 4, 5));
