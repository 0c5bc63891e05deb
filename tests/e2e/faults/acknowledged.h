// The library workload (library_workload): the files it runs on, what it was told was done,
// and the check that a file keeps it: every change acknowledged with "+" stands; the one change
// under way when the run ended may or may not.
#ifndef IXKIT_TESTS_E2E_FAULTS_ACKNOWLEDGED_H
#define IXKIT_TESTS_E2E_FAULTS_ACKNOWLEDGED_H

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"

namespace faults {

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

#endif  // IXKIT_TESTS_E2E_FAULTS_ACKNOWLEDGED_H
