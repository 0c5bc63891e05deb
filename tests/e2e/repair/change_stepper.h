// Follows a child process from one change to a file to the next (Linux, x86-64, ptrace), so
// that a test can stop it, and kill it, just before any chosen change: the creation, write,
// truncation, linking, renaming or removal of a file below the child's working directory.
#ifndef IXKIT_TESTS_E2E_REPAIR_CHANGE_STEPPER_H
#define IXKIT_TESTS_E2E_REPAIR_CHANGE_STEPPER_H

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace e2e {

class ChangeStepper {
 public:
  // Takes the child over and stops it; ok() tells whether that worked.
  explicit ChangeStepper(pid_t pid) : pid_(pid) {
    ok_ = ptrace(PTRACE_SEIZE, pid, 0, PTRACE_O_TRACESYSGOOD) == 0 &&
          ptrace(PTRACE_INTERRUPT, pid, 0, 0) == 0 && next_stop() == kOther;
  }
  bool ok() const { return ok_; }

  // Lets the child run to the entry of its next system call that changes a file and stops
  // it there; *what describes the change ("write K12_1 at 0", "link K12_1 f", ...). False when
  // the child ended first: its end is left for the harness to collect.
  bool next(std::string* what) {
    int signal = 0;
    for (;;) {
      if (ptrace(PTRACE_SYSCALL, pid_, 0, signal) != 0) return false;
      signal = 0;
      switch (next_stop(&signal)) {
        case kEnded:
          return false;
        case kOther:
          break;
        case kSyscall: {
          user_regs_struct r;
          if (ptrace(PTRACE_GETREGS, pid_, 0, &r) != 0) return false;
          // At a system call's entry the kernel has put -ENOSYS where its result goes.
          if (static_cast<long>(r.rax) == -ENOSYS && describe(r, what)) return true;
        }
      }
    }
  }

 private:
  enum Stop { kEnded, kSyscall, kOther };

  // Waits for the child's next stop; a signal for it to receive is put in *signal. An end is
  // only looked at (WNOWAIT), not collected.
  Stop next_stop(int* signal = nullptr) {
    siginfo_t info = {};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WSTOPPED | WNOWAIT) != 0 ||
        (info.si_code != CLD_TRAPPED && info.si_code != CLD_STOPPED)) {
      return kEnded;
    }
    int status = 0;
    if (waitpid(pid_, &status, __WALL) != pid_ || !WIFSTOPPED(status)) return kEnded;
    if (WSTOPSIG(status) == (SIGTRAP | 0x80)) return kSyscall;
    // A stop the tracer asked for, or a signal on its way to the child.
    if (status >> 16 == 0 && signal != nullptr) *signal = WSTOPSIG(status);
    return kOther;
  }

  // A text of the child's memory at address.
  std::string text_at(unsigned long long address) const {
    std::string text;
    const int mem = open(("/proc/" + std::to_string(pid_) + "/mem").c_str(), O_RDONLY);
    char c;
    while (mem >= 0 && text.size() < 4096 &&
           pread(mem, &c, 1, static_cast<off_t>(address + text.size())) == 1 && c != '\0') {
      text += c;
    }
    if (mem >= 0) close(mem);
    return text;
  }

  // The file an open descriptor of the child names, or "" for anything but a file below its
  // working directory.
  std::string file_of(unsigned long long fd) const {
    const std::string proc = "/proc/" + std::to_string(pid_);
    char target[4096], cwd[4096];
    const ssize_t n = readlink((proc + "/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    const ssize_t m = readlink((proc + "/cwd").c_str(), cwd, sizeof cwd);
    if (n <= 0 || m <= 0) return "";
    const std::string file(target, static_cast<size_t>(n)), dir(cwd, static_cast<size_t>(m));
    return file.starts_with(dir + "/") ? file.substr(dir.size() + 1) : "";
  }

  // Argument i (from 0) of the system call at whose entry the child stands.
  static unsigned long long argument(const user_regs_struct& r, int i) {
    const unsigned long long arguments[] = {r.rdi, r.rsi, r.rdx, r.r10, r.r8, r.r9};
    return arguments[i];
  }

  // Whether the system call at whose entry the child stands changes a file below the
  // working directory (paths given to it are relative there); describes it.
  bool describe(const user_regs_struct& r, std::string* what) const {
    // Where the calls that change files take what they change: argument 0 a descriptor
    // (kDescriptor) or the argument holding a path; a second path; the open flags (the call
    // changes a file only with O_CREAT); the file position. -1: none.
    constexpr int kDescriptor = -2;
    struct Call {
      unsigned long long number;
      const char* name;
      int path, second_path, flags, position;
    };
    static constexpr Call kCalls[] = {
        {SYS_write, "write", kDescriptor, -1, -1, -1},
        {SYS_writev, "write", kDescriptor, -1, -1, -1},
        {SYS_pwrite64, "write", kDescriptor, -1, -1, 3},
        {SYS_pwritev, "write", kDescriptor, -1, -1, 3},
        {SYS_ftruncate, "ftruncate", kDescriptor, -1, -1, -1},
        {SYS_openat, "create", 1, -1, 2, -1},
        {SYS_open, "create", 0, -1, 1, -1},
        {SYS_creat, "create", 0, -1, -1, -1},
        {SYS_truncate, "truncate", 0, -1, -1, -1},
        {SYS_unlink, "unlink", 0, -1, -1, -1},
        {SYS_unlinkat, "unlink", 1, -1, -1, -1},
        {SYS_link, "link", 0, 1, -1, -1},
        {SYS_rename, "rename", 0, 1, -1, -1},
        {SYS_linkat, "link", 1, 3, -1, -1},
        {SYS_renameat, "rename", 1, 3, -1, -1},
        {SYS_renameat2, "rename", 1, 3, -1, -1},
    };
    for (const Call& c : kCalls) {
      if (c.number != r.orig_rax) continue;
      if (c.flags >= 0 && (argument(r, c.flags) & O_CREAT) == 0) return false;
      const std::string file =
          c.path == kDescriptor ? file_of(argument(r, 0)) : text_at(argument(r, c.path));
      if (file.empty() || file[0] == '/') return false;
      *what = std::string(c.name) + " " + file;
      if (c.second_path >= 0) *what += " " + text_at(argument(r, c.second_path));
      if (c.position >= 0) *what += " at " + std::to_string(argument(r, c.position));
      return true;
    }
    return false;
  }

  pid_t pid_;
  bool ok_ = false;
};

}  // namespace e2e

#endif  // IXKIT_TESTS_E2E_REPAIR_CHANGE_STEPPER_H
