// Child processes, scratch directories and file helpers for the end-to-end tests.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& t : texts) result.push_back(t.data());
  result.push_back(nullptr);
  return result;
}

// A pseudo-terminal pair that neither echoes input nor changes output.
bool open_terminal(int& master, int& slave) {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (slave < 0 || tcgetattr(slave, &t) != 0) return false;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL);
  t.c_oflag &= ~OPOST;
  return tcsetattr(slave, TCSANOW, &t) == 0;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is available on fd into text; closes fd at its end (or EIO of a terminal).
void drain(int& fd, std::string& text) {
  char buffer[65536];
  ssize_t n = -1;
  while (fd >= 0 && ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  if (fd >= 0 && (n == 0 || errno != EAGAIN)) close_fd(fd);
}

// Writes as much of pending as fd takes now; a reader that has gone drops the rest.
void feed(int fd, std::string& pending) {
  ssize_t n = 0;
  while (fd >= 0 && !pending.empty() &&
         ((n = write(fd, pending.data(), pending.size())) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) pending.erase(0, static_cast<size_t>(n));
  }
  if (n < 0 && errno != EAGAIN && errno != EINTR) pending.clear();
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  using ::testing::PrintToString;
  return os << "\n  status " << r.status << ", signal " << r.signal
            << (r.timed_out ? ", TIMED OUT" : "") << "\n  stdout " << PrintToString(r.out)
            << "\n  stderr " << PrintToString(r.err) << "\n  terminal " << PrintToString(r.terminal)
            << "\n";
}

Process::Process(const std::vector<std::string>& args, const RunOptions& options) {
  signal(SIGPIPE, SIG_IGN);  // a child that has gone must not kill the harness
  std::vector<std::string> argv_text = args, env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e), name = entry.substr(0, entry.find('='));
    bool drop = name.starts_with("K_") || name.starts_with("RT_") || name == "MAX_FILES" ||
                name == "COMPRESS_FACTOR" || name == "C_SEQ_DEFAULT_BLOCK_SIZE";
    for (const auto& [set, value] : options.env) drop |= set == name;
    if (!drop) env_text.push_back(entry);
  }
  for (const auto& [name, value] : options.env) env_text.push_back(name + "=" + value);
  std::vector<char*> argv = pointers(argv_text), envp = pointers(env_text);
  const std::string failure = "harness: cannot run " + args[0] + "\n";
  int in[2], out[2], err[2], master = -1, slave = -1;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      (options.terminal && !open_terminal(master, slave)) || (pid_ = fork()) < 0) {
    result_.err = std::string("harness: cannot start: ") + strerror(errno);
    reaped_ = true;
    return;
  }
  if (pid_ == 0) {
    // The child, in a session of its own: only async-signal-safe calls until exec.
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGHUP}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2), setsid();
    // The terminal stays open across exec so that typed input stays queued until read.
    if (slave >= 0 && (ioctl(slave, TIOCSCTTY, 0) != 0 || fcntl(slave, F_SETFD, 0) != 0))
      _exit(126);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    if (write(2, failure.data(), failure.size()) < 0) _exit(126);
    _exit(127);
  }
  for (int fd : {in[0], out[1], err[1], slave}) close_fd(fd);
  in_ = in[1], out_ = out[0], err_ = err[0], tty_ = master;
  for (int fd : {in_, out_, err_, tty_}) {
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  pending_input_ = options.input;
  pending_terminal_ = options.terminal.value_or("");
  pump(0);
}

Process::~Process() {
  if (!reaped_) {
    kill(-pid_, SIGKILL);  // the child's process group goes too
    reap(true);
  }
  for (int* fd : {&in_, &out_, &err_, &tty_}) close_fd(*fd);
}

void Process::reap(bool block) {
  int status = 0;
  pid_t r;
  do r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r != pid_) return;
  reaped_ = true;
  result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// One round: moves input to the child and output from it, waiting at most wait_ms for
// something to happen, then notes whether the child has ended.
void Process::pump(int wait_ms) {
  feed(in_, pending_input_);
  feed(tty_, pending_terminal_);
  pollfd fds[4];
  int count = 0;
  for (int fd : {out_, err_, tty_}) {
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  }
  if (in_ >= 0 && !pending_input_.empty()) fds[count++] = {in_, POLLOUT, 0};
  poll(fds, count, count > 0 ? wait_ms : std::min(wait_ms, 5));
  drain(out_, result_.out);
  drain(err_, result_.err);
  drain(tty_, result_.terminal);
  feed(in_, pending_input_);
  if (pending_input_.empty() && close_input_) close_fd(in_);
  if (!reaped_) reap(false);
}

bool Process::wait_until_reading(milliseconds timeout) {
  for (auto deadline = Clock::now() + timeout; !reaped_ && remaining_ms(deadline) > 0; pump(10)) {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
    long number = -1;
    std::string fd;
    if (in >> number >> fd && number == SYS_read && strtol(fd.c_str(), nullptr, 16) == 0) {
      return true;
    }
  }
  return false;
}

bool Process::wait_until_printed(std::string_view text, milliseconds timeout) {
  for (auto deadline = Clock::now() + timeout;; pump(10)) {
    size_t at = result_.out.find(text, printed_seen_);
    if (at != std::string::npos) {
      printed_seen_ = at + text.size();
      return true;
    }
    if (reaped_ || remaining_ms(deadline) == 0) return false;
  }
}

RunResult Process::wait(milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (; !reaped_; pump(std::min(remaining_ms(deadline), 20))) {
    if (remaining_ms(deadline) == 0) {
      kill(-pid_, SIGKILL);
      reap(true);
      result_.timed_out = true;
    }
  }
  // Output still in the pipes after the end; a grandchild holding them gets a short grace.
  auto grace = Clock::now() + milliseconds(2000);
  while ((out_ >= 0 || err_ >= 0 || tty_ >= 0) && remaining_ms(grace) > 0) pump(20);
  for (int* fd : {&in_, &out_, &err_, &tty_}) close_fd(*fd);
  return result_;
}

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
  Process process(args, options);
  process.close_input();
  return process.wait(options.timeout);
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
    ADD_FAILURE() << "cannot write " << path;
  }
}

bool file_exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

::testing::AssertionResult file_holds(const std::string& path, std::string_view bytes) {
  if (!file_exists(path)) return ::testing::AssertionFailure() << path << " does not exist";
  std::string a = read_file(path);
  if (a == bytes) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < a.size() && at < bytes.size() && a[at] == bytes[at]) ++at;
  return ::testing::AssertionFailure() << path << " (" << a.size() << " bytes, expected "
                                       << bytes.size() << ") first differs at offset " << at;
}

E2eTest::E2eTest() {
  const char* base = getenv("TMPDIR");
  scratch_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ixkit-";
  for (char c : std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    scratch_ += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  scratch_ += "-XXXXXX";
  if (mkdtemp(scratch_.data()) == nullptr) ADD_FAILURE() << "cannot make " << scratch_;
}

E2eTest::~E2eTest() {
  std::error_code ec;
  if (getenv("IXKIT_E2E_KEEP") != nullptr) {
    printf("scratch directory kept: %s\n", scratch_.c_str());
  } else {
    std::filesystem::remove_all(scratch_, ec);
  }
}

std::vector<std::string> E2eTest::argv(const std::vector<std::string>& args,
                                       RunOptions& options) const {
  if (options.cwd.empty()) options.cwd = scratch();
  std::vector<std::string> words = {options.program.empty() ? IXKIT_BINARY : options.program};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

RunResult E2eTest::run(const std::vector<std::string>& args, RunOptions options) {
  RunResult r = run_program(argv(args, options), options);
  if (r.timed_out || r.err.starts_with("harness: ")) ADD_FAILURE() << "run failed" << r;
  return r;
}

std::unique_ptr<Process> E2eTest::start(const std::vector<std::string>& args, RunOptions options) {
  return std::make_unique<Process>(argv(args, options), options);
}

}  // namespace e2e
