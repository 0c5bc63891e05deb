// Foreign files in a test's scratch directory, and what the converted Kelvra files hold.
#ifndef IXKIT_TESTS_E2E_CONVERT_CONVERT_FILES_H
#define IXKIT_TESTS_E2E_CONVERT_CONVERT_FILES_H

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/kelvra_files.h"
#include "tests/foreign/foreign_files.h"

namespace cfiles {

using e2e::file_exists;
using e2e::read_file;
using e2e::write_file;

// A C-ISAM file base.idx and base.dat (or base itself when dat is false) holding live and
// deleted records in turn: the live ones first, each deleted one after them.
inline void write_cisam(const std::string& base, const foreign::CisamLayout& layout,
                        const std::vector<std::string>& live,
                        const std::vector<std::string>& deleted = {}, bool dat = true) {
  write_file(base + ".idx", foreign::cisam_index(layout));
  std::string data;
  for (const std::string& r : live) data += foreign::cisam_slot(r, layout.record_length, true);
  for (const std::string& r : deleted) data += foreign::cisam_slot(r, layout.record_length, false);
  write_file(dat ? base + ".dat" : base, data);
}

// A C-ISAM layout of 40-byte records with a unique 8-byte primary key at 0 and a 5-byte
// alternate key with duplicates at 8 (as kfiles::record makes them).
inline foreign::CisamLayout cisam_layout() {
  return {.record_length = 40,
          .keys = {{.parts = {{8, 0}}}, {.parts = {{5, 8}}, .duplicates = true}}};
}

inline void write_tolvane(const std::string& base, const foreign::TolvaneLayout& layout,
                          const std::string& data_name = "") {
  const foreign::TolvaneFiles files = foreign::tolvane_files(layout);
  write_file(base + ".idx", files.index);
  write_file(data_name.empty() ? base : data_name, files.data);
}

// The records of a Kelvra file by key number key, sorted (compared as a multiset).
inline std::vector<std::string> sorted_records(const std::string& name, int key) {
  std::vector<std::string> r = kfiles::records(name, key);
  std::sort(r.begin(), r.end());
  return r;
}
inline std::vector<std::string> sorted(std::vector<std::string> r) {
  std::sort(r.begin(), r.end());
  return r;
}

// The parts of key number key of a Kelvra file: (size, offset) each.
inline std::vector<foreign::TolvaneComponent> key_parts(const std::string& name, int key) {
  const std::string text = kfiles::info(name, key);
  std::vector<foreign::TolvaneComponent> parts;
  const int count = atoi(text.substr(0, 2).c_str());
  for (int i = 0; i < count; ++i) {
    unsigned size = 0, offset = 0;
    sscanf(text.c_str() + 5 + 15 * i, "%u,%u", &size, &offset);
    parts.push_back({static_cast<uint16_t>(size), static_cast<uint16_t>(offset)});
  }
  return parts;
}

// Whether the records read by key come in ascending order of that key's value.
inline bool in_key_order(const std::string& name, int key) {
  const std::vector<std::string> r = kfiles::records(name, key);
  const auto parts = key_parts(name, key);
  for (size_t i = 1; i < r.size(); ++i) {
    if (foreign::key_value(r[i], parts) < foreign::key_value(r[i - 1], parts)) return false;
  }
  return true;
}

// Removes everything in a directory.
inline void empty_directory(const std::string& directory) {
  for (auto& e : std::filesystem::directory_iterator(directory)) std::filesystem::remove_all(e);
}

// The names in a directory, sorted.
inline std::vector<std::string> names_in(const std::string& directory) {
  std::vector<std::string> all;
  for (auto& e : std::filesystem::directory_iterator(directory)) {
    all.push_back(e.path().filename().string());
  }
  std::sort(all.begin(), all.end());
  return all;
}

}  // namespace cfiles

#endif  // IXKIT_TESTS_E2E_CONVERT_CONVERT_FILES_H
