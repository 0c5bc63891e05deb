// -check -fx on workload W, beside the time to read every byte of the file's segments once
// and SQLite's PRAGMA integrity_check over the same records, all in one run. The check runs
// in this process, as ixkit runs it; each figure is the median of the runs.
//
//   check_bench [--records N] [--runs R] [--dir DIR]
#include <unistd.h>

#include "bench/workload.h"
#include "ixkit/describe/header.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"

namespace {

// Reads every data and index segment of the file once; returns the bytes read.
uint64_t read_all_segments(const std::string& name) {
  uint64_t total = 0;
  for (int code : {K_SEGMENT_DATA, K_SEGMENT_INDEX}) {
    for (int n = 0;; n++) {
      const char* segment = ki_segment_name(name.c_str(), code, n);
      if (access(segment, F_OK) != 0) break;
      total += bench::read_once(segment);
    }
  }
  return total;
}

void sqlite_integrity_check(const std::string& path) {
  sqlite3* db = nullptr;
  bench::check_sqlite(sqlite3_open(path.c_str(), &db), db, "open");
  sqlite3_stmt* st = nullptr;
  bench::check_sqlite(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), db,
                      "prepare");
  bench::check_sqlite(sqlite3_step(st), db, "integrity_check");
  const char* answer = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  if (answer == nullptr || strcmp(answer, "ok") != 0) {
    fprintf(stderr, "sqlite integrity_check: %s\n", answer ? answer : "?");
    exit(1);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// -check -fx in this process, as ixkit runs it.
void run_check(const std::string& name) {
  bench::run_command(check_command, {"-fx", name});
  if (exit_status != 0) {
    fprintf(stderr, "the check found the workload file damaged (status %d)\n", exit_status);
    exit(1);
  }
}

// Where the time of the check goes: each pass of the extended examination on its own.
void time_passes(const std::string& name) {
  if (!read_header(name.c_str())) bench::fail("read_header", name);
  KFile* file = k5_open(name.c_str(), K_MODE_SHARED, "0,0,0");
  if (file == nullptr) bench::fail("open", name);
  for (int key = 0; key < 2; key++) {
    double t =
        bench::seconds([&] { bench::silenced([&] { check_by_key(file, name.c_str(), key); }); });
    printf("  key pass #%d:                               %8.3f s\n", key, t);
  }
  double raw = bench::seconds([&] { bench::silenced([&] { check_raw(file, name.c_str()); }); });
  printf("  raw pass:                                 %8.3f s\n", raw);
  double chains =
      bench::seconds([&] { bench::silenced([&] { check_free_chains(name.c_str()); }); });
  printf("  chain walk:                               %8.3f s\n", chains);
  k5_close(file);
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  bench::Options o = bench::start_program(argc, argv, envp);
  std::string name = o.dir + "/check_w";
  std::string db = o.dir + "/check_w.sqlite";
  printf("workload W: %llu records of %d bytes, %d runs each (median)\n",
         static_cast<unsigned long long>(o.records), bench::kRecordSize, o.runs);
  fflush(stdout);
  rt_config_set("K_VERSION", 0, 5);
  bench::fill_workload(name, o.records, K_MODE_FAST_FILL);
  bench::sqlite_load(db, o.records);

  uint64_t bytes = 0;
  double read_time =
      bench::median_seconds(o.runs, nullptr, [&] { bytes = read_all_segments(name); });
  double check_time = bench::median_seconds(o.runs, nullptr, [&] { run_check(name); });
  double sqlite_time = bench::median_seconds(o.runs, nullptr, [&] { sqlite_integrity_check(db); });

  printf("read every byte of the file once (%.1f MiB): %8.3f s\n", bytes / 1048576.0, read_time);
  printf("ixkit -check -fx:                           %8.3f s\n", check_time);
  printf("SQLite PRAGMA integrity_check:              %8.3f s\n", sqlite_time);
  printf("the check's passes, one run:\n");
  time_passes(name);
  k5_exit(0);
  rt_shutdown();
  return 0;
}
