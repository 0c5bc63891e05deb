// The Kelvra library on workload W beside SQLite, in one run: loads, scans in key order,
// random keyed reads, and the floor (reading the flat records once, sorting the keys).
//
//   library_bench [--records N] [--runs R] [--dir DIR] [--fast-fill-only]
#include <array>
#include <random>

#include "bench/workload.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Reads every record in the order of key k; returns the count.
uint64_t scan(const std::string& name, int k) {
  KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  if (!f) bench::fail("open", name);
  char rec[bench::kRecordSize] = {};
  uint64_t n = 0;
  if (k5_start(f, rec, k, 0, K_START_NOT_LESS)) {
    while (k5_next(f, rec) > 0) n++;
  }
  k5_close(f);
  return n;
}

// count random reads by primary key.
void random_reads(const std::string& name, uint64_t n, uint64_t count) {
  KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  if (!f) bench::fail("open", name);
  std::mt19937_64 rng(7);
  char rec[bench::kRecordSize];
  for (uint64_t i = 0; i < count; i++) {
    bench::workload_record(rng() % n, n, rec);
    if (!k5_start(f, rec, 0, 0, K_START_EQUAL) || k5_next(f, rec) != bench::kRecordSize) {
      bench::fail("keyed read", name);
    }
  }
  k5_close(f);
}

// Writes the records of W into a new file from `writers` processes at once, in mode 2, each
// writing every writers-th record; returns when all have closed the file.
void shared_writes(const std::string& name, uint64_t n, int writers) {
  if (!k5_make(name.c_str(), "workload W", "0,0,0,0,0", bench::kSizes, bench::kKeys, nullptr)) {
    bench::fail("make", name);
  }
  std::vector<pid_t> children;
  for (int w = 0; w < writers; w++) {
    pid_t pid = fork();
    if (pid == 0) {
      KFile* f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
      char rec[bench::kRecordSize];
      for (uint64_t i = static_cast<uint64_t>(w); f && i < n; i += static_cast<uint64_t>(writers)) {
        bench::workload_record(i, n, rec);
        if (!k5_write(f, rec, bench::kRecordSize)) _exit(1);
      }
      _exit(f && k5_close(f) ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      bench::fail("shared writes", name);
    }
  }
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  bench::Options o = bench::start_program(argc, argv, envp, true);
  uint64_t n = o.records;
  std::string kfile = o.dir + "/w.kvl", sfile = o.dir + "/w.sqlite", flat = o.dir + "/w.flat";
  printf("workload W: %llu records of %d bytes, median of %d runs, K_BUFFERS %ld\n",
         static_cast<unsigned long long>(n), bench::kRecordSize, o.runs,
         rt_config_int("K_BUFFERS", 128));

  double peak = bench::child_peak_mib([&] {
    bench::fill_workload(kfile, n, K_MODE_FAST_FILL);
    return 0;
  });
  printf("fast fill peak memory:           %10.1f MiB\n", peak);
  double fast = bench::median_seconds(o.runs, nullptr,
                                      [&] { bench::fill_workload(kfile, n, K_MODE_FAST_FILL); });
  printf("fast fill (34306):               %10.3f s\n", fast);
  if (o.fast_fill_only) {
    k5_remove(kfile.c_str());
    return peak < 0;
  }

  bench::write_flat(flat, n);
  double read_floor = bench::median_seconds(o.runs, nullptr, [&] {
    if (bench::read_once(flat) != n * bench::kRecordSize) exit(1);
  });
  std::vector<std::array<char, 10>> keys(n);
  char rec[bench::kRecordSize];
  for (uint64_t i = 0; i < n; i++) {
    bench::workload_record(i, n, rec);
    memcpy(keys[i].data(), rec, 10);
  }
  double sort_floor = bench::median_seconds(o.runs, nullptr, [&] {
    std::vector<std::array<char, 10>> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
  });
  printf("floor: read the flat records:    %10.3f s\n", read_floor);
  printf("floor: sort the primary keys:    %10.3f s\n", sort_floor);

  double ordinary = bench::median_seconds(
      o.runs, nullptr, [&] { bench::fill_workload(kfile + ".o", n, K_MODE_FILL); });
  printf("ordinary fill (1538):            %10.3f s\n", ordinary);
  k5_remove((kfile + ".o").c_str());
  double random_writes = bench::median_seconds(
      o.runs, nullptr, [&] { bench::fill_workload(kfile + ".r", n, K_MODE_WRITE); });
  printf("writes in mode 2:                %10.3f s\n", random_writes);
  k5_remove((kfile + ".r").c_str());
  double two_writers =
      bench::median_seconds(o.runs, nullptr, [&] { shared_writes(kfile + ".s", n, 2); });
  printf("writes in mode 2, 2 processes:   %10.3f s (the same records, half each)\n", two_writers);
  k5_remove((kfile + ".s").c_str());

  double scans[2];
  for (int k = 0; k < 2; k++) {
    scans[k] = bench::median_seconds(o.runs, nullptr, [&] {
      if (scan(kfile, k) != n) bench::fail("scan", kfile);
    });
    printf("read all by key %d:               %10.3f s\n", k, scans[k]);
  }
  uint64_t lookups = n / 10 > 0 ? n / 10 : 1;
  double keyed = bench::median_seconds(o.runs, nullptr, [&] { random_reads(kfile, n, lookups); });
  printf("random keyed reads:              %10.3f s (%llu reads, %.0f per second)\n", keyed,
         static_cast<unsigned long long>(lookups), lookups / keyed);

  double sqlite_load =
      bench::median_seconds(o.runs, nullptr, [&] { bench::sqlite_load(sfile, n); });
  printf("SQLite load, then both indexes:  %10.3f s\n", sqlite_load);
  double sqlite_scans[2];
  const char* columns[2] = {"pk", "alt"};
  for (int k = 0; k < 2; k++) {
    sqlite_scans[k] = bench::median_seconds(o.runs, nullptr, [&] {
      if (bench::sqlite_scan(sfile, columns[k]) != n) exit(1);
    });
    printf("SQLite scan by %-4s:             %10.3f s\n", columns[k], sqlite_scans[k]);
  }
  printf("scan ratio by key 0 (ours/SQLite): %.2f\n", scans[0] / sqlite_scans[0]);
  printf("scan ratio by key 1 (ours/SQLite): %.2f\n", scans[1] / sqlite_scans[1]);
  k5_remove(kfile.c_str());
  unlink(sfile.c_str());
  unlink(flat.c_str());
  printf("load ratio (ours/SQLite): %.2f\n", fast / sqlite_load);
  return 0;
}
