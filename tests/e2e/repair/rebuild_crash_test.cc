// -rebuild killed with SIGKILL at many moments of a direct rebuild. Afterwards every record is
// in the untouched original or in a complete new file (under its temporary name or in place),
// and no name that holds a half-written file checks clean.
//
// The kill moments are pseudo-random; the seed is printed with every failure, and the
// environment variable IXKIT_CRASH_SEED replays it (the same delays; the moments they hit
// still depend on the machine's timing).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "tests/e2e/kelvra_files.h"
#include "tests/e2e/repair/change_stepper.h"

namespace {

using namespace e2e;
using namespace kfiles;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Where a kill landed, told by what it left on disk.
enum Phase { kStartUp, kMade, kCopy, kIndexBuild, kClosed, kReplacement, kEnded, kPhaseCount };
constexpr std::array<const char*, kPhaseCount> kPhaseNames = {
    "start-up",     "new file made, not open", "copy",
    "index build",  "new file complete",       "replacement",
    "after the end"};

// What the delay of a kill counts from: the start of ixkit, the creation of the temporary
// file, or the first change to a file of the original.
enum Anchor { kFromStart, kFromTemp, kFromReplacement };
constexpr std::array<const char*, 3> kAnchorNames = {"the start", "the temporary file appeared",
                                                     "the replacement began"};

struct Kill {
  Anchor anchor;
  double delay_ms;
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits until ms after start: asleep until shortly before, then busily, since sleeping is
// too coarse for moments a fraction of a millisecond apart.
void wait_until(Clock::time_point start, double ms) {
  if (ms > 1)
    std::this_thread::sleep_until(start + std::chrono::microseconds(long(ms * 1000) - 1000));
  while (ms_since(start) < ms) {
  }
}

// A file's bytes, or nullopt when it cannot be read (read_file would report a failure).
std::optional<std::string> contents(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat s;
  if (fd < 0 || fstat(fd, &s) != 0) {
    if (fd >= 0) close(fd);
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(s.st_size), '\0');
  const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
  close(fd);
  if (got != s.st_size) return std::nullopt;
  return bytes;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The names created, removed or renamed in a directory, as they happen.
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const std::string& dir) : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    EXPECT_GE(
        inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO),
        0);
  }
  ~DirectoryWatch() { close(fd_); }
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  // Waits until a name for which wanted(name, event mask) holds is seen; false when
  // give_up passes first. The events after it stay for the next call.
  template <typename F>
  bool await(F wanted, Clock::time_point give_up) {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      while (!seen_.empty()) {
        const auto [name, mask] = seen_.front();
        seen_.pop_front();
        if (wanted(name, mask)) return true;
      }
      ssize_t n;
      while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
          const inotify_event* e = reinterpret_cast<const inotify_event*>(p);
          if (e->len > 0) seen_.emplace_back(e->name, e->mask);
          p += sizeof(inotify_event) + e->len;
        }
      }
      if (!seen_.empty()) continue;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p = {fd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left.count()));
    }
  }

 private:
  int fd_;
  std::deque<std::pair<std::string, uint32_t>> seen_;  // read, not yet looked at
};

class RebuildCrash : public E2eTest {
 protected:
  // The original f in the work directory: n records of 40 bytes whose keys are a
  // permutation, every tenth deleted; then its files and live records are kept.
  void make_original(int version, long segment_size, uint32_t n) {
    version_ = version;
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

  // Starts the rebuild of f; traced, without the leak check at its end, which cannot work in
  // a process another one traces.
  std::unique_ptr<Process> start_rebuild(bool traced = false) {
    RunOptions options = {.cwd = dir_};
    if (segment_size_ != 0)
      options.env.push_back({"K_SEGMENT_SIZE", std::to_string(segment_size_)});
    if (traced) {
      const char* asan = getenv("ASAN_OPTIONS");
      options.env.push_back(
          {"ASAN_OPTIONS", (asan != nullptr ? std::string(asan) + ":" : "") + "detect_leaks=0"});
    }
    return start({"-rebuild", "-a", "f"}, options);
  }

  // Waits for the event an anchor names: a temporary file created, or a file of the
  // original removed or replaced.
  bool await_anchor(DirectoryWatch& watch, Anchor anchor) {
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(10);
    if (anchor == kFromTemp) {
      return watch.await([](const std::string& name, uint32_t) { return name[0] == 'K'; }, give_up);
    }
    return watch.await([&](const std::string& name, uint32_t) { return snapshot_.count(name) > 0; },
                       give_up);
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

  // The phase of the rebuild that the kill interrupted, from the files it left. The split
  // between the copy and the index build follows the library's writing: version 3 writes
  // each record as it comes, so the new file reaches the end of its record area (data_end_)
  // with the last records; versions 4 and 5 make index segments only while the indexes are
  // built at close.
  Phase phase_left(const RunResult& r) const {
    if (r.signal != SIGKILL) return kEnded;
    if (!original_intact()) return kReplacement;
    const std::set<std::string> temps = temp_names();
    if (temps.empty()) return kStartUp;
    const std::string temp = dir_ + "/" + *temps.begin();
    if (!file_exists(temp) || fs::file_size(temp) < 512) return kStartUp;
    const std::string block = read_file(temp).substr(0, 512);
    if (field(block, version_, KF_USER_COUNT, 2) == 0) {
      return field(block, version_, KF_RECORDS, 4) == 0 ? kMade : kClosed;
    }
    const bool indexing = version_ >= 4
                              ? file_exists(temp + ".x1") || fs::file_size(temp + ".x0") > 512
                              : fs::file_size(temp) >= data_end_;
    return indexing ? kIndexBuild : kCopy;
  }

  // After a kill: f, when it checks clean, holds the original's records, or else a
  // temporary name does; and every name that checks clean holds them all. Returns the
  // number of faults found.
  int find_records() {
    std::vector<std::string> names = {"f"};
    for (const std::string& t : temp_names()) names.push_back(t);
    const bool untouched = original_intact();
    int complete = 0, faults = 0;
    for (const std::string& name : names) {
      // The untouched original needs no check: its bytes are those checked at the start.
      if (!(name == "f" && untouched) && check(name) != 0) continue;
      ++complete;
      const std::vector<std::string> held = records(dir_ + "/" + name);
      if (held != expected_) {
        ++faults;
        ADD_FAILURE() << name << " checks clean but holds " << held.size() << " records where the "
                      << "original holds " << expected_.size();
      }
    }
    if (complete == 0) {
      ++faults;
      ADD_FAILURE() << "no name holds the records; names: " << ::testing::PrintToString(names);
    }
    return faults;
  }

  // Moments of a rebuild, in milliseconds from its start: the temporary file made, the
  // replacement begun, the last temporary name dropped, the end of the process.
  struct Moments {
    double temp, replacement, replaced, end;
  };

  // Runs the rebuild to its end: it replaces f with a file of the same records and leaves no
  // temporary name.
  Moments full_run() {
    restore();
    DirectoryWatch watch(dir_);
    const Clock::time_point start = Clock::now();
    auto p = start_rebuild();
    Moments m;
    EXPECT_TRUE(await_anchor(watch, kFromTemp));
    m.temp = ms_since(start);
    EXPECT_TRUE(await_anchor(watch, kFromReplacement));
    m.replacement = ms_since(start);
    EXPECT_TRUE(watch.await(
        [&](const std::string& name, uint32_t mask) {
          return name[0] == 'K' && (mask & IN_DELETE) != 0 && temp_names().empty();
        },
        Clock::now() + std::chrono::seconds(10)));
    m.replaced = ms_since(start);
    const RunResult r = p->wait();
    m.end = ms_since(start);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(temp_names().empty());
    EXPECT_EQ(check("f"), 0);
    EXPECT_EQ(records(dir_ + "/f"), expected_);
    return m;
  }

  // Kills the rebuild at count moments, finds the records after each kill, and prints how
  // many kills landed in each phase.
  void kill_many_times(int count) {
    const char* replay = getenv("IXKIT_CRASH_SEED");
    const unsigned seed = replay != nullptr ? static_cast<unsigned>(strtoul(replay, nullptr, 10))
                                            : std::random_device{}();
    std::vector<double> temp, replacement, replaced, end;
    for (int i = 0; i < 3; ++i) {
      const Moments m = full_run();
      temp.push_back(m.temp);
      replacement.push_back(m.replacement);
      replaced.push_back(m.replaced);
      end.push_back(m.end);
    }
    ASSERT_FALSE(HasFailure());
    const Moments m = {median(temp), median(replacement), median(replaced), median(end)};
    data_end_ = field(read_file(dir_ + "/f").substr(0, 512), version_, KF_END_OFFSET, 4);

    // Delays from the start, from the temporary file's creation and from the replacement's
    // beginning: the program's start-up (exec, sanitizers) takes much of a run, while the copy
    // and the replacement last only milliseconds, and the making of the new file a fraction
    // of one.
    std::mt19937 random(seed);
    auto uniform = [&](double to) { return std::uniform_real_distribution<double>(0, to)(random); };
    std::vector<Kill> kills;
    for (int i = 0; i < count; ++i) {
      switch (i % 6) {
        case 0:
          kills.push_back({kFromStart, uniform(m.end)});
          break;
        case 1:
        case 2:
          kills.push_back({kFromTemp, uniform(m.replacement - m.temp)});
          break;
        case 3:
          kills.push_back({kFromTemp, uniform(0.3 * (m.replacement - m.temp))});
          break;
        default:
          kills.push_back({kFromReplacement, uniform(m.replaced - m.replacement)});
          break;
      }
    }

    std::array<int, kPhaseCount> landed{}, faulty{};
    for (size_t i = 0; i < kills.size(); ++i) {
      const Kill& k = kills[i];
      SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(i) + ": " +
                   std::to_string(k.delay_ms) + " ms after " + kAnchorNames[k.anchor]);
      restore();
      DirectoryWatch watch(dir_);
      auto p = start_rebuild();
      if (k.anchor != kFromStart) {
        EXPECT_TRUE(await_anchor(watch, k.anchor));
      }
      wait_until(Clock::now(), k.delay_ms);
      p->send_signal(SIGKILL);
      const RunResult r = p->wait();
      ASSERT_TRUE(r.signal == SIGKILL || r.status == 0) << r;
      const Phase phase = phase_left(r);
      ++landed[phase];
      if (find_records() > 0) ++faulty[phase];
    }
    char timing[200];
    snprintf(timing, sizeof timing,
             "seed %u: a run takes %.1f ms, the temporary file appears at %.1f ms, the "
             "replacement runs from %.1f to %.1f ms; ",
             seed, m.end, m.temp, m.replacement, m.replaced);
    std::string summary = timing + std::to_string(kills.size()) + " kills:";
    for (int ph = 0; ph < kPhaseCount; ++ph) {
      summary +=
          std::string(ph == 0 ? " " : ", ") + std::to_string(landed[ph]) + " " + kPhaseNames[ph];
      if (faulty[ph] > 0) summary += " (" + std::to_string(faulty[ph]) + " with faults)";
    }
    printf("%s\n", summary.c_str());
    RecordProperty("kills", summary);
    // The kills timed from the replacement's beginning make sure it was hit.
    EXPECT_GT(landed[kReplacement], 0) << summary;
  }

  // The changes to files a whole rebuild makes, in order, seen by stepping through it; the
  // rebuild replaces f as it should.
  std::vector<std::string> changes_of_a_rebuild() {
    restore();
    auto p = start_rebuild(true);
    ChangeStepper stepper(p->pid());
    EXPECT_TRUE(stepper.ok());
    std::vector<std::string> changes;
    for (std::string what; stepper.next(&what);) changes.push_back(what);
    const RunResult r = p->wait();
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(records(dir_ + "/f"), expected_);
    return changes;
  }

  // Kills the rebuild just before its change number n (counted from 0), then finds the
  // records.
  void kill_before_change(size_t n) {
    restore();
    auto p = start_rebuild(true);
    ChangeStepper stepper(p->pid());
    ASSERT_TRUE(stepper.ok());
    std::string what;
    for (size_t i = 0; i <= n && stepper.next(&what); ++i) {
    }
    p->send_signal(SIGKILL);
    const RunResult r = p->wait();
    EXPECT_EQ(r.signal, SIGKILL) << r;
    find_records();
  }

  const std::string dir_ = path("w");
  int version_ = 5;
  long segment_size_ = 0;
  std::map<std::string, std::string> snapshot_;
  std::vector<std::string> expected_;
  uint32_t data_end_ = 0;
};

// The rebuild stopped, and killed, just before chosen changes to files, for a replay that
// does not depend on timing: the making and opening of the new file, the end of its filling,
// the beginning and the end of the replacement, and changes spread over the whole run.
TEST_F(RebuildCrash, KilledBeforeChosenChangesLosesNoRecord) {
  for (const auto& [version, segment_size] : {std::pair{3, 0L}, std::pair{5, 4096L}}) {
    SCOPED_TRACE("version " + std::to_string(version));
    make_original(version, segment_size, 300);
    const std::vector<std::string> changes = changes_of_a_rebuild();
    // The first change to a temporary file, and the first to a file of the original.
    auto first_to = [&](const std::string& prefix) {
      return static_cast<size_t>(
          std::find_if(changes.begin(), changes.end(),
                       [&](const std::string& c) { return c.find(" " + prefix) != c.npos; }) -
          changes.begin());
    };
    const size_t temp = first_to("K"), replacing = first_to("f");
    std::set<size_t> chosen;
    for (size_t i = 0; i < 8; ++i) chosen.insert(temp + i);  // making and opening
    for (size_t i = 0; i < 4; ++i) {
      chosen.insert(replacing - 1 - i);       // the last writes of the new file
      chosen.insert(replacing + i);           // the original removed, the new file linked
      chosen.insert(changes.size() - 1 - i);  // the temporary names dropped
    }
    for (size_t i = 0; i < 8; ++i) chosen.insert(i * changes.size() / 8);
    for (size_t n : chosen) {
      if (n >= changes.size()) continue;
      SCOPED_TRACE("killed before change " + std::to_string(n) + " of " +
                   std::to_string(changes.size()) + ": " + changes[n]);
      kill_before_change(n);
    }
    printf("version %d: %zu changes to files in a rebuild, killed before %zu of them\n", version,
           changes.size(), chosen.size());
    fs::remove_all(dir_);
    snapshot_.clear();
  }
}

TEST_F(RebuildCrash, Version3KilledAnywhereLosesNoRecord) {
  make_original(3, 0, 3000);
  kill_many_times(42);
}

TEST_F(RebuildCrash, Version5SegmentsKilledAnywhereLosesNoRecord) {
  make_original(5, 16384, 3000);
  kill_many_times(42);
}

}  // namespace
