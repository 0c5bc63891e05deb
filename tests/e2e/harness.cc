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

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

// The runtime's own variables: removed from every child's environment.
bool is_runtime_variable(std::string_view name) {
  static const std::set<std::string_view> named = {"MAX_FILES", "COMPRESS_FACTOR",
                                                   "C_SEQ_DEFAULT_BLOCK_SIZE"};
  return name.starts_with("K_") || name.starts_with("RT_") || named.count(name) > 0;
}

std::vector<std::string> child_environment(const RunOptions& options) {
  std::set<std::string> removed(options.unset.begin(), options.unset.end());
  for (const auto& [name, value] : options.env) removed.insert(name);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string name(entry.substr(0, entry.find('=')));
    if (is_runtime_variable(name) || removed.count(name) > 0) continue;
    env.emplace_back(entry);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& t : texts) result.push_back(t.data());
  result.push_back(nullptr);
  return result;
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Opens a pseudo-terminal pair: the master for the harness, the slave for the child. The
// terminal neither echoes input nor changes output, so both are byte for byte.
bool open_terminal(int& master, int& slave) {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  if (grantpt(master) != 0 || unlockpt(master) != 0) return false;
  const char* name = ptsname(master);
  if (name == nullptr) return false;
  slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return false;
  termios t;
  if (tcgetattr(slave, &t) != 0) return false;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL);
  t.c_oflag &= ~OPOST;
  return tcsetattr(slave, TCSANOW, &t) == 0;
}

[[noreturn]] void child_fail(int error_pipe) {
  int error = errno;
  ssize_t ignored = write(error_pipe, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

// Reads whatever is available on fd into text; closes fd (sets -1) at its end.
void drain(int& fd, std::string& text) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    close(fd);  // end of file, or EIO from a terminal nobody holds any more
    fd = -1;
    return;
  }
}

// Writes as much of pending as fd takes now.
void feed(int& fd, std::string& pending) {
  while (!pending.empty()) {
    ssize_t n = write(fd, pending.data(), pending.size());
    if (n > 0) {
      pending.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    pending.clear();  // the reader has gone (EPIPE): the rest is dropped
    return;
  }
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::string visible(std::string_view text) {
  std::string q = "\"";
  for (unsigned char c : text) {
    if (c == '\n') {
      q += "\\n";
    } else if (c == '\\' || c == '"') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c < 32 || c >= 127) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      q += hex;
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

}  // namespace

std::string ixkit_binary() {
  return IXKIT_BINARY;
}

std::string source_path(std::string_view relative) {
  return std::string(IXKIT_SOURCE_DIR) + "/" + std::string(relative);
}

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  os << "\n  status " << r.status;
  if (r.signal != 0) os << ", killed by signal " << r.signal;
  if (r.timed_out) os << ", TIMED OUT";
  os << "\n  stdout " << visible(r.out) << "\n  stderr " << visible(r.err);
  if (!r.terminal.empty()) os << "\n  terminal " << visible(r.terminal);
  return os << "\n";
}

// ---- Process --------------------------------------------------------------------------

Process::Process(const std::vector<std::string>& args, const RunOptions& options) {
  // A child that has gone must not kill the harness when its input is written.
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> argv_text = args;
  std::vector<std::string> env_text = child_environment(options);
  std::vector<char*> argv = pointers(argv_text);
  std::vector<char*> envp = pointers(env_text);
  const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();

  int in[2], out[2], err[2], failure[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      pipe2(failure, O_CLOEXEC) != 0) {
    result_.err = std::string("harness: pipe: ") + strerror(errno);
    reaped_ = true;
    return;
  }
  int master = -1, slave = -1;
  if (options.terminal && !open_terminal(master, slave)) {
    result_.err = std::string("harness: pseudo-terminal: ") + strerror(errno);
    reaped_ = true;
    return;
  }

  pid_ = fork();
  if (pid_ == 0) {
    // The child: only async-signal-safe calls until exec.
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGHUP}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) child_fail(failure[1]);
    // A session of its own: no controlling terminal, unless one is given.
    if (setsid() < 0) child_fail(failure[1]);
    if (slave >= 0) {
      if (ioctl(slave, TIOCSCTTY, 0) != 0) child_fail(failure[1]);
      // Kept open across exec so that the typed input stays queued until it is read.
      fcntl(slave, F_SETFD, 0);
    }
    if (cwd != nullptr && chdir(cwd) != 0) child_fail(failure[1]);
    execve(argv[0], argv.data(), envp.data());
    child_fail(failure[1]);
  }

  close(in[0]);
  close(out[1]);
  close(err[1]);
  close(failure[1]);
  if (slave >= 0) close(slave);
  if (pid_ < 0) {
    result_.err = std::string("harness: fork: ") + strerror(errno);
    for (int fd : {in[1], out[0], err[0], failure[0], master}) {
      if (fd >= 0) close(fd);
    }
    reaped_ = true;
    return;
  }

  int error = 0;
  ssize_t n;
  do n = read(failure[0], &error, sizeof error);
  while (n < 0 && errno == EINTR);
  close(failure[0]);
  if (n == sizeof error) {
    result_.err = "harness: cannot run " + args[0] + ": " + strerror(error);
    result_.status = 127;
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
    for (int fd : {in[1], out[0], err[0], master}) {
      if (fd >= 0) close(fd);
    }
    return;
  }

  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  tty_ = master;
  for (int fd : {in_, out_, err_, tty_}) {
    if (fd >= 0) set_nonblocking(fd);
  }
  pending_input_ = options.input;
  if (options.terminal) pending_terminal_ = *options.terminal;
  pump(0);
}

Process::~Process() {
  if (!reaped_ && pid_ > 0) {
    kill_all();
    reap(true);
  }
  for (int* fd : {&in_, &out_, &err_, &tty_}) close_fd(*fd);
}

// The child leads a process group of its own: helpers it started go with it.
void Process::kill_all() {
  if (kill(-pid_, SIGKILL) != 0) kill(pid_, SIGKILL);
}

void Process::close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void Process::write_input(std::string_view text) {
  pending_input_.append(text);
  pump(0);
}

void Process::close_input() {
  close_input_requested_ = true;
  pump(0);
}

void Process::send_signal(int signal_number) {
  if (!reaped_) kill(pid_, signal_number);
}

void Process::reap(bool block) {
  int status = 0;
  pid_t r;
  do r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r != pid_) return;
  reaped_ = true;
  if (WIFEXITED(status)) {
    result_.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result_.status = -1;
    result_.signal = WTERMSIG(status);
  }
}

// One round: moves input to the child and output from it, waiting at most wait_ms for
// something to happen, then notes whether the child has ended.
void Process::pump(int wait_ms) {
  if (in_ >= 0) {
    feed(in_, pending_input_);
    if (pending_input_.empty() && close_input_requested_) close_fd(in_);
  }
  if (tty_ >= 0) feed(tty_, pending_terminal_);

  pollfd fds[4];
  int count = 0;
  for (int fd : {out_, err_, tty_}) {
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  }
  if (in_ >= 0 && !pending_input_.empty()) fds[count++] = {in_, POLLOUT, 0};
  if (count > 0) {
    poll(fds, count, wait_ms);
  } else if (wait_ms > 0) {
    std::this_thread::sleep_for(milliseconds(std::min(wait_ms, 5)));
  }

  if (out_ >= 0) drain(out_, result_.out);
  if (err_ >= 0) drain(err_, result_.err);
  if (tty_ >= 0) drain(tty_, result_.terminal);
  if (in_ >= 0) {
    feed(in_, pending_input_);
    if (pending_input_.empty() && close_input_requested_) close_fd(in_);
  }
  if (tty_ >= 0) feed(tty_, pending_terminal_);
  if (!reaped_) reap(false);
}

bool Process::wait_for_output(std::string_view text, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (result_.out.find(text) != std::string::npos) return true;
    if (result_.err.find(text) != std::string::npos) return true;
    if (reaped_ && out_ < 0 && err_ < 0) return false;
    int left = remaining_ms(deadline);
    if (left == 0) return false;
    pump(std::min(left, 20));
  }
}

bool Process::wait_until_reading(int fd, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  std::string file = "/proc/" + std::to_string(pid_) + "/syscall";
  for (;;) {
    if (reaped_) return false;
    std::ifstream in(file);
    if (!in) {
      // Without /proc/PID/syscall, give the child a moment to reach its read.
      std::this_thread::sleep_for(milliseconds(300));
      return !reaped_;
    }
    long number = -1;
    std::string first_argument;
    if (in >> number >> first_argument && number == SYS_read &&
        strtol(first_argument.c_str(), nullptr, 16) == fd) {
      return true;
    }
    int left = remaining_ms(deadline);
    if (left == 0) return false;
    pump(std::min(left, 10));
  }
}

RunResult Process::wait(milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!reaped_) {
    int left = remaining_ms(deadline);
    if (left == 0) {
      kill_all();
      reap(true);
      result_.timed_out = true;
      break;
    }
    pump(std::min(left, 20));
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

// ---- Files -------------------------------------------------------------------------------

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return "";
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

void copy_file(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << ec.message();
}

std::vector<std::string> list_dir(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
    names.push_back(entry.path().filename().string());
  }
  if (ec) ADD_FAILURE() << "cannot list " << directory << ": " << ec.message();
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

::testing::AssertionResult compare_bytes(std::string_view a, std::string_view b,
                                         const std::string& what_a, const std::string& what_b) {
  if (a == b) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  auto byte = [](std::string_view s, size_t i) {
    if (i >= s.size()) return std::string("end of data");
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(s[i]));
    return std::string(hex);
  };
  return ::testing::AssertionFailure() << what_a << " (" << a.size() << " bytes) and " << what_b
                                       << " (" << b.size() << " bytes) first differ at offset "
                                       << at << ": " << byte(a, at) << " against " << byte(b, at);
}

}  // namespace

::testing::AssertionResult same_bytes(const std::string& path_a, const std::string& path_b) {
  if (!file_exists(path_a)) return ::testing::AssertionFailure() << path_a << " does not exist";
  if (!file_exists(path_b)) return ::testing::AssertionFailure() << path_b << " does not exist";
  return compare_bytes(read_file(path_a), read_file(path_b), path_a, path_b);
}

::testing::AssertionResult file_holds(const std::string& path, std::string_view bytes) {
  if (!file_exists(path)) return ::testing::AssertionFailure() << path << " does not exist";
  return compare_bytes(read_file(path), bytes, path, "the expected bytes");
}

// ---- Scratch directory and fixture -----------------------------------------------------

ScratchDir::ScratchDir(std::string_view label) {
  const char* base = getenv("TMPDIR");
  std::string name = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ixkit-";
  for (char c : label) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  name += "-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a scratch directory " << name << ": " << strerror(errno);
    return;
  }
  path_ = name;
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  if (getenv("IXKIT_E2E_KEEP") != nullptr) {
    printf("scratch directory kept: %s\n", path_.c_str());
    return;
  }
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

std::string current_test_label() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "e2e";
  return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

E2eTest::E2eTest() : scratch_(current_test_label()) {}

std::string E2eTest::path(std::string_view name) const {
  return scratch_.path() + "/" + std::string(name);
}

RunOptions E2eTest::prepare(RunOptions options) const {
  if (options.cwd.empty()) options.cwd = scratch_.path();
  if (options.program.empty()) options.program = ixkit_binary();
  return options;
}

RunResult E2eTest::run(const std::vector<std::string>& args, RunOptions options) {
  return run_program(std::string(), args, std::move(options));
}

RunResult E2eTest::run_program(const std::string& program, const std::vector<std::string>& args,
                               RunOptions options) {
  if (!program.empty()) options.program = program;
  options = prepare(std::move(options));
  std::vector<std::string> argv = {options.program};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = e2e::run_program(argv, options);
  if (r.timed_out) ADD_FAILURE() << "timed out after " << options.timeout.count() << " ms" << r;
  if (r.err.starts_with("harness: ")) ADD_FAILURE() << r.err;
  return r;
}

std::unique_ptr<Process> E2eTest::start(const std::vector<std::string>& args, RunOptions options) {
  options = prepare(std::move(options));
  std::vector<std::string> argv = {options.program};
  argv.insert(argv.end(), args.begin(), args.end());
  auto process = std::make_unique<Process>(argv, options);
  if (process->err().starts_with("harness: ")) ADD_FAILURE() << process->err();
  return process;
}

}  // namespace e2e
