// End-to-end test harness: runs the built ixkit (or another program) as a child process with
// chosen arguments, standard input, environment, working directory and console device, and
// collects what it prints, its exit status and the files it leaves.
//
//   class InfoTest : public e2e::E2eTest {};
//   TEST_F(InfoTest, Something) {
//     write_file(path("a.txt"), "abc\n");
//     auto r = run({"-load", path("a.txt"), path("a")}, {.input = "y\n"});
//     EXPECT_EQ(r.status, 0) << r;
//     EXPECT_EQ(r.out, "...");
//   }
//
// Every run gets an environment without the runtime's own variables (K_*, RT_*, MAX_FILES,
// COMPRESS_FACTOR, C_SEQ_DEFAULT_BLOCK_SIZE), so the developer's shell cannot change results;
// tests set what they need with .env. A child never has a controlling terminal unless
// .terminal is given, so nothing can read the developer's keyboard.
#ifndef IXKIT_TESTS_E2E_HARNESS_H
#define IXKIT_TESTS_E2E_HARNESS_H

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

using std::chrono::milliseconds;

// The built ixkit and the source tree.
std::string ixkit_binary();
std::string source_path(std::string_view relative);

struct RunOptions {
  // Standard input. run() closes it after this text; start() keeps it open.
  std::string input;
  // Variables to set, and variables to remove, in the child's environment.
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> unset;
  // Working directory; empty: the test's scratch directory (E2eTest) or the current one.
  std::string cwd;
  // Gives the child a controlling terminal ("/dev/tty") whose keyboard input is this text
  // (a line is sent by its "\n"; "\x04" at the start of a line is the end of input). What
  // the child writes there is in RunResult::terminal. Without it, opening "/dev/tty" fails.
  std::optional<std::string> terminal;
  // The run is killed and reported as timed out after this long.
  milliseconds timeout{30000};
  // Program to run instead of the built ixkit (argv[0] is this path).
  std::string program;
};

struct RunResult {
  int status = -1;         // exit status; -1 when ended by a signal or killed on time-out
  int signal = 0;          // the signal that ended the child, or 0
  bool timed_out = false;  // killed because it ran longer than the timeout
  std::string out;         // standard output
  std::string err;         // standard error
  std::string terminal;    // written to the controlling terminal (with .terminal only)
};
// Prints status, signal and the captured texts; use as EXPECT_EQ(r.status, 0) << r.
std::ostream& operator<<(std::ostream& os, const RunResult& r);

// A child started in the background. Its standard input stays open until close_input().
// The destructor kills a child that is still running.
class Process {
 public:
  Process(const std::vector<std::string>& args, const RunOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  void write_input(std::string_view text);
  void close_input();
  void send_signal(int signal_number);
  // Waits until the text has appeared on standard output or standard error.
  bool wait_for_output(std::string_view text, milliseconds timeout = milliseconds(10000));
  // Waits until the child is blocked reading descriptor fd (0: standard input), so that it
  // has finished its start-up. Linux only (/proc/PID/syscall).
  bool wait_until_reading(int fd = 0, milliseconds timeout = milliseconds(10000));
  // Waits for the end of the child; kills it after timeout (then timed_out is set).
  RunResult wait(milliseconds timeout = milliseconds(30000));
  bool finished() const { return reaped_; }
  const std::string& out() const { return result_.out; }
  const std::string& err() const { return result_.err; }

 private:
  void pump(int wait_ms);
  void reap(bool block);
  void close_fd(int& fd);
  void kill_all();

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1, tty_ = -1;
  std::string pending_input_, pending_terminal_;
  bool close_input_requested_ = false;
  bool reaped_ = false;
  RunResult result_;
};

// Runs a child to its end: args[0] is the program path.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& options);

// Files, byte for byte. read_file reports a failure when the file cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);
bool file_exists(const std::string& path);
void copy_file(const std::string& from, const std::string& to);
// Sorted names in a directory, without "." and "..".
std::vector<std::string> list_dir(const std::string& directory);
// Success when both files hold the same bytes; otherwise says where they first differ.
::testing::AssertionResult same_bytes(const std::string& path_a, const std::string& path_b);
// Success when the file holds exactly these bytes.
::testing::AssertionResult file_holds(const std::string& path, std::string_view bytes);

// A directory under $TMPDIR (or /tmp), removed with everything in it at the end of its life;
// kept when the environment variable IXKIT_E2E_KEEP is set (its name is then printed).
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view label);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Fixture for end-to-end tests: a scratch directory per test, which is also the working
// directory of every run unless .cwd says otherwise.
class E2eTest : public ::testing::Test {
 protected:
  E2eTest();

  // Runs ixkit with these arguments (after argv[0]); a run that times out is a failure.
  RunResult run(const std::vector<std::string>& args, RunOptions options = {});
  // Runs another program (a test driver, say) the same way.
  RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                        RunOptions options = {});
  // Starts ixkit (or options.program) in the background with its standard input open.
  std::unique_ptr<Process> start(const std::vector<std::string>& args, RunOptions options = {});

  // A name inside the scratch directory.
  std::string path(std::string_view name) const;
  const std::string& scratch() const { return scratch_.path(); }

  static std::string read_file(const std::string& p) { return e2e::read_file(p); }
  static void write_file(const std::string& p, std::string_view bytes) {
    e2e::write_file(p, bytes);
  }
  static bool file_exists(const std::string& p) { return e2e::file_exists(p); }

 private:
  RunOptions prepare(RunOptions options) const;
  ScratchDir scratch_;
};

}  // namespace e2e

#endif  // IXKIT_TESTS_E2E_HARNESS_H
