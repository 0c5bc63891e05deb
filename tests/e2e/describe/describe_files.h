// Kelvra files for the describe tests: made, filled and changed through the library in the
// test process, and their header bytes read and written directly.
#ifndef IXKIT_TESTS_E2E_DESCRIBE_DESCRIBE_FILES_H
#define IXKIT_TESTS_E2E_DESCRIBE_DESCRIBE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/e2e/harness.h"

namespace describe_files {

struct Recipe {
  int version = 5;
  std::string comment;
  std::string storage = "1,0,0,0,0";  // blocking, pre-allocation, extension, compression, scrambled
  std::string sizes = "40,40,1";      // maximum, minimum, keys
  std::string keys = "1,0,8,0";
  long segment_size = 0;  // K_SEGMENT_SIZE when not 0
  // Version 2 only: the texts of k2_make.
  std::string v2_parameters = "1,0";
  std::string v2_description = "40,1,8,0,N,N,N";
};

// The library in the test process, afresh for each file.
inline void start_library(const Recipe& recipe) {
  rt_config_reset();
  k5_init_cfg();
  k5_init();
  bKForceOpen = 0;
  if (recipe.segment_size) rt_config_set("K_SEGMENT_SIZE", 0, recipe.segment_size);
  rt_config_set("K_VERSION", 0, recipe.version);
}

inline void make(const std::string& name, const Recipe& recipe) {
  start_library(recipe);
  int made =
      recipe.version == 2
          ? k2_make(name.c_str(), recipe.v2_parameters.c_str(), recipe.v2_description.c_str())
          : k5_make(name.c_str(), recipe.comment.c_str(), recipe.storage.c_str(),
                    recipe.sizes.c_str(), recipe.keys.c_str(), nullptr);
  ASSERT_NE(made, 0) << "make " << name << ": error " << *rt_file_error();
  k5_exit(0);
}

// Record i of size bytes: an 8-digit key i, a 5-digit second field, then letters.
inline std::string record(uint32_t i, uint32_t size) {
  char text[32];
  snprintf(text, sizeof text, "%08u%05u", i, i % 7);
  std::string r(text);
  for (uint32_t j = static_cast<uint32_t>(r.size()); j < size; ++j) r += char('a' + (i + j) % 26);
  r.resize(size);
  return r;
}

struct Changes {
  uint32_t records = 0;  // records 0 to records - 1, each of size bytes
  uint32_t size = 40;
  std::vector<uint32_t> deleted;    // then these are deleted
  std::vector<uint32_t> rewritten;  // and these rewritten at grown_size bytes
  uint32_t grown_size = 0;
};

// Opens the file for writing, applies the changes and closes it.
inline void change(const std::string& name, const Changes& c, long segment_size = 0) {
  rt_config_reset();
  k5_init_cfg();
  k5_init();
  if (segment_size) rt_config_set("K_SEGMENT_SIZE", 0, segment_size);
  KFile* file = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(file, nullptr) << "open " << name << ": error " << *rt_file_error();
  for (uint32_t i = 0; i < c.records; ++i) {
    std::string r = record(i, c.size);
    ASSERT_NE(k5_write(file, r.data(), c.size), 0) << "write " << i << ": " << *rt_file_error();
  }
  for (uint32_t i : c.deleted) {
    std::string r = record(i, c.size);
    ASSERT_NE(k5_delete(file, r.data()), 0) << "delete " << i << ": " << *rt_file_error();
  }
  for (uint32_t i : c.rewritten) {
    std::string r = record(i, c.grown_size);
    ASSERT_NE(k5_rewrite(file, r.data(), c.grown_size), 0) << "rewrite " << i;
  }
  ASSERT_NE(k5_close(file), 0);
  k5_exit(0);
}

inline std::vector<uint8_t> read_bytes(const std::string& name, long offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  FILE* f = fopen(name.c_str(), "rb");
  EXPECT_NE(f, nullptr) << name;
  if (f == nullptr) return bytes;
  fseek(f, offset, SEEK_SET);
  EXPECT_EQ(fread(bytes.data(), 1, count, f), count) << name << " at " << offset;
  fclose(f);
  return bytes;
}

inline void write_bytes(const std::string& name, long offset, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(name.c_str(), "r+b");
  ASSERT_NE(f, nullptr) << name;
  fseek(f, offset, SEEK_SET);
  ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  fclose(f);
}

inline std::vector<uint8_t> header(const std::string& name) {
  return read_bytes(name, 0, 512);
}

// A big-endian field of versions 3 to 5: width bytes, skip bytes past the field's offset.
inline uint32_t field(const std::vector<uint8_t>& block, int version, int number, int width,
                      int skip = 0) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | block[K_offsets[version][number] + skip + i];
  return value;
}

inline void put_field(std::vector<uint8_t>& block, int version, int number, int width,
                      uint32_t value, int skip = 0) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) {
    block[K_offsets[version][number] + skip + i] = static_cast<uint8_t>(value);
  }
}

// Positions where two blocks differ.
inline std::vector<int> differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<int> at;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) at.push_back(static_cast<int>(i));
  }
  return at;
}

inline long file_size(const std::string& name) {
  FILE* f = fopen(name.c_str(), "rb");
  if (f == nullptr) return -1;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fclose(f);
  return size;
}

}  // namespace describe_files

#endif  // IXKIT_TESTS_E2E_DESCRIBE_DESCRIBE_FILES_H
