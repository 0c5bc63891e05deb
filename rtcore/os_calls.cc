// The operating system's file calls, counted and, for tests, made to fail one at a time.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ixkit/libs/rtcore.h"

namespace {

struct Fault {
  int kind;  // an RtCall, or RT_CALL_COUNT for a call of any kind
  long nth;  // the call that fails, from 1
  int error;
};

// The plan read from RT_FAULT, the calls made so far, and where to write their counts.
struct Faults {
  bool read = false;
  Fault plan[8];
  int planned = 0;
  long made[RT_CALL_COUNT + 1] = {};  // per kind; the last counts every call
  std::string count_file;
};

Faults& faults() {
  static Faults f;
  return f;
}

constexpr const char* kKindNames[RT_CALL_COUNT + 1] = {"open",   "read",   "write", "size", "sync",
                                                       "rename", "remove", "close", "any"};

struct ErrorName {
  const char* name;
  int value;
};
constexpr ErrorName kErrors[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EACCES", EACCES},
                                 {"ENOENT", ENOENT}, {"EDQUOT", EDQUOT}, {"EROFS", EROFS},
                                 {"EFBIG", EFBIG},   {"EINTR", EINTR},   {"EMFILE", EMFILE},
                                 {"EPERM", EPERM},   {"ENOMEM", ENOMEM}, {"EBADF", EBADF}};

int error_value(const std::string& text) {
  for (const ErrorName& e : kErrors) {
    if (text == e.name) return e.value;
  }
  int value = atoi(text.c_str());
  return value > 0 ? value : EIO;
}

void write_counts() {
  const Faults& f = faults();
  FILE* out = fopen(f.count_file.c_str(), "w");
  if (!out) return;
  for (int k = 0; k <= RT_CALL_COUNT; ++k) fprintf(out, "%s %ld\n", kKindNames[k], f.made[k]);
  fclose(out);
}

// Reads RT_FAULT ("kind:n:error", several separated by ",") and RT_FAULT_COUNT (a file that
// receives the number of calls of each kind when the process ends) once.
Faults& plan() {
  Faults& f = faults();
  if (f.read) return f;
  f.read = true;
  const char* text = rt_config_text("RT_FAULT");
  std::string setting = text ? text : "";
  size_t start = 0;
  while (start < setting.size() && f.planned < 8) {
    size_t end = setting.find(',', start);
    if (end == std::string::npos) end = setting.size();
    std::string item = setting.substr(start, end - start);
    start = end + 1;
    size_t first = item.find(':'), second = item.find(':', first + 1);
    if (first == std::string::npos) continue;
    std::string kind = item.substr(0, first);
    for (int k = 0; k <= RT_CALL_COUNT; ++k) {
      if (kind != kKindNames[k]) continue;
      long nth = atol(item.substr(first + 1, second - first - 1).c_str());
      int error = second == std::string::npos ? EIO : error_value(item.substr(second + 1));
      if (nth > 0) f.plan[f.planned++] = {k, nth, error};
    }
  }
  const char* count_file = rt_config_text("RT_FAULT_COUNT");
  if (count_file && *count_file) {
    f.count_file = count_file;
    atexit(write_counts);
  }
  return f;
}

}  // namespace

int rt_fault(int kind) {
  Faults& f = plan();
  const long any = ++f.made[RT_CALL_COUNT];
  const long nth = ++f.made[kind];
  for (int i = 0; i < f.planned; ++i) {
    const Fault& p = f.plan[i];
    if ((p.kind == kind && p.nth == nth) || (p.kind == RT_CALL_COUNT && p.nth == any)) {
      errno = p.error;
      return p.error;
    }
  }
  return 0;
}

int rt_os_open(const char* path, int flags, int mode) {
  if (rt_fault(RT_CALL_OPEN)) return -1;
  int fd;
  do fd = open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

long rt_os_read(int fd, void* buffer, size_t count) {
  if (rt_fault(RT_CALL_READ)) return -1;
  ssize_t got;
  do got = read(fd, buffer, count);
  while (got < 0 && errno == EINTR);
  return got;
}

long rt_os_pread(int fd, void* buffer, size_t count, long long at) {
  if (rt_fault(RT_CALL_READ)) return -1;
  ssize_t got;
  do got = pread(fd, buffer, count, static_cast<off_t>(at));
  while (got < 0 && errno == EINTR);
  return got;
}

long rt_os_write(int fd, const void* buffer, size_t count) {
  if (rt_fault(RT_CALL_WRITE)) return -1;
  ssize_t put;
  do put = write(fd, buffer, count);
  while (put < 0 && errno == EINTR);
  return put;
}

long rt_os_pwrite(int fd, const void* buffer, size_t count, long long at) {
  if (rt_fault(RT_CALL_WRITE)) return -1;
  ssize_t put;
  do put = pwrite(fd, buffer, count, static_cast<off_t>(at));
  while (put < 0 && errno == EINTR);
  return put;
}

int rt_os_truncate(int fd, long long size) {
  if (rt_fault(RT_CALL_SIZE)) return -1;
  return ftruncate(fd, static_cast<off_t>(size));
}

int rt_os_sync(int fd) {
  if (rt_fault(RT_CALL_SYNC)) return -1;
  return fsync(fd);
}

int rt_os_rename(const char* from, const char* to) {
  if (rt_fault(RT_CALL_RENAME)) return -1;
  return rename(from, to);
}

int rt_os_link(const char* from, const char* to) {
  if (rt_fault(RT_CALL_RENAME)) return -1;
  return link(from, to);
}

int rt_os_unlink(const char* path) {
  if (rt_fault(RT_CALL_REMOVE)) return -1;
  return unlink(path);
}

int rt_os_close(int fd) {
  // The descriptor is released even when the close reports a failure.
  if (rt_fault(RT_CALL_CLOSE)) {
    close(fd);
    return -1;
  }
  return close(fd);
}
