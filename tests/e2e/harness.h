// End-to-end test harness: runs the built ixkit (or another program) as a child process with
// chosen arguments, standard input, environment, working directory and console device, and
// collects what it prints, its exit status and the files it leaves.
//
//   class InfoTest : public e2e::E2eTest {};
//   TEST_F(InfoTest, Something) {
//     write_file(path("a.txt"), "abc\n");
//     auto r = run({"-load", path("a.txt"), path("a")}, {.input = "y\n"});
//     EXPECT_EQ(r.status, 0) << r;
//   }
//
// Every child gets an environment without the runtime's own variables (K_*, RT_*, MAX_FILES,
// COMPRESS_FACTOR, C_SEQ_DEFAULT_BLOCK_SIZE), so the developer's shell cannot change results;
// tests set what they need with .env. A child never has a controlling terminal unless
// .terminal is given, so nothing can read the developer's keyboard.
#ifndef IXKIT_TESTS_E2E_HARNESS_H
#define IXKIT_TESTS_E2E_HARNESS_H

#include <sys/types.h>

#include <csignal>

#include <chrono>
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

struct RunOptions {
  std::string input;  // standard input; run() closes it after this text
  std::vector<std::pair<std::string, std::string>> env;  // variables to set
  std::string cwd;  // working directory; empty: the test's scratch directory
  // Gives the child a controlling terminal whose keyboard input is this text ("\x04" at
  // the start of a line is the end of input); what the child writes there is in
  // RunResult::terminal. Without it, opening "/dev/tty" fails.
  std::optional<std::string> terminal;
  milliseconds timeout{30000};  // then the child is killed and the run reported timed out
  std::string program;          // instead of the built ixkit
};

struct RunResult {
  int status = -1;  // exit status; -1 when ended by a signal
  int signal = 0;   // the signal that ended the child, or 0
  bool timed_out = false;
  std::string out, err, terminal;
};
// Prints status, signal and the captured texts: EXPECT_EQ(r.status, 0) << r.
std::ostream& operator<<(std::ostream& os, const RunResult& r);
// Splits a command line at its blanks: words("-info -x f") is {"-info", "-x", "f"}.
std::vector<std::string> words(const std::string& line);
// A run's outcome as one text to compare: "STATUS [STDOUT][STDERR]".
inline std::string said(const RunResult& r) {
  return std::to_string(r.status) + " [" + r.out + "][" + r.err + "]";
}

// A child started in the background (args[0] is the program). Its standard input stays
// open until close_input(); the destructor kills a child still running.
class Process {
 public:
  Process(const std::vector<std::string>& args, const RunOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void write_input(std::string_view text) {
    pending_input_.append(text);
    pump(0);
  }
  void close_input() {
    close_input_ = true;
    pump(0);
  }
  void send_signal(int signal_number) {
    if (!reaped_) kill(pid_, signal_number);
  }
  // Waits until the child is blocked reading standard input (Linux: /proc/PID/syscall).
  bool wait_until_reading(milliseconds timeout = milliseconds(10000));
  // Waits until the child has printed text on standard output after what the last call
  // found, so that a dialogue can be followed prompt by prompt.
  bool wait_until_printed(std::string_view text, milliseconds timeout = milliseconds(10000));
  // The child's process id, for a test that traces it.
  pid_t pid() const { return pid_; }
  // Waits for the end of the child; kills it after timeout (then timed_out is set).
  RunResult wait(milliseconds timeout = milliseconds(30000));

 private:
  void pump(int wait_ms);
  void reap(bool block);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1, tty_ = -1;
  std::string pending_input_, pending_terminal_;
  bool close_input_ = false, reaped_ = false;
  size_t printed_seen_ = 0;  // standard output that wait_until_printed has passed
  RunResult result_;
};

// Runs a child to its end: args[0] is the program path.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& options);

// Files, byte for byte. read_file reports a failure when the file cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);
bool file_exists(const std::string& path);
// Success when the file holds exactly these bytes; otherwise says where they first differ.
::testing::AssertionResult file_holds(const std::string& path, std::string_view bytes);

// Fixture: a scratch directory per test under $TMPDIR (or /tmp), the working directory of
// every run by default, removed with its contents at the end (kept when the environment
// variable IXKIT_E2E_KEEP is set).
class E2eTest : public ::testing::Test {
 protected:
  E2eTest();
  ~E2eTest() override;
  // Runs ixkit (or options.program) with these arguments; a time-out is a failure.
  RunResult run(const std::vector<std::string>& args, RunOptions options = {});
  // Starts it in the background with its standard input open.
  std::unique_ptr<Process> start(const std::vector<std::string>& args, RunOptions options = {});
  std::string path(std::string_view name) const { return scratch_ + "/" + std::string(name); }
  const std::string& scratch() const { return scratch_; }

 private:
  std::vector<std::string> argv(const std::vector<std::string>& args, RunOptions& options) const;
  std::string scratch_;
};

}  // namespace e2e

#endif  // IXKIT_TESTS_E2E_HARNESS_H
