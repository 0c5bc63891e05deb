// Commands that change files, killed with SIGKILL at pseudo-random moments of their run:
// afterwards no record the files held before is lost (a rebuild finds it), and a file
// replaced in place is either untouched or whole. The seed is printed with every failure and
// IXKIT_CRASH_SEED replays it.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "tests/e2e/faults/fault_files.h"
#include "tests/e2e/kelvra_files.h"
#include "tests/foreign/foreign_files.h"

namespace {

using namespace e2e;
using namespace kfiles;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Kills per workload.
constexpr int kKills = 40;

class Crash : public faults::FaultTest {
 protected:
  void SetUp() override {
    const char* replay = getenv("IXKIT_CRASH_SEED");
    seed_ = replay != nullptr ? static_cast<uint32_t>(strtoul(replay, nullptr, 10))
                              : std::random_device{}();
    random_.seed(seed_);
  }
  // Runs args to its end a few times and gives the longest run in microseconds.
  long duration(const std::vector<std::string>& args, const faults::Snapshot& start) {
    long longest = 0;
    for (int i = 0; i < 3; ++i) {
      restore(start);
      const auto t = Clock::now();
      auto r = run(args, {.program = program_});
      EXPECT_EQ(r.status, 0) << r;
      longest = std::max<long>(
          longest, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count());
    }
    return longest;
  }
  // Kills args at kKills moments spread over its run; after each,
  // `after` checks the files, then they are put back.
  void kill_at_random(const std::vector<std::string>& args,
                      const std::function<void(const RunResult&)>& after) {
    const auto start = snapshot();
    const long whole = duration(args, start);
    std::uniform_int_distribution<long> moment(0, whole);
    int killed = 0;
    for (int kill = 0; kill < kKills; ++kill) {
      restore(start);
      const long at = moment(random_);
      SCOPED_TRACE("seed " + std::to_string(seed_) + ", kill " + std::to_string(kill) + " at " +
                   std::to_string(at) + " us of " + std::to_string(whole));
      auto p = start_command(args);
      std::this_thread::sleep_for(std::chrono::microseconds(at));
      p->send_signal(SIGKILL);
      auto r = p->wait();
      ASSERT_TRUE(r.signal == SIGKILL || r.status == 0) << r;
      killed += r.signal == SIGKILL;
      after(r);
      if (HasFailure()) return;
    }
    // Kills must land inside the run, or the test proves little (a run measured from here
    // includes starting and ending the process, so some come too late).
    EXPECT_GT(killed, kKills / 3) << "seed " << seed_;
    printf("%s: %d of %d runs killed (seed %u)\n",
           program_.empty() ? args[0].c_str() : "library_workload", killed, kKills, seed_);
  }
  std::unique_ptr<Process> start_command(const std::vector<std::string>& args) {
    auto p = start(args, {.program = program_});
    p->close_input();
    return p;
  }
  uint32_t seed_ = 0;
  std::mt19937 random_;
};

// A load into a file that holds records: after a rebuild, those records are all there and
// nothing but loaded records besides.
TEST_F(Crash, Load) {
  make_permuted(path("f"), 5, 200, 0, 0, "0,0,0,1,0", 8192);
  const auto before = records(path("f"));
  std::string flat;
  auto everything = before;
  for (uint32_t i = 1000; i < 1600; ++i) {
    flat += record(i, 40, true);
    everything.push_back(record(i, 40, true));
  }
  std::sort(everything.begin(), everything.end());
  write_file(path("in"), flat);
  kill_at_random({"-load", "in", "f"}, [&](const RunResult&) {
    auto r = run({"-rebuild", "-aa", "f"});
    ASSERT_EQ(r.signal, 0) << r;
    auto after = records(path("f"));
    std::sort(after.begin(), after.end());
    EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()))
        << "records of the file before the load are lost";
    EXPECT_TRUE(std::includes(everything.begin(), everything.end(), after.begin(), after.end()));
    EXPECT_EQ(check("f"), 0);
  });
}

// Header edits rewrite a few bytes in place: the records stay readable.
TEST_F(Crash, HeaderEdits) {
  make_permuted(path("f"), 4, 300, 10, 0, "0,0,0,0,0", 4096);
  const auto all = records(path("f"));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-note", "a new comment", "f"}, {"-augment", "80", "f"}}) {
    SCOPED_TRACE(args[0]);
    kill_at_random(args, [&](const RunResult&) {
      EXPECT_EQ(records(path("f")), all);
      EXPECT_EQ(check("f"), 0);
    });
  }
}

// An HV/COBOL-85 file is converted in place: it is untouched, or the converted file holds
// every record (at its own name or, during the move, under its temporary name).
TEST_F(Crash, ConvertInPlace) {
  const auto all = records_up_to(400);
  write_file(path("h"), foreign::hvc_file({.keys = {{0, 8}, {8, 5, true}}, .records = all}));
  const std::string original = read_file(path("h"));
  kill_at_random({"-convert", "-a", "h"}, [&](const RunResult&) {
    if (read_file(path("h")) == original) return;
    EXPECT_TRUE(whole_somewhere(all)) << "h is neither the original nor whole anywhere";
  });
}

}  // namespace

// Records changed through the library, in a shared and in an exclusive open, in a file of
// segments and one of block chains: after a rebuild
// every change the library acknowledged before the kill stands.
TEST_F(Crash, LibraryChanges) {
  program_ = LIBRARY_WORKLOAD;
  for (const faults::WorkloadCase& c : faults::kWorkloadCases) {
    SCOPED_TRACE(c.name);
    clear();
    make_permuted(path("f"), c.version, 60, 5, 0, "0,0,0,1,0", 4096);
    const auto before = records(path("f"));
    kill_at_random({"f", std::to_string(c.mode), std::to_string(seed_), "400"},
                   [&](const RunResult& r) {
                     auto rebuilt = run({"-rebuild", "-aa", "f"});
                     ASSERT_EQ(rebuilt.signal, 0) << rebuilt;
                     EXPECT_EQ(check("f"), 0);
                     EXPECT_TRUE(faults::keeps_acknowledged(before, r.out, records(path("f"))));
                   });
  }
}
