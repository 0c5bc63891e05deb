// Every file call a command makes, made to fail in turn (RT_FAULT): the command never crashes
// or hangs, a failure is reported and ends with a non-zero status, a file it only reads stays
// as it was, records the files held before are never lost, and nothing half-written is left
// looking complete.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "tests/e2e/convert/convert_files.h"
#include "tests/e2e/faults/fault_files.h"
#include "tests/e2e/kelvra_files.h"
#include "tests/foreign/foreign_files.h"

namespace {

using namespace e2e;
using namespace kfiles;
namespace fs = std::filesystem;

using faults::Snapshot;

class Faults : public faults::FaultTest {
 protected:
  // The calls of any kind the command makes when nothing fails.
  long calls(const std::vector<std::string>& args, const std::string& input = "") {
    auto r = run(
        args, {.input = input, .env = {{"RT_FAULT_COUNT", path("counts")}}, .program = program_});
    EXPECT_EQ(r.status, 0) << r;
    std::ifstream in(path("counts"));
    std::string kind;
    long n = 0, any = 0;
    while (in >> kind >> n) {
      if (kind == "any") any = n;
    }
    fs::remove(path("counts"));
    return any;
  }
  // Runs the command with call n failing (with EIO or, every other call, ENOSPC), checking
  // that it ended on its own with a message when it failed; then `after` checks the files.
  void each_call(const std::vector<std::string>& args, const Snapshot& start,
                 const std::function<void(const RunResult&)>& after,
                 const std::string& input = "") {
    restore(start);
    const long total = calls(args, input);
    ASSERT_GT(total, 0);
    // Every call of a small run; a spread sample of a large one.
    const long step = total > max_runs_ ? total / max_runs_ + 1 : 1;
    long failed_runs = 0;
    for (long n = 1; n <= total; n += step) {
      restore(start);
      const std::string fault = "any:" + std::to_string(n) + (n % 2 ? ":EIO" : ":ENOSPC");
      SCOPED_TRACE(fault);
      auto r = run(args, {.input = input, .env = {{"RT_FAULT", fault}}, .program = program_});
      ASSERT_FALSE(r.timed_out) << r;
      ASSERT_EQ(r.signal, 0) << r;
      if (r.status != 0) {
        EXPECT_NE((r.err + r.out).find(": "), std::string::npos) << "no reason given" << r;
      }
      after(r);
      if (HasFatalFailure()) return;
      ++failed_runs;
    }
    printf("%s: %ld runs, each with one of its %ld calls failing\n",
           program_.empty() ? args[0].c_str() : "library_workload", failed_runs, total);
  }
  // No name but `keep` that checks sound holds anything but all of `all`: a temporary file
  // left behind is either whole or visibly unfinished.
  void nothing_half_written(const std::vector<std::string>& all, const std::string& keep) {
    for (const std::string& n : names_like("K")) {
      if (n == keep) continue;
      auto held = sound_records(n);
      EXPECT_TRUE(!held || *held == all)
          << n << " checks sound with " << held->size() << " of " << all.size() << " records";
    }
  }
  // Files of name (the file and its segments), by name.
  Snapshot files_of(const Snapshot& s, const std::string& name) {
    Snapshot out;
    for (const auto& [n, bytes] : s) {
      if (n == name || n.starts_with(name + ".d") || n.starts_with(name + ".x")) out[n] = bytes;
    }
    return out;
  }
  long max_runs_ = 400;  // runs of one command, each with another call failing
};

// -rebuild: the original is untouched or fully replaced; a temporary file left behind is
// whole or visibly unfinished.
TEST_F(Faults, Rebuild) {
  for (const auto& [version, segment_size] : {std::pair{3, 0L}, std::pair{5, 4096L}}) {
    SCOPED_TRACE(version);
    clear();
    make_permuted(path("f"), version, 120, 10, 0, "0,0,0,1,0", segment_size);
    const Snapshot start = snapshot();
    const auto all = records(path("f"));
    each_call({"-rebuild", "-a", "f"}, start, [&](const RunResult& r) {
      const Snapshot now = snapshot();
      if (r.status == 0) {
        EXPECT_EQ(records(path("f")), all);
        EXPECT_EQ(check("f"), 0);
        EXPECT_TRUE(names_like("K").empty());
      } else if (files_of(now, "f") != files_of(start, "f")) {
        EXPECT_TRUE(whole_somewhere(all)) << "the original is neither kept nor replaced" << r;
      }
      nothing_half_written(all, "");
    });
  }
}

// -load into a file that holds records: they are never lost; whatever the load wrote is
// recovered by a rebuild, and a load that succeeded loaded everything.
TEST_F(Faults, Load) {
  make(path("f"), {.version = 5}, records_up_to(40));
  std::string flat;
  for (uint32_t i = 100; i < 160; ++i) flat += record(i);
  write_file(path("in"), flat);
  const Snapshot start = snapshot();
  const auto before = records(path("f"));
  auto everything = before;
  for (uint32_t i = 100; i < 160; ++i) everything.push_back(record(i));
  each_call({"-load", "in", "f"}, start, [&](const RunResult& r) {
    EXPECT_EQ(read_file(path("in")), flat);
    if (r.status == 0) {
      EXPECT_EQ(records(path("f")), everything);
      return;
    }
    ASSERT_EQ(run({"-rebuild", "-aa", "f"}).signal, 0);
    const auto after = records(path("f"));
    EXPECT_EQ(check("f"), 0);
    EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()))
        << "records of the file before the load are lost";
    EXPECT_TRUE(std::includes(everything.begin(), everything.end(), after.begin(), after.end()));
  });
}

// Commands that only read a file leave it byte for byte as it was.
TEST_F(Faults, ReadersChangeNothing) {
  make_permuted(path("f"), 5, 80, 10, 0, "0,0,0,1,0", 4096);
  const Snapshot start = snapshot();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-unload", "f", "out"},
                                             {"-check", "-fx", "f"},
                                             {"-info", "-x", "f"},
                                             {"-extract", "-q", "-k", "1", "-n", "5", "f"}}) {
    SCOPED_TRACE(args[0]);
    each_call(args, start, [&](const RunResult&) {
      EXPECT_EQ(files_of(snapshot(), "f"), files_of(start, "f"));
    });
  }
}

// Header edits: the file keeps every record and stays usable, changed or not.
TEST_F(Faults, HeaderEdits) {
  make_permuted(path("f"), 4, 60, 5, 0, "0,0,0,0,0", 4096);
  const auto all = records(path("f"));
  const Snapshot start = snapshot();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-zero", "f"},
                                             {"-note", "a comment", "f"},
                                             {"-augment", "60", "f"},
                                             {"-fixvers", "f"}}) {
    SCOPED_TRACE(args[0]);
    each_call(args, start, [&](const RunResult&) {
      EXPECT_EQ(records(path("f")), all);
      EXPECT_EQ(check("f"), 0);
    });
  }
}

// -convert of an HV/COBOL-85 file replaces the file itself: it is untouched or fully
// converted.
TEST_F(Faults, ConvertInPlace) {
  const auto all = records_up_to(50);
  write_file(path("h"), foreign::hvc_file({.keys = {{0, 8}, {8, 5, true}}, .records = all}));
  const Snapshot start = snapshot();
  each_call({"-convert", "-a", "h"}, start, [&](const RunResult& r) {
    if (files_of(snapshot(), "h") != files_of(start, "h")) {
      EXPECT_TRUE(whole_somewhere(all)) << "the original is neither kept nor replaced" << r;
    }
    nothing_half_written(all, "");
  });
}

}  // namespace

// Records changed through the library, in a shared and in an exclusive open, in a file of
// segments and one of block chains: a failed call is
// reported, and after a rebuild the file holds every change the library acknowledged.
TEST_F(Faults, LibraryChanges) {
  program_ = LIBRARY_WORKLOAD;
  max_runs_ = 120;
  for (const faults::WorkloadCase& c : faults::kWorkloadCases) {
    SCOPED_TRACE(c.name);
    clear();
    make_permuted(path("f"), c.version, 60, 5, 0, "0,0,0,1,0", 4096);
    const auto before = records(path("f"));
    each_call({"f", std::to_string(c.mode), "7", "80"}, snapshot(), [&](const RunResult& r) {
      auto rebuilt = run({"-rebuild", "-aa", "f"});
      ASSERT_EQ(rebuilt.signal, 0) << rebuilt;
      EXPECT_EQ(check("f"), 0);
      EXPECT_TRUE(faults::keeps_acknowledged(before, r.out, records(path("f")))) << r;
    });
  }
}
