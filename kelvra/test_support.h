// Shared helpers of the library's tests: a scratch directory and a fresh runtime per test.
#ifndef KELVRA_TEST_SUPPORT_H
#define KELVRA_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

class KelvraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kelvra_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    rt_config_reset();
    k5_init_cfg();
    k5_init();
  }
  void TearDown() override {
    k5_exit(0);
    bKForceOpen = 0;
    k_open_no_index = 0;
    k_ixkit = 0;
    k5_register_duplicate(nullptr);
    k5_register_progress(nullptr);
    rt_config_reset();
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static int error() { return *rt_file_error(); }
  static int error2() { return *rt_file_error2(); }

  std::string dir_;
};

// Reads a whole file.
inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  int c;
  while ((c = fgetc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return out;
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  ASSERT_EQ(written, bytes.size());
}

#endif  // KELVRA_TEST_SUPPORT_H
