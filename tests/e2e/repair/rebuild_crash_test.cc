// -rebuild killed with SIGKILL just before each change it makes to a file, stepped by ptrace
// so that every moment is hit without depending on timing. Afterwards every record is in the
// untouched original or in a complete new file (under its temporary name or in place), and
// no name that holds a half-written file checks clean.
#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "tests/e2e/kelvra_files.h"
#include "tests/e2e/repair/change_stepper.h"

namespace {

using namespace e2e;
using namespace kfiles;
namespace fs = std::filesystem;

// A file's bytes, or nullopt when it cannot be read (read_file would report a failure).
std::optional<std::string> contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RebuildCrash : public E2eTest {
 protected:
  // The original f in the work directory: n records of 40 bytes whose keys are a
  // permutation, every tenth deleted; then its files and live records are kept.
  void make_original(int version, long segment_size, uint32_t n) {
    segment_size_ = segment_size;
    fs::create_directory(dir_);
    std::vector<std::string> all, deletes;
    for (uint32_t i = 0; i < n; ++i) all.push_back(record((i * 7919u + 13u) % n));
    for (uint32_t d = 0; d < n; d += 10) deletes.push_back(all[d]);
    make(dir_ + "/f",
         {.sizes = "40,40,2",
          .keys = "1,0,8,0,1,1,5,8",
          .version = version,
          .segment_size = segment_size},
         all, deletes);
    for (const auto& entry : fs::directory_iterator(dir_)) {
      snapshot_[entry.path().filename()] = read_file(entry.path());
    }
    expected_ = records(dir_ + "/f");
    ASSERT_EQ(expected_.size(), n - (n + 9) / 10);
    ASSERT_EQ(check("f"), 0);
  }

  // Puts the original back, alone in the work directory.
  void restore() {
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry.path());
    for (const auto& [name, bytes] : snapshot_) write_file(dir_ + "/" + name, bytes);
  }

  // Starts the rebuild of f, to be traced: without the leak check at its end, which cannot work in
  // a process another one traces.
  std::unique_ptr<Process> start_rebuild() {
    RunOptions options = {.cwd = dir_};
    if (segment_size_ != 0)
      options.env.push_back({"K_SEGMENT_SIZE", std::to_string(segment_size_)});
    const char* asan = getenv("ASAN_OPTIONS");
    options.env.push_back(
        {"ASAN_OPTIONS", (asan != nullptr ? std::string(asan) + ":" : "") + "detect_leaks=0"});
    return start({"-rebuild", "-a", "f"}, options);
  }

  // Every file of the original is there with its bytes: f is the untouched original.
  bool original_intact() const {
    for (const auto& [name, bytes] : snapshot_) {
      if (contents(dir_ + "/" + name) != bytes) return false;
    }
    return true;
  }

  // The temporary files in the work directory: the names of their segment 0.
  std::set<std::string> temp_names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename();
      if (name[0] != 'K') continue;
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos && dot + 2 < name.size() &&
          (name[dot + 1] == 'd' || name[dot + 1] == 'x') &&
          name.find_first_not_of("0123456789", dot + 2) == std::string::npos) {
        name.resize(dot);
      }
      names.insert(name);
    }
    return names;
  }

  int check(const std::string& name) { return run({"-check", "-fx", name}, {.cwd = dir_}).status; }

  // After a kill: f, when it checks clean, holds the original's records, or else a
  // temporary name does; and every name that checks clean holds them all.
  void find_records() {
    std::vector<std::string> names = {"f"};
    for (const std::string& t : temp_names()) names.push_back(t);
    const bool untouched = original_intact();
    int complete = 0;
    for (const std::string& name : names) {
      // The untouched original needs no check: its bytes are those checked at the start.
      if (!(name == "f" && untouched) && check(name) != 0) continue;
      ++complete;
      const std::vector<std::string> held = records(dir_ + "/" + name);
      if (held != expected_) {
        ADD_FAILURE() << name << " checks clean but holds " << held.size() << " records where the "
                      << "original holds " << expected_.size();
      }
    }
    EXPECT_GT(complete, 0) << "no name holds the records; names: "
                           << ::testing::PrintToString(names);
  }

  // Steps a rebuild of the original through its changes to files and returns them, in order:
  // to its end, where it has replaced f as it should, or killed just before change number
  // kill_at (counted from 0), after which the records are found.
  std::vector<std::string> step_rebuild(size_t kill_at = SIZE_MAX) {
    restore();
    auto p = start_rebuild();
    ChangeStepper stepper(p->pid());
    EXPECT_TRUE(stepper.ok());
    std::vector<std::string> changes;
    for (std::string what; changes.size() <= kill_at && stepper.next(&what);) {
      changes.push_back(what);
    }
    if (kill_at != SIZE_MAX) p->send_signal(SIGKILL);
    const RunResult r = p->wait();
    if (kill_at != SIZE_MAX) {
      EXPECT_EQ(r.signal, SIGKILL) << r;
      find_records();
    } else {
      EXPECT_EQ(r.status, 0) << r;
      EXPECT_EQ(records(dir_ + "/f"), expected_);
    }
    return changes;
  }

  const std::string dir_ = path("w");
  long segment_size_ = 0;
  std::map<std::string, std::string> snapshot_;
  std::vector<std::string> expected_;
};

// The rebuild killed just before its changes to files, in turn: the making and opening of the
// new file, its filling, the removal of the original and the move.
TEST_F(RebuildCrash, KilledBeforeEveryChangeLosesNoRecord) {
  // Version 3 in one file of a few thousand records; version 5 in segments of 4 KiB, where
  // every segment is a change of its own.
  for (const auto& [version, segment_size, n] :
       {std::tuple{3, 0L, 3000u}, std::tuple{5, 4096L, 300u}}) {
    SCOPED_TRACE("version " + std::to_string(version));
    ASSERT_NO_FATAL_FAILURE(make_original(version, segment_size, n));
    const std::vector<std::string> changes = step_rebuild();
    printf("version %d, %u records: %zu changes to files\n", version, n, changes.size());
    ASSERT_GT(changes.size(), 20u);
    // Every change of the making and of the move; a spread of those in between.
    const size_t step = changes.size() / 60 + 1;
    for (size_t n = 0; n < changes.size(); ++n) {
      if (n >= 15 && n + 20 < changes.size() && n % step != 0) continue;
      SCOPED_TRACE("killed before change " + std::to_string(n) + " of " +
                   std::to_string(changes.size()) + ": " + changes[n]);
      step_rebuild(n);
      if (HasFailure()) return;
    }
    fs::remove_all(dir_);
    snapshot_.clear();
  }
}

}  // namespace
