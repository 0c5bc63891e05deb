// Kelvra files for the repair tests: made and filled through the library in the test
// process, then damaged on purpose by patching their bytes.
#ifndef IXKIT_TESTS_E2E_REPAIR_KELVRA_FILES_H
#define IXKIT_TESTS_E2E_REPAIR_KELVRA_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/e2e/harness.h"

namespace repair_files {

constexpr uint32_t kRecordSize = 40;

// Record i: an 8-digit primary key (a permutation of 0..n-1, so that keys and the record
// area disagree in order), a 5-digit alternate key with duplicates, then a filler of runs
// that compression shortens.
inline std::string record(uint32_t i, uint32_t n) {
  char text[32];
  snprintf(text, sizeof text, "%08u%05u", (i * 7919u + 13u) % n, i % 7);
  std::string r(text);
  r.resize(kRecordSize - 6, ' ');
  r += "ZZZZZZ";
  return r;
}

struct FilePlan {
  int version = 5;
  uint32_t records = 50;
  uint32_t deleted = 0;  // records deleted after the fill (every third from the first)
  // Records rewritten after the deletes (every third from the second) with bytes that do not
  // compress: in a compressed version-5 file they move and leave abandoned slots.
  uint32_t rewritten = 0;
  const char* storage =
      "0,0,0,0,0";        // blocking, pre-allocation, extension, compression, encryption
  long segment_size = 0;  // K_SEGMENT_SIZE when not 0 (versions 4, 5)
  const char* keys = "1,0,8,0,1,1,5,8";
};

// The library in the test process, set up afresh for each file made.
inline void start_library() {
  rt_config_reset();
  k5_init_cfg();
  k5_init();
  bKForceOpen = 0;
}

// Makes the file and writes its records one by one (mode 2), then deletes some.
inline void make_file(const std::string& name, const FilePlan& plan) {
  start_library();
  if (plan.segment_size) rt_config_set("K_SEGMENT_SIZE", 0, plan.segment_size);
  int made;
  if (plan.version == 2) {
    made = k2_make(name.c_str(), "1,0", "40,2,8,0,5,8,Y,N,N,N");
  } else {
    rt_config_set("K_VERSION", 0, plan.version);
    made = k5_make(name.c_str(), "", plan.storage, "40,40,2", plan.keys, nullptr);
  }
  ASSERT_NE(made, 0) << "make " << name << ": error " << *rt_file_error();
  KFile* file = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
  ASSERT_NE(file, nullptr) << "open " << name;
  for (uint32_t i = 0; i < plan.records; i++) {
    std::string r = record(i, plan.records);
    ASSERT_NE(k5_write(file, r.data(), kRecordSize), 0) << "write " << i;
  }
  for (uint32_t d = 0; d < plan.deleted; d++) {
    std::string r = record(d * 3, plan.records);
    ASSERT_NE(k5_delete(file, r.data()), 0) << "delete " << d * 3;
  }
  for (uint32_t w = 0; w < plan.rewritten; w++) {
    std::string r = record(w * 3 + 1, plan.records);
    r.replace(13, 27, "abcdefghijklmnopqrstuvwxyz!");
    ASSERT_NE(k5_rewrite(file, r.data(), kRecordSize), 0) << "rewrite " << w * 3 + 1;
  }
  ASSERT_NE(k5_close(file), 0);
  k5_exit(0);
}

// Reads and writes bytes of a file in place.
inline std::vector<uint8_t> read_at(const std::string& name, long offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  FILE* f = fopen(name.c_str(), "rb");
  EXPECT_NE(f, nullptr) << name;
  if (f == nullptr) return bytes;
  fseek(f, offset, SEEK_SET);
  EXPECT_EQ(fread(bytes.data(), 1, count, f), count) << name << " at " << offset;
  fclose(f);
  return bytes;
}

inline void write_at(const std::string& name, long offset, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(name.c_str(), "r+b");
  ASSERT_NE(f, nullptr) << name;
  fseek(f, offset, SEEK_SET);
  ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  fclose(f);
}

// Header fields of versions 3 to 5, big-endian at the library's K_offsets positions.
inline long field_offset(int version, int field) {
  return K_offsets[version][field];
}

inline uint32_t read_field(const std::string& name, int version, int field, int width) {
  std::vector<uint8_t> b = read_at(name, field_offset(version, field), static_cast<size_t>(width));
  uint32_t value = 0;
  for (uint8_t byte : b) value = value << 8 | byte;
  return value;
}

inline void write_field(const std::string& name, int version, int field, int width,
                        uint32_t value) {
  std::vector<uint8_t> b(static_cast<size_t>(width));
  for (int i = width - 1; i >= 0; i--, value >>= 8) b[static_cast<size_t>(i)] = value & 0xFF;
  write_at(name, field_offset(version, field), b);
}

// Sets the user count (field 28; little-endian bytes 126 and 127 in version 2).
inline void set_user_count(const std::string& name, int version, uint16_t users) {
  if (version == 2) {
    write_at(name, 126, {static_cast<uint8_t>(users & 0xFF), static_cast<uint8_t>(users >> 8)});
  } else {
    write_field(name, version, KF_USER_COUNT, 2, users);
  }
}

}  // namespace repair_files

#endif  // IXKIT_TESTS_E2E_REPAIR_KELVRA_FILES_H
