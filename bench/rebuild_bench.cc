// -rebuild of the workload W file (raw, by key 0, and through a spool), each a run of the
// built ixkit, beside the library's fast fill of the same records and SQLite's VACUUM of a
// database holding them with the same two indexes, all in one run. Everything measured runs
// in a child process, for its wall-clock and processor time and its peak memory; the runs of
// all of them are interleaved, so that a busy spell of the machine falls on all alike.
//
//   rebuild_bench [--records N] [--runs R] [--dir DIR]
#include "bench/workload.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// The costs of one piece of work over the runs.
struct Samples {
  explicit Samples(const char* text) : label(text) {}
  const char* label;
  std::vector<bench::ChildCost> runs;

  double median(double bench::ChildCost::*field) const {
    std::vector<double> v;
    for (const bench::ChildCost& c : runs) v.push_back(c.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  double largest_peak() const {
    double peak = 0;
    for (const bench::ChildCost& c : runs) peak = std::max(peak, c.peak_mib);
    return peak;
  }
  void add(const bench::ChildCost& c) {
    if (!c.ok) {
      fprintf(stderr, "%s failed\n", label);
      exit(1);
    }
    runs.push_back(c);
  }
  void print() const {
    printf("%-40s %8.3f %8.3f %10.1f\n", label, median(&bench::ChildCost::wall),
           median(&bench::ChildCost::cpu), largest_peak());
  }
};

// SQLite's VACUUM of the database at path, as a program that opens it gets it (default
// journal and synchronous settings), or with no syncing.
int sqlite_vacuum(const std::string& path, bool synchronous) {
  sqlite3* db = nullptr;
  bench::check_sqlite(sqlite3_open(path.c_str(), &db), db, "open");
  if (!synchronous) bench::sqlite_exec(db, "PRAGMA synchronous=OFF");
  bench::sqlite_exec(db, "VACUUM");
  sqlite3_close(db);
  return 0;
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  bench::Options o = bench::start_program(argc, argv, envp);
  const uint64_t n = o.records;
  const std::string kfile = o.dir + "/rebuild_w", spool = o.dir + "/rebuild_w.spool",
                    filled = o.dir + "/rebuild_w.fill", db = o.dir + "/rebuild_w.sqlite";
  printf("workload W: %llu records of %d bytes, median of %d runs, ixkit %s\n",
         static_cast<unsigned long long>(n), bench::kRecordSize, o.runs, IXKIT_BINARY);
  fflush(stdout);
  rt_config_set("K_VERSION", 0, 5);
  bench::fill_workload(kfile, n, K_MODE_FAST_FILL);
  bench::sqlite_load(db, n);

  Samples raw("ixkit -rebuild -a (raw)"), by_key("ixkit -rebuild -a -k 0"),
      spooled("ixkit -rebuild -a -s SPOOL"), fill("fast fill (34306) of the records"),
      vacuum("SQLite VACUUM"), vacuum_nosync("SQLite VACUUM, synchronous=OFF");
  const std::string ixkit = IXKIT_BINARY;
  for (int r = 0; r < o.runs; r++) {
    raw.add(bench::program_cost({ixkit, "-rebuild", "-a", kfile}));
    by_key.add(bench::program_cost({ixkit, "-rebuild", "-a", "-k", "0", kfile}));
    spooled.add(bench::program_cost({ixkit, "-rebuild", "-a", "-s", spool, kfile}));
    unlink(spool.c_str());
    fill.add(bench::child_cost([&] {
      bench::fill_workload(filled, n, K_MODE_FAST_FILL);
      return 0;
    }));
    vacuum.add(bench::child_cost([&] { return sqlite_vacuum(db, true); }));
    vacuum_nosync.add(bench::child_cost([&] { return sqlite_vacuum(db, false); }));
  }
  // Every rebuild left the file whole: all the records, the temporary names gone.
  if (bench::record_count(kfile) != static_cast<long>(n)) {
    fprintf(stderr, "the rebuilt file does not hold %llu records\n",
            static_cast<unsigned long long>(n));
    return 1;
  }

  printf("%-40s %8s %8s %10s\n", "seconds (medians), peak memory", "wall", "cpu", "peak MiB");
  for (const Samples* s : {&raw, &by_key, &spooled, &fill, &vacuum, &vacuum_nosync}) s->print();
  const double wall = raw.median(&bench::ChildCost::wall);
  const double cpu = raw.median(&bench::ChildCost::cpu);
  printf("rebuild cpu ratio (ours/SQLite VACUUM): %.2f\n",
         cpu / vacuum.median(&bench::ChildCost::cpu));
  printf("rebuild peak memory %s 256 MiB\n", raw.largest_peak() < 256 ? "under" : "NOT under");
  printf("rebuild ratio (ours/SQLite VACUUM): %.2f\n",
         wall / vacuum.median(&bench::ChildCost::wall));
  k5_remove(kfile.c_str());
  k5_remove(filled.c_str());
  unlink(db.c_str());
  return 0;
}
