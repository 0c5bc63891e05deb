// The benchmark workload shared by the benchmark programs, and small timing helpers.
//
// Workload W: N fixed records of 100 bytes; record i (from 0): bytes 0-9 the primary key, the
// decimal of (i x 7919 + 13) mod N zero-padded to 10 digits; bytes 10-17 an alternate key with
// duplicates, the decimal of i mod 50000 zero-padded to 8; bytes 18-27 the decimal of i
// zero-padded to 10; the rest "X".
#ifndef IXKIT_BENCH_WORKLOAD_H
#define IXKIT_BENCH_WORKLOAD_H

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ixkit/front/startup.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace bench {

constexpr int kRecordSize = 100;
constexpr const char* kKeys = "1,0,10,0,1,1,8,10";
constexpr const char* kSizes = "100,100,2";

inline void workload_record(uint64_t i, uint64_t n, char* out) {
  char buf[32];
  // (i x 7919 + 13) mod N, computed in 64 bits: i x 7919 passes 32 bits for large N.
  snprintf(buf, sizeof buf, "%010llu", static_cast<unsigned long long>((i * 7919 + 13) % n));
  memcpy(out, buf, 10);
  snprintf(buf, sizeof buf, "%08llu", static_cast<unsigned long long>(i % 50000));
  memcpy(out + 10, buf, 8);
  snprintf(buf, sizeof buf, "%010llu", static_cast<unsigned long long>(i));
  memcpy(out + 18, buf, 10);
  memset(out + 28, 'X', kRecordSize - 28);
}

inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds one call of f takes.
inline double seconds(const std::function<void()>& f) {
  double t = now();
  f();
  return now() - t;
}

// The median of `runs` timings of f (prepare runs before each, untimed).
inline double median_seconds(int runs, const std::function<void()>& prepare,
                             const std::function<void()>& f) {
  std::vector<double> t;
  for (int r = 0; r < runs; r++) {
    if (prepare) prepare();
    t.push_back(seconds(f));
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// What a child process took: wall-clock and processor seconds, its peak resident memory in
// MiB; ok when it ended with status 0.
struct ChildCost {
  double wall = 0, cpu = 0, peak_mib = -1;
  bool ok = false;
};

// Waits for the child pid started at the time start (now()) and measures it.
inline ChildCost child_cost(pid_t pid, double start) {
  ChildCost c;
  int status = 0;
  struct rusage ru;
  if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return c;
  c.wall = now() - start;
  c.cpu =
      ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  c.peak_mib = ru.ru_maxrss / 1024.0;
  c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return c;
}

// Runs f in a child process (its result is the child's exit status) and measures it.
inline ChildCost child_cost(const std::function<int()>& f) {
  fflush(stdout);
  double start = now();
  pid_t pid = fork();
  if (pid == 0) _exit(f());
  return child_cost(pid, start);
}

// Runs f in a child process; returns the child's peak resident memory in MiB, or -1.
inline double child_peak_mib(const std::function<int()>& f) {
  ChildCost c = child_cost(f);
  return c.ok ? c.peak_mib : -1;
}

// Runs a program (argv[0] its path) with standard input, output and error on /dev/null, and
// measures it.
inline ChildCost program_cost(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  fflush(stdout);
  double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  return child_cost(pid, start);
}

// Wall-clock and processor seconds of one piece of work.
struct Timing {
  double wall;
  double cpu;
};

inline double cpu_now() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The timings of one piece of work over the runs. The runs of all pieces are interleaved, so
// that a busy spell of the machine falls on all of them alike; the medians are compared.
struct Samples {
  std::vector<double> wall, cpu;

  void time(const std::function<void()>& f) {
    double w = now(), c = cpu_now();
    f();
    wall.push_back(now() - w);
    cpu.push_back(cpu_now() - c);
  }
  Timing median() const {
    std::vector<double> w = wall, c = cpu;
    std::sort(w.begin(), w.end());
    std::sort(c.begin(), c.end());
    return {w[w.size() / 2], c[c.size() / 2]};
  }
};

inline Timing operator+(Timing a, Timing b) {
  return {a.wall + b.wall, a.cpu + b.cpu};
}

// One line of a timing table: label, wall and processor seconds, and a note.
inline void print(const std::string& label, Timing t, const char* note = "") {
  printf("%-42s %8.3f %8.3f%s\n", label.c_str(), t.wall, t.cpu, note);
}

// Settings every benchmark program takes: --records N, --runs R, --dir DIR (and, where
// allowed, --fast-fill-only).
struct Options {
  uint64_t records = 1000000;
  int runs = 3;
  std::string dir = ".";
  bool fast_fill_only = false;
};

inline Options parse_options(int argc, char** argv, bool fast_fill_only_allowed) {
  Options o;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--records" && i + 1 < argc) {
      o.records = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--runs" && i + 1 < argc) {
      o.runs = std::atoi(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      o.dir = argv[++i];
    } else if (a == "--fast-fill-only" && fast_fill_only_allowed) {
      o.fast_fill_only = true;
    } else {
      fprintf(stderr, "usage: %s [--records N] [--runs R] [--dir DIR]%s\n", argv[0],
              fast_fill_only_allowed ? " [--fast-fill-only]" : "");
      exit(2);
    }
  }
  if (o.records < 1 || o.runs < 1) exit(2);
  return o;
}

// Reads the options and brings the libraries up as ixkit does; a library that cannot start
// ends the benchmark with 1.
inline Options start_program(int argc, char** argv, char** envp,
                             bool fast_fill_only_allowed = false) {
  Options o = parse_options(argc, argv, fast_fill_only_allowed);
  start_libraries(argv, envp);
  set_config_defaults();
  if (!k5_init()) exit(1);
  return o;
}

// Ends the benchmark with the library's message for a failed call on name.
inline void fail(const char* what, const std::string& name) {
  fprintf(stderr, "%s failed: ", what);
  ki_error(name.c_str());
  exit(1);
}

// Makes W as a new file (of the K_VERSION in force) and writes its records with mode.
inline void fill_workload(const std::string& name, uint64_t n, int mode) {
  if (!k5_make(name.c_str(), "workload W", "0,0,0,0,0", kSizes, kKeys, nullptr)) {
    fail("make", name);
  }
  KFile* f = k5_open(name.c_str(), mode, "0,0,0");
  if (!f) fail("open", name);
  char rec[kRecordSize];
  for (uint64_t i = 0; i < n; i++) {
    workload_record(i, n, rec);
    if (!k5_write(f, rec, kRecordSize)) fail("write", name);
  }
  if (!k5_close(f)) fail("close", name);
}

// Writes the N records of W, 100 bytes each, one after another (a flat file of fixed
// records, as GnuCOBOL's fixed sequential files hold them too).
inline void write_flat(const std::string& path, uint64_t n) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) exit(1);
  char rec[kRecordSize];
  for (uint64_t i = 0; i < n; i++) {
    workload_record(i, n, rec);
    fwrite(rec, 1, sizeof rec, out);
  }
  if (fclose(out) != 0) exit(1);
}

// The number of records of a Kelvra file, as the library counts them.
inline long record_count(const std::string& name) {
  KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  if (!f) fail("open", name);
  char count[32] = "";
  k5_info(f, -4, count);
  k5_close(f);
  return strtol(count, nullptr, 10);
}

// Reads a file once with 64 KiB reads; returns its size.
inline uint64_t read_once(const std::string& path) {
  int in = open(path.c_str(), O_RDONLY);
  if (in < 0) exit(1);
  static char buf[1 << 16];
  uint64_t total = 0;
  ssize_t got;
  while ((got = read(in, buf, sizeof buf)) > 0) total += static_cast<uint64_t>(got);
  close(in);
  return total;
}

// Runs f with standard output and standard error sent to /dev/null.
inline void silenced(const std::function<void()>& f) {
  fflush(stdout);
  fflush(stderr);
  int saved_out = dup(1), saved_err = dup(2);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  f();
  fflush(stdout);
  fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(null);
  close(saved_out);
  close(saved_err);
}

// Runs an ixkit command function in this process, silenced, as ixkit runs it.
inline void run_command(void (*function)(int, char**), std::vector<std::string> words) {
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  silenced([&] { function(static_cast<int>(pointers.size()), pointers.data()); });
}

inline void check_sqlite(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    fprintf(stderr, "sqlite %s: %s\n", what, db ? sqlite3_errmsg(db) : "?");
    exit(1);
  }
}

inline void sqlite_exec(sqlite3* db, const char* sql) {
  check_sqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

// SQLite's fastest load of W: one transaction, no journal, no syncing; the table first,
// then both indexes.
inline void sqlite_load(const std::string& path, uint64_t n) {
  unlink(path.c_str());
  sqlite3* db = nullptr;
  check_sqlite(sqlite3_open(path.c_str(), &db), db, "open");
  sqlite_exec(db, "PRAGMA journal_mode=OFF");
  sqlite_exec(db, "PRAGMA synchronous=OFF");
  sqlite_exec(db, "CREATE TABLE w(pk BLOB, alt BLOB, rec BLOB)");
  sqlite_exec(db, "BEGIN");
  sqlite3_stmt* st = nullptr;
  check_sqlite(sqlite3_prepare_v2(db, "INSERT INTO w VALUES(?,?,?)", -1, &st, nullptr), db,
               "prepare");
  char rec[kRecordSize];
  for (uint64_t i = 0; i < n; i++) {
    workload_record(i, n, rec);
    sqlite3_bind_blob(st, 1, rec, 10, SQLITE_STATIC);
    sqlite3_bind_blob(st, 2, rec + 10, 8, SQLITE_STATIC);
    sqlite3_bind_blob(st, 3, rec, kRecordSize, SQLITE_STATIC);
    check_sqlite(sqlite3_step(st), db, "insert");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite_exec(db, "CREATE UNIQUE INDEX w_pk ON w(pk)");
  sqlite_exec(db, "CREATE INDEX w_alt ON w(alt)");
  sqlite_exec(db, "COMMIT");
  sqlite3_close(db);
}

// SQLite's full scan of W in the order of one index; returns the rows read.
inline uint64_t sqlite_scan(const std::string& path, const char* column) {
  sqlite3* db = nullptr;
  check_sqlite(sqlite3_open(path.c_str(), &db), db, "open");
  std::string sql = std::string("SELECT rec FROM w ORDER BY ") + column;
  sqlite3_stmt* st = nullptr;
  check_sqlite(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), db, "prepare");
  uint64_t rows = 0;
  volatile uint8_t sink = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
    sink = static_cast<uint8_t>(sink + p[0]);
    rows++;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

}  // namespace bench

#endif  // IXKIT_BENCH_WORKLOAD_H
