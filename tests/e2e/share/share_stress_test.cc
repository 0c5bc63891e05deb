// Several processes write, rewrite, delete and read one file at once. Each owns a range of
// primary keys and checks every result in it against its own model; all of them count up
// shared counter records under record locks. At the end the file holds every acknowledged
// change and ixkit -check -fx finds it sound.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "tests/e2e/kelvra_files.h"

namespace {

using namespace e2e;
using namespace kfiles;

constexpr int kProcesses = 4;
constexpr uint32_t kRange = 100000;  // process p owns the keys p * kRange + [0, kRange)
constexpr uint32_t kOwned = 2000;    // of which it uses the first kOwned
constexpr uint32_t kCounterBase = 90000000;
constexpr int kCounters = 6;
constexpr double kSeconds = 1.5;
constexpr int kMostSteps = 6000;

// Record of 40 bytes: key 0 (8 digits), key 1 with duplicates (2 digits, key % 13), value.
std::string make_record(uint32_t pk, uint32_t value, char tag) {
  char text[48];
  snprintf(text, sizeof text, "%08u%02u%08u", pk, pk % 13, value);
  return std::string(text) + std::string(40 - 18, tag);
}
uint32_t value_of(const std::string& r) {
  return static_cast<uint32_t>(std::stoul(r.substr(10, 8)));
}
uint32_t pk_of(const std::string& r) {
  return static_cast<uint32_t>(std::stoul(r.substr(0, 8)));
}

// One working process: its steps until the time is up, checked as they go.
class Worker {
 public:
  Worker(const std::string& name, int p, unsigned seed) : name_(name), p_(p), rng_(seed) {}

  // Empty when every step gave what was expected, else what went wrong.
  std::string run() {
    f_ = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    if (!f_) return fail("open"), problem_;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSeconds);
    for (; steps_ < kMostSteps && std::chrono::steady_clock::now() < end; steps_++) {
      int pick = int(rng_() % 100);
      bool ok = pick < 30   ? write_new()
                : pick < 48 ? rewrite_own()
                : pick < 60 ? delete_own()
                : pick < 75 ? read_own()
                : pick < 88 ? scan_by_key1()
                            : count_up();
      if (!ok) return problem_;
    }
    if (!k5_close(f_)) return fail("close"), problem_;
    return "";
  }
  // The report: "ok" or the problem, the counts, then the records owned at the end.
  std::string report(const std::string& problem) const {
    std::ostringstream out;
    out << (problem.empty() ? "ok" : problem) << "\n" << steps_ << " " << increments_ << "\n";
    for (auto& [pk, value] : model_) out << pk << " " << value << "\n";
    return out.str();
  }

 private:
  bool fail(const std::string& what) {
    problem_ = what + " (step " + std::to_string(steps_) + ", error " +
               std::to_string(*rt_file_error()) + "/" + std::to_string(*rt_file_error2()) + ")";
    return false;
  }
  uint32_t own_key() { return p_ * kRange + static_cast<uint32_t>(rng_() % kOwned); }
  // A key this process holds, or 0 when it holds none.
  uint32_t held_key() {
    if (model_.empty()) return 0;
    auto it = model_.lower_bound(own_key());
    return it == model_.end() ? model_.begin()->first : it->first;
  }
  std::string record_of(uint32_t pk) const {
    return make_record(pk, model_.at(pk), static_cast<char>('a' + p_));
  }

  bool write_new() {
    uint32_t pk = own_key();
    if (model_.count(pk)) return true;
    model_[pk] = static_cast<uint32_t>(rng_() % 1000);
    std::string r = record_of(pk);
    return k5_write(f_, r.data(), 40) || fail("write " + std::to_string(pk));
  }
  bool rewrite_own() {
    uint32_t pk = held_key();
    if (!pk) return true;
    model_[pk]++;
    std::string r = record_of(pk);
    return k5_rewrite(f_, r.data(), 40) || fail("rewrite " + std::to_string(pk));
  }
  bool delete_own() {
    uint32_t pk = held_key();
    if (!pk) return true;
    std::string r = record_of(pk);
    model_.erase(pk);
    return k5_delete(f_, r.data()) || fail("delete " + std::to_string(pk));
  }
  bool read_own() {
    uint32_t pk = own_key();
    std::string probe = make_record(pk, 0, ' '), got(40, '\0');
    bool there = model_.count(pk) > 0;
    if (!k5_start(f_, probe.data(), 0, 0, K_START_EQUAL)) {
      return (!there && *rt_file_error() == 8) || fail("start " + std::to_string(pk));
    }
    if (!there) return fail("a deleted record is there: " + std::to_string(pk));
    if (k5_next(f_, got.data()) != 40) return fail("read " + std::to_string(pk));
    return got == record_of(pk) || fail("record " + std::to_string(pk) + " reads " + got);
  }
  // 30 records by key 1 from a random value: key order, no own record twice, own records as the
  // model has them, and every own record whose key 1 lies strictly between the first and
  // the last value read was read (others' changes do not make the cursor skip).
  bool scan_by_key1() {
    std::string probe(40, '0'), got(40, '\0');
    uint32_t from = static_cast<uint32_t>(rng_() % 13);
    probe[8] = char('0' + from / 10), probe[9] = char('0' + from % 10);
    if (!k5_start(f_, probe.data(), 1, 0, K_START_NOT_LESS)) {
      return *rt_file_error() == 8 || fail("start by key 1");
    }
    std::vector<std::string> seen;
    for (int i = 0; i < 30; i++) {
      int n = k5_next(f_, got.data());
      if (n == 0 && *rt_file_error() == 8) break;
      if (n != 40) return fail("next by key 1");
      seen.push_back(got);
    }
    if (seen.empty()) return true;
    std::set<uint32_t> keys;
    for (size_t i = 0; i < seen.size(); i++) {
      uint32_t pk = pk_of(seen[i]);
      if (i > 0 && seen[i].substr(8, 2) < seen[i - 1].substr(8, 2)) return fail("key 1 order");
      bool own = pk / kRange == static_cast<uint32_t>(p_) && pk < kCounterBase;
      // Another process may delete one of its records and write it again meanwhile: the
      // record then comes again later in key 1 order, as the file now is. Own records stay.
      if (!keys.insert(pk).second && own) return fail("read twice: " + std::to_string(pk));
      if (own && (!model_.count(pk) || seen[i] != record_of(pk))) {
        return fail("by key 1 " + std::to_string(pk) + " reads " + seen[i]);
      }
    }
    std::string low = seen.front().substr(8, 2), high = seen.back().substr(8, 2);
    for (auto& [pk, value] : model_) {
      std::string k1 = record_of(pk).substr(8, 2);
      if (k1 > low && k1 < high && !keys.count(pk)) return fail("skipped " + std::to_string(pk));
    }
    return true;
  }
  // One shared counter up by one, under its record lock: it never goes down.
  bool count_up() {
    int c = static_cast<int>(rng_() % kCounters);
    uint32_t pk = kCounterBase + static_cast<uint32_t>(c);
    std::string probe = make_record(pk, 0, ' '), got(40, '\0');
    if (!k5_start(f_, probe.data(), 0, 0, K_START_EQUAL)) return fail("start counter");
    if (k5_next_lock(f_, got.data(), K_LOCK | K_LOCK_WAIT) != 40) return fail("lock counter");
    uint32_t value = value_of(got);
    if (value < last_[c]) return fail("counter " + std::to_string(c) + " went down");
    std::string next = make_record(pk, value + 1, 'c');
    if (!k5_rewrite(f_, next.data(), 40) || !k5_unlock(f_)) return fail("count up");
    last_[c] = value + 1;
    increments_++;
    return true;
  }

  std::string name_;
  uint32_t p_;
  std::mt19937 rng_;
  KFile* f_ = nullptr;
  std::map<uint32_t, uint32_t> model_;  // key -> value of the records this process owns
  uint32_t last_[kCounters] = {};
  long steps_ = 0, increments_ = 0;
  std::string problem_;
};

struct Kind {
  int version;
  long segment_size;
};

// The file of kind, holding the counter records.
void make_shared_file(const std::string& name, Kind kind) {
  Layout layout;
  layout.version = kind.version;
  layout.keys = "1,0,8,0,1,1,2,8";
  layout.sizes = "40,40,2";
  layout.segment_size = kind.segment_size;
  std::vector<std::string> counters;
  for (int c = 0; c < kCounters; c++) counters.push_back(make_record(kCounterBase + c, 0, 'c'));
  make(name, layout, counters);
}

class ShareStress : public E2eTest, public ::testing::WithParamInterface<Kind> {};

TEST_P(ShareStress, ProcessesChangeOneFileAtOnce) {
  const Kind kind = GetParam();
  const std::string name = path("f");
  ASSERT_NO_FATAL_FAILURE(make_shared_file(name, kind));
  auto started = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; p++) {
    pid_t pid = fork();
    if (pid == 0) {
      alarm(60);
      Library library(kind.version, kind.segment_size);
      Worker worker(name, p, unsigned(kind.version * 100 + p));
      std::string problem = worker.run();
      std::ofstream(path("report." + std::to_string(p))) << worker.report(problem);
      _exit(problem.empty() ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "a process ended by signal " << WTERMSIG(status);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::map<uint32_t, uint32_t> expected;  // every record the processes own at the end
  long steps = 0, increments = 0;
  for (int p = 0; p < kProcesses; p++) {
    std::ifstream in(path("report." + std::to_string(p)));
    std::string status;
    long n = 0, up = 0;
    std::getline(in, status);
    EXPECT_EQ(status, "ok") << "process " << p;
    in >> n >> up;
    steps += n, increments += up;
    for (uint32_t pk, value; in >> pk >> value;) expected[pk] = value;
  }
  printf("version %d: %d processes, %ld operations (%ld counted up under locks) in %.2f s\n",
         kind.version, kProcesses, steps, increments, seconds);
  Library library(kind.version, kind.segment_size);
  std::map<uint32_t, uint32_t> found;
  long counted = 0;
  for (const std::string& r : records(name)) {
    if (pk_of(r) >= kCounterBase) {
      counted += value_of(r);
    } else {
      found[pk_of(r)] = value_of(r);
    }
  }
  EXPECT_TRUE(found == expected) << found.size() << " records, " << expected.size() << " expected";
  EXPECT_EQ(counted, increments) << "every count under a lock is there";
  EXPECT_EQ(info(name, -4), std::to_string(found.size() + kCounters));
  RunResult check = run({"-check", "-fx", name});
  EXPECT_EQ(check.status, 0) << check;
}

// ixkit -check -fx run again and again while processes change the file: it never reports
// damage. A pass that ran while the file changed is run again; a check ends with 2 (the
// writers' user count) or, when the file kept changing, 1.
TEST_P(ShareStress, CheckBesideWriters) {
  const Kind kind = GetParam();
  const std::string name = path("f");
  ASSERT_NO_FATAL_FAILURE(make_shared_file(name, kind));
  std::vector<pid_t> children;
  for (int p = 0; p < 2; p++) {
    pid_t pid = fork();
    if (pid == 0) {
      alarm(60);
      Library library(kind.version, kind.segment_size);
      _exit(Worker(name, p, unsigned(kind.version * 10 + p)).run().empty() ? 0 : 1);
    }
    children.push_back(pid);
  }
  int checks = 0, verified = 0;
  for (bool writing = true; writing || checks < 3;) {
    RunResult check = run({"-check", "-fx", name});
    checks++;
    EXPECT_TRUE(check.status == 0 || check.status == 1 || check.status == 2) << check;
    for (const char* damage : {"bad", "broken", "wrong", "expected", "could not", "non-deleted",
                               "non-abandoned", "loops"}) {
      EXPECT_EQ(check.err.find(damage), std::string::npos) << check;
    }
    verified += check.err.find("checking deleted records list...OK") != std::string::npos;
    writing = false;
    for (pid_t& pid : children) {
      int status = -1;
      if (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        writing = true;
      } else if (pid > 0) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
        pid = 0;
      }
    }
  }
  printf("version %d: %d checks beside 2 writers, %d verified every pass\n", kind.version, checks,
         verified);
}

INSTANTIATE_TEST_SUITE_P(Versions, ShareStress,
                         ::testing::Values(Kind{3, 0}, Kind{4, 16384}, Kind{5, 16384}),
                         [](const auto& info) { return "v" + std::to_string(info.param.version); });

}  // namespace
