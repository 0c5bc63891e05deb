// What the fault and crash tests share: a fixture that keeps and puts back the files of the
// scratch directory, and the library workload (library_workload): the files it runs on, what
// it was told was done, and the check that a file keeps it: every change acknowledged with
// "+" stands; the one change under way when the run ended may or may not.
#ifndef IXKIT_TESTS_E2E_FAULTS_FAULT_FILES_H
#define IXKIT_TESTS_E2E_FAULTS_FAULT_FILES_H

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/kelvra_files.h"

namespace faults {

// The files of a directory, by name, with their bytes.
using Snapshot = std::map<std::string, std::string>;

// Runs of a command (or, with program_ set, another program) on files kept and put back.
class FaultTest : public e2e::E2eTest {
 protected:
  Snapshot snapshot() {
    Snapshot s;
    for (const auto& e : std::filesystem::directory_iterator(scratch())) {
      if (e.is_regular_file()) s[e.path().filename()] = e2e::read_file(e.path());
    }
    return s;
  }
  // Empties the scratch directory.
  void clear() {
    for (const auto& e : std::filesystem::directory_iterator(scratch())) {
      std::filesystem::remove_all(e.path());
    }
  }
  void restore(const Snapshot& s) {
    clear();
    for (const auto& [name, bytes] : s) e2e::write_file(path(name), bytes);
  }
  int check(const std::string& name) { return run({"-check", "-fx", name}).status; }
  // Names in the scratch directory that begin with prefix and have no extension.
  std::vector<std::string> names_like(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(scratch())) {
      const std::string n = e.path().filename();
      if (n.starts_with(prefix) && n.find('.') == std::string::npos) out.push_back(n);
    }
    return out;
  }
  // The records of a file that checks sound, or none.
  std::optional<std::vector<std::string>> sound_records(const std::string& name) {
    if (check(name) != 0) return std::nullopt;
    return kfiles::records(path(name));
  }
  // Whether the file at its own name, or a new file left whole under its temporary name,
  // checks sound and holds all the records: a replacement that failed part-way must leave
  // one of them.
  bool whole_somewhere(const std::vector<std::string>& all) {
    for (const std::string& n : names_like("")) {
      if (auto held = sound_records(n); held && *held == all) return true;
    }
    return false;
  }
  std::string program_;  // run instead of ixkit
};

// The files and opens the workload runs on: records in segments (version 5) and in block
// chains (version 3), each in a shared and in an exclusive open.
struct WorkloadCase {
  const char* name;
  int version;
  int mode;
};
inline const std::vector<WorkloadCase> kWorkloadCases = {
    {"version 5, shared", 5, K_MODE_WRITE},
    {"version 5, exclusive", 5, K_MODE_EXCLUSIVE | K_MODE_WRITE},
    {"version 3, shared", 3, K_MODE_WRITE},
    {"version 3, exclusive", 3, K_MODE_EXCLUSIVE | K_MODE_WRITE},
};

// Record by its 8-byte key; a deleted key is absent.
using Records = std::map<std::string, std::string>;

inline Records by_key(const std::vector<std::string>& records) {
  Records out;
  for (const std::string& r : records) out[r.substr(0, 8)] = r;
  return out;
}

inline void apply(Records& records, char change, const std::string& record) {
  if (change == 'd') {
    records.erase(record.substr(0, 8));
  } else {
    records[record.substr(0, 8)] = record;
  }
}

// Success when after (the records of the file afterwards) is before with the acknowledged
// changes of the workload's output applied, the last unacknowledged one applied or not.
inline ::testing::AssertionResult keeps_acknowledged(const std::vector<std::string>& before,
                                                     const std::string& output,
                                                     const std::vector<std::string>& after) {
  Records done = by_key(before);
  char open_change = 0;
  std::string open_record;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line == "+" && open_change != 0) {
      apply(done, open_change, open_record);
      open_change = 0;
    } else if (line.size() > 2 && line[1] == ' ') {
      open_change = line[0];
      open_record = line.substr(2);
    }
  }
  Records maybe = done;
  if (open_change != 0) apply(maybe, open_change, open_record);
  const Records got = by_key(after);
  if (got == done || got == maybe) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  for (const Records* expected : {&done, &maybe}) {
    for (const auto& [key, record] : *expected) {
      auto it = got.find(key);
      if (it == got.end()) {
        failure << "key " << key << " lost; ";
      } else if (it->second != record) {
        failure << "key " << key << " holds [" << it->second << "] not [" << record << "]; ";
      }
    }
    for (const auto& [key, record] : got) {
      if (!expected->contains(key)) failure << "key " << key << " back from deletion; ";
    }
    failure << (expected == &done ? "\nor, with the last change: " : "");
  }
  return failure;
}

}  // namespace faults

#endif  // IXKIT_TESTS_E2E_FAULTS_FAULT_FILES_H
