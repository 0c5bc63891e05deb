// Kelvra files for the end-to-end tests: made, filled, read back and changed through the
// library in the test process, and their bytes and header fields read and patched directly.
#ifndef IXKIT_TESTS_E2E_KELVRA_FILES_H
#define IXKIT_TESTS_E2E_KELVRA_FILES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/e2e/harness.h"

namespace kfiles {

using e2e::read_file;

// The library in the test process, set up afresh for each use.
struct Library {
  explicit Library(int version = 5, long segment_size = 0) {
    rt_config_reset();
    k5_init_cfg();
    k5_init();
    bKForceOpen = 0;
    rt_config_set("K_VERSION", 0, version);
    if (segment_size) rt_config_set("K_SEGMENT_SIZE", 0, segment_size);
  }
  ~Library() { k5_exit(0); }
};

// What k5_make (or, for version 2, k2_make) is given.
struct Layout {
  std::string sizes = "40,40,1";  // maximum, minimum, keys
  std::string keys = "1,0,8,0";   // per key: segments, duplicates, size and offset of each
  int version = 5;
  std::string storage = "0,0,0,0,0";  // blocking, pre-allocation, extension, compression, scrambled
  std::string comment;
  long segment_size = 0;  // K_SEGMENT_SIZE when not 0
  std::string v2_parameters = "1,0", v2_description = "40,1,8,0,N,N,N";
  std::string collating;  // 256 bytes, or empty for none
};

// A record of size bytes: an 8-digit key, a 5-digit second field (key % 7), then letters, or
// blanks that compression shortens.
inline std::string record(uint32_t key, uint32_t size = 40, bool blanks = false) {
  char text[32];
  snprintf(text, sizeof text, "%08u%05u", key, key % 7);
  std::string r(text);
  for (uint32_t j = static_cast<uint32_t>(r.size()); j < size; ++j) {
    r += blanks ? ' ' : static_cast<char>('a' + (key + j) % 26);
  }
  return r.substr(0, size);
}
inline std::vector<std::string> records_up_to(uint32_t n, uint32_t size = 40) {
  std::vector<std::string> all;
  for (uint32_t i = 0; i < n; ++i) all.push_back(record(i, size));
  return all;
}

// Opens the file for writing, writes, deletes (by key) and rewrites records, and closes it.
inline void edit(const std::string& name, const std::vector<std::string>& writes,
                 const std::vector<std::string>& deletes = {},
                 const std::vector<std::string>& rewrites = {}) {
  Library library;
  KFile* file = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(file, nullptr) << "open " << name << ": error " << *rt_file_error();
  for (const std::string& r : writes) ASSERT_NE(k5_write(file, r.data(), r.size()), 0) << r;
  for (const std::string& r : deletes) ASSERT_NE(k5_delete(file, r.data()), 0) << r;
  for (const std::string& r : rewrites) ASSERT_NE(k5_rewrite(file, r.data(), r.size()), 0) << r;
  ASSERT_NE(k5_close(file), 0);
}

// Makes the file, then writes, deletes and rewrites records as edit() does.
inline void make(const std::string& name, const Layout& l,
                 const std::vector<std::string>& writes = {},
                 const std::vector<std::string>& deletes = {},
                 const std::vector<std::string>& rewrites = {}) {
  {
    Library library(l.version, l.segment_size);
    int made =
        l.version == 2
            ? k2_make(name.c_str(), l.v2_parameters.c_str(), l.v2_description.c_str())
            : k5_make(name.c_str(), l.comment.c_str(), l.storage.c_str(), l.sizes.c_str(),
                      l.keys.c_str(),
                      l.collating.empty() ? nullptr
                                          : reinterpret_cast<const uint8_t*>(l.collating.data()));
    ASSERT_NE(made, 0) << "make " << name << ": error " << *rt_file_error();
  }
  if (!writes.empty()) edit(name, writes, deletes, rewrites);
}

// The records in the order of key number key, from the first not below start.
inline std::vector<std::string> records(const std::string& name, int key = 0,
                                        const std::string& start = "") {
  Library library;
  std::vector<std::string> out;
  KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  EXPECT_NE(f, nullptr) << name << ": error " << *rt_file_error();
  if (f == nullptr) return out;
  std::vector<char> buffer(f->max_record_size + 1, 0);
  std::copy(start.begin(), start.end(), buffer.begin());
  if (k5_start(f, buffer.data(), key, 0, K_START_NOT_LESS)) {
    for (int n; (n = k5_next(f, buffer.data())) > 0;) out.emplace_back(buffer.data(), n);
  }
  k5_close(f);
  return out;
}

// The library's description text number code (-1 sizes, -2 storage, -3 comment, 0.. keys),
// "(refused)" when the file does not open.
inline std::string info(const std::string& name, int code) {
  Library library;
  KFile* file = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  char text[320] = "(refused)";
  if (file != nullptr) {
    if (!k5_info(file, code, text)) text[0] = '\0';
    k5_close(file);
  }
  return text;
}

// "vVERSION|sizes|storage|comment|key 0|key 1": the description of a file by the library.
inline std::string describe(const std::string& name) {
  std::string d = "v";
  {
    Library library;
    KFile* file = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
    d += std::to_string(file != nullptr ? file->version : 0);
    if (file != nullptr) k5_close(file);
  }
  for (int code : {-1, -2, -3, 0, 1}) d += "|" + info(name, code);
  return d;
}

// Writes bytes into a file at offset.
inline void patch(const std::string& name, long offset, const std::string& bytes) {
  std::fstream f(name, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(offset);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << name << " at " << offset;
}

// Header fields of versions 3 to 5: big-endian, width bytes, skip bytes past the field's place.
inline uint32_t field(const std::string& block, int version, int number, int width, int skip = 0) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value = value << 8 | static_cast<uint8_t>(block.at(K_offsets[version][number] + skip + i));
  }
  return value;
}
inline void put_field(std::string& block, int version, int number, int width, uint32_t value,
                      int skip = 0) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) {
    block.at(K_offsets[version][number] + skip + i) = static_cast<char>(value);
  }
}
inline void set_field(const std::string& name, int version, int number, int width, uint32_t value) {
  std::string block = read_file(name).substr(0, 512);
  put_field(block, version, number, width, value);
  patch(name, 0, block);
}

// File name: n records of 40 bytes (key 0: 8 bytes at 0; key 1: 5 bytes at 8, duplicates
// allowed) whose keys are a permutation, so that record area and key order differ; the
// first `deleted` records of every third are deleted, and `rewritten` of the next ones
// rewritten with bytes that do not compress (version 5 moves them when compressed, leaving
// abandoned slots).
inline void make_permuted(const std::string& name, int version, uint32_t n, uint32_t deleted,
                          uint32_t rewritten, const std::string& storage, long segment_size) {
  std::vector<std::string> all, deletes, rewrites;
  for (uint32_t i = 0; i < n; ++i) all.push_back(record((i * 7919u + 13u) % n, 40, true));
  for (uint32_t d = 0; d < deleted; ++d) deletes.push_back(all[d * 3]);
  for (uint32_t w = 0; w < rewritten; ++w) {
    rewrites.push_back(std::string(all[w * 3 + 1]).replace(13, 27, "abcdefghijklmnopqrstuvwxyz!"));
  }
  const bool compressed = storage.size() > 6 && storage[6] != '0';
  make(name,
       {.sizes = "40,40,2",
        .keys = "1,0,8,0,1,1,5,8",
        .version = version,
        .storage = storage,
        .segment_size = segment_size,
        .v2_description = std::string("40,2,8,0,5,8,Y,N,") + (compressed ? "Y" : "N") + ",N"},
       all, deletes, rewrites);
}

// The files of make_permuted that the commands are tried on: every version, with deleted,
// compressed, scrambled and abandoned records, several segments, and no records at all.
struct FileKind {
  int version;
  uint32_t n, deleted, rewritten;
  std::string storage;
  long segment_size;
};
inline const std::vector<FileKind> kFileKinds = {
    {2, 300, 0, 0, "", 0},
    {2, 300, 20, 0, "", 0},
    {3, 300, 25, 0, "0,0,0,1,0", 0},
    {3, 300, 10, 0, "2,0,0,1,1", 0},
    {4, 400, 30, 0, "0,0,0,1,0", 4096},
    {5, 400, 40, 0, "0,0,0,1,1", 4096},
    {5, 300, 20, 30, "0,0,0,1,0", 4096},
    {5, 0, 0, 0, "0,0,0,0,0", 0},
};

// File position of byte `at` of record i's header and slot in a file of fixed 40-byte
// records stored plain (versions 4 and 5).
inline long record_position(const std::string& name, int version, uint32_t i, long at = 0) {
  const std::string block = read_file(name).substr(0, 512);
  const long header = static_cast<uint8_t>(block[K_offsets[version][KF_RECORD_HEADER] + 1]);
  return field(block, version, KF_FIRST_RECORD, 4) + i * (header + 40) + at;
}

// Positions where two byte strings differ (and where one is longer).
inline std::vector<int> differences(const std::string& a, const std::string& b) {
  std::vector<int> at;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) at.push_back(static_cast<int>(i));
  }
  return at;
}
inline std::vector<int> span(int from, int count) {
  std::vector<int> at;
  for (int i = 0; i < count; ++i) at.push_back(from + i);
  return at;
}

inline std::string be16(uint32_t n) {
  return {static_cast<char>(n >> 8), static_cast<char>(n)};
}
inline std::string be32(uint32_t n) {
  return be16(n >> 16) + be16(n);
}
// The first usage line, by which a refused command line is known.
constexpr const char* kUsageStart = "ixkit -info    [-kpxq] [files]\n";

}  // namespace kfiles

#endif  // IXKIT_TESTS_E2E_KELVRA_FILES_H
