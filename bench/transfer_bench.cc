// -load and -unload on workload W in every framing, beside the floor (copying the flat file
// once), the library's fast fill plus one read of the flat file, and SQLite's full scan in
// primary-key order, all in one run. The commands run in this process, as ixkit runs them.
//
//   transfer_bench [--records N] [--runs R] [--dir DIR]
#include <fcntl.h>
#include <sys/resource.h>

#include "bench/workload.h"
#include "ixkit/front/commands.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/seqfile.h"

namespace {

struct Framing {
  const char* label;
  const char* options;  // the option word of -load and -unload
  int prefix;           // bytes of length prefix: 0, 4 (native) or 2 (portable)
  bool line;
};

constexpr Framing kFramings[] = {
    {"fixed", "-b", 0, false},
    {"native variable", "-v", 4, false},
    {"portable variable", "-bv", 2, false},
    {"line", "-t", 0, true},
};

void make_empty(const std::string& name) {
  if (!k5_make(name.c_str(), "workload W", "0,0,0,0,0", bench::kSizes, bench::kKeys, nullptr)) {
    bench::fail("make", name);
  }
}

// W in one framing, records in W's order.
void write_flat(const std::string& path, uint64_t n, const Framing& f) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) exit(1);
  char rec[bench::kRecordSize];
  uint8_t le[4] = {bench::kRecordSize, 0, 0, 0}, be[2] = {0, bench::kRecordSize};
  for (uint64_t i = 0; i < n; i++) {
    bench::workload_record(i, n, rec);
    if (f.prefix == 4) fwrite(le, 1, 4, out);
    if (f.prefix == 2) fwrite(be, 1, 2, out);
    fwrite(rec, 1, sizeof rec, out);
    if (f.line) fputc('\n', out);
  }
  fclose(out);
}

// Copies a file with 64 KiB reads and writes: the least any transfer of it costs.
void copy_file(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY), out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (in < 0 || out < 0) exit(1);
  static char buf[1 << 16];
  ssize_t got;
  while ((got = read(in, buf, sizeof buf)) > 0) {
    if (write(out, buf, static_cast<size_t>(got)) != got) exit(1);
  }
  close(in);
  close(out);
}

// Reads a fixed-record file once as -load does: through the flat-file buffer (4096-byte
// blocks unless C_SEQ_DEFAULT_BLOCK_SIZE says otherwise), record by record. Returns the count.
uint64_t read_through_buffer(const std::string& path) {
  int in = seq_open(path.c_str(), SEQ_READ, 1);
  if (in < 0) exit(1);
  uint8_t record[bench::kRecordSize];
  uint64_t count = 0;
  while (read_portable_record(in, record, 0, 0, bench::kRecordSize) > 0) count++;
  seq_close(in);
  return count;
}

// The library's fast fill of W from records already in memory: what -load does without the
// flat file.
void fast_fill(const std::string& name, const std::vector<char>& records) {
  KFile* f = k5_open(name.c_str(), K_MODE_FAST_FILL, "0,0,0");
  if (!f) bench::fail("open", name);
  for (size_t at = 0; at < records.size(); at += bench::kRecordSize) {
    if (!k5_write(f, &records[at], bench::kRecordSize)) bench::fail("write", name);
  }
  if (!k5_close(f)) bench::fail("close", name);
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  bench::Options o = bench::start_program(argc, argv, envp);
  uint64_t n = o.records;
  std::string kfile = o.dir + "/t.kvl", copy = o.dir + "/t.copy", sfile = o.dir + "/t.sqlite";
  printf("workload W: %llu records of %d bytes, median of %d runs, K_BUFFERS %ld\n",
         static_cast<unsigned long long>(n), bench::kRecordSize, o.runs,
         rt_config_int("K_BUFFERS", 128));

  std::string fixed_flat = o.dir + "/t.fixed", out = o.dir + "/t.out";
  std::vector<std::string> flats;
  for (const Framing& f : kFramings) {
    flats.push_back(o.dir + "/t.in." + f.options);
    write_flat(flats.back(), n, f);
  }
  write_flat(fixed_flat, n, kFramings[0]);
  std::vector<char> records(n * bench::kRecordSize);
  for (uint64_t i = 0; i < n; i++) bench::workload_record(i, n, &records[i * bench::kRecordSize]);
  bench::sqlite_load(sfile, n);

  constexpr size_t kCount = sizeof kFramings / sizeof kFramings[0];
  bench::Samples floor, read, buffered, fill, sqlite, load[kCount], unload[kCount];
  for (int r = 0; r < o.runs; r++) {
    floor.time([&] { copy_file(fixed_flat, copy); });
    read.time([&] {
      if (bench::read_once(fixed_flat) != n * bench::kRecordSize) exit(1);
    });
    buffered.time([&] {
      if (read_through_buffer(fixed_flat) != n) exit(1);
    });
    make_empty(kfile);
    fill.time([&] { fast_fill(kfile, records); });
    sqlite.time([&] {
      if (bench::sqlite_scan(sfile, "pk") != n) exit(1);
    });
    for (size_t i = 0; i < kCount; i++) {
      const Framing& f = kFramings[i];
      make_empty(kfile);
      load[i].time([&] { bench::run_command(load_command, {f.options, flats[i], kfile}); });
      unload[i].time([&] { bench::run_command(unload_command, {f.options, kfile, out}); });
      uint64_t framed = n * (bench::kRecordSize + f.prefix + (f.line ? 1 : 0));
      if (bench::read_once(out) != framed) {
        fprintf(stderr, "%s: the unloaded file has the wrong size\n", f.label);
        return 1;
      }
    }
  }

  bench::Timing target = fill.median() + read.median();
  printf("%-42s %8s %8s\n", "seconds (medians)", "wall", "cpu");
  bench::print("floor: copy the flat file once", floor.median());
  bench::print("one read of the flat file (64 KiB reads)", read.median());
  bench::print("one read as -load reads (4 KiB blocks)", buffered.median());
  bench::print("fast fill of the library", fill.median());
  bench::print("load target: fast fill + one read", target);
  bench::print("unload target: SQLite full scan by pk", sqlite.median());
  bool met = true;
  for (size_t i = 0; i < kCount; i++) {
    const Framing& f = kFramings[i];
    bench::Timing l = load[i].median(), u = unload[i].median();
    char note[64];
    snprintf(note, sizeof note, "   %.2f x target (cpu)", l.cpu / target.cpu);
    bench::print(std::string("-load ") + f.options + " (" + f.label + ")", l, note);
    snprintf(note, sizeof note, "   %.2f x SQLite (cpu)", u.cpu / sqlite.median().cpu);
    bench::print(std::string("-unload ") + f.options + " (" + f.label + ")", u, note);
    met = met && l.cpu <= target.cpu && u.cpu < sqlite.median().cpu;
    unlink(flats[i].c_str());
  }
  unlink(out.c_str());
  unlink(copy.c_str());
  unlink(sfile.c_str());
  k5_remove(kfile.c_str());
  unlink(fixed_flat.c_str());
  printf("targets (processor time) %s\n", met ? "met" : "missed");
  return 0;
}
