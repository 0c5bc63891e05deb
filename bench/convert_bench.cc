// -convert of workload W written as a C-ISAM file, beside -load of the same records from a
// flat file of fixed records, in one run. The commands run in this process, as ixkit runs
// them; the conversion's time includes making the new file, flushing it to disk and moving
// it into place.
//
//   convert_bench [--records N] [--runs R] [--dir DIR]
#include <fstream>

#include "bench/workload.h"
#include "ixkit/front/commands.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/foreign/foreign_files.h"

namespace {

// W as a C-ISAM file: NAME.idx, and NAME.dat with every record live. Returns the data bytes.
uint64_t write_cisam(const std::string& name, uint64_t n) {
  foreign::CisamLayout layout = {
      .record_length = bench::kRecordSize,
      .keys = {{.parts = {{10, 0}}}, {.parts = {{8, 10}}, .duplicates = true}}};
  std::ofstream(name + ".idx", std::ios::binary) << foreign::cisam_index(layout);
  std::ofstream data(name + ".dat", std::ios::binary);
  char rec[bench::kRecordSize];
  for (uint64_t i = 0; i < n; i++) {
    bench::workload_record(i, n, rec);
    data << foreign::cisam_slot(std::string(rec, sizeof rec), bench::kRecordSize, true);
  }
  return n * (bench::kRecordSize + 1);
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  bench::Options o = bench::start_program(argc, argv, envp);
  const uint64_t n = o.records;
  const std::string cisam = o.dir + "/w", converted = cisam + ".kvl", flat = o.dir + "/w.flat",
                    loaded = o.dir + "/w.loaded";
  printf("workload W: %llu records of %d bytes, median of %d runs, K_BUFFERS %ld\n",
         static_cast<unsigned long long>(n), bench::kRecordSize, o.runs,
         rt_config_int("K_BUFFERS", 128));
  write_cisam(cisam, n);
  bench::write_flat(flat, n);

  bench::Samples load, convert;
  for (int r = 0; r < o.runs; r++) {
    if (!k5_make(loaded.c_str(), "workload W", "0,0,0,0,0", bench::kSizes, bench::kKeys, nullptr)) {
      bench::fail("make", loaded);
    }
    load.time([&] { bench::run_command(load_command, {"-b", flat, loaded}); });
    k5_remove(converted.c_str());
    convert.time([&] { bench::run_command(convert_command, {"-a", cisam}); });
    if (bench::record_count(loaded) != static_cast<long>(n) ||
        bench::record_count(converted) != static_cast<long>(n)) {
      fprintf(stderr, "a file does not hold the %llu records\n",
              static_cast<unsigned long long>(n));
      return 1;
    }
  }

  const bench::Timing l = load.median(), c = convert.median();
  printf("%-42s %8s %8s\n", "seconds (medians)", "wall", "cpu");
  bench::print("-load -b of the flat file", l);
  char note[64];
  snprintf(note, sizeof note, "   %.2f x load (wall), %.2f x (cpu)", c.wall / l.wall,
           c.cpu / l.cpu);
  bench::print("-convert of the C-ISAM file", c, note);
  k5_remove(converted.c_str());
  k5_remove(loaded.c_str());
  for (const std::string& f : {cisam + ".idx", cisam + ".dat", flat}) unlink(f.c_str());
  printf("target (conversion within 2 x the load's wall time) %s\n",
         c.wall <= 2 * l.wall ? "met" : "missed");
  return 0;
}
