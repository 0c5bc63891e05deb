// The raw header patcher: only the bytes asked for are written, and only after a full read.
#include "ixkit/describe/header_patch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"

namespace {

class PatchHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ixkit_patch.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    exit_status = 0;
  }
  void TearDown() override {
    exit_status = 0;
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }
  // A file of size bytes, byte i holding i % 251.
  std::string file(const std::string& name, size_t size) {
    std::string p = dir_ + "/" + name;
    FILE* f = fopen(p.c_str(), "wb");
    for (size_t i = 0; i < size; ++i) fputc(static_cast<int>(i % 251), f);
    fclose(f);
    return p;
  }
  static std::vector<uint8_t> contents(const std::string& p) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(p.c_str(), "rb");
    for (int c; f != nullptr && (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    if (f != nullptr) fclose(f);
    return bytes;
  }
  std::string dir_;
};

int fill_ff(uint8_t* block, void* calls) {
  ++*static_cast<int*>(calls);
  for (int i = 0; i < K_HEADER_SIZE; ++i) block[i] = 0xff;
  return 1;
}

int leave_alone(uint8_t* block, void* calls) {
  ++*static_cast<int*>(calls);
  block[0] = 0xff;  // changed in memory only
  return 0;
}

TEST_F(PatchHeader, WritesOnlyTheBytesAskedFor) {
  const std::string p = file("f", 700);
  const std::vector<uint8_t> before = contents(p);
  int calls = 0;
  ASSERT_EQ(patch_header(p.c_str(), 144, 136, fill_ff, &calls), 1);
  EXPECT_EQ(calls, 1);
  const std::vector<uint8_t> after = contents(p);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i], i >= 144 && i < 280 ? 0xff : before[i]) << "byte " << i;
  }
  EXPECT_EQ(exit_status, 0);
}

TEST_F(PatchHeader, NothingWrittenWhenThePatchDeclines) {
  const std::string p = file("f", 512);
  const std::vector<uint8_t> before = contents(p);
  int calls = 0;
  EXPECT_EQ(patch_header(p.c_str(), 0, 512, leave_alone, &calls), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(contents(p), before);
  EXPECT_EQ(exit_status, 0);
}

TEST_F(PatchHeader, FailuresWriteNothingAndRaiseTheStatus) {
  const std::string short_file = file("short", 511);
  const std::vector<uint8_t> before = contents(short_file);
  struct Case {
    std::string name;
    int from, count;
    std::string message;
  };
  const Case cases[] = {
      {short_file, 0, 100, "short: cannot update the header: fewer than 512 bytes could be read"},
      {dir_ + "/missing", 0, 100, "missing: cannot update the header: No such file or directory"},
      {dir_, 0, 100, ": cannot update the header: Is a directory"},
      {file("f", 600), 500, 13, "f: cannot update the header: the bytes to write lie outside"},
  };
  for (const Case& c : cases) {
    exit_status = 0;
    int calls = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(patch_header(c.name.c_str(), c.from, c.count, fill_ff, &calls), 0) << c.name;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(calls, 0) << c.name;
    EXPECT_EQ(exit_status, 255) << c.name;
  }
  EXPECT_EQ(contents(short_file), before);
  EXPECT_EQ(contents(dir_ + "/f"), contents(file("g", 600)));
}

TEST_F(PatchHeader, ReadsAFullHeaderOnly) {
  uint8_t block[K_HEADER_SIZE] = {};
  EXPECT_EQ(read_raw_header(file("f", 512).c_str(), block), 1);
  EXPECT_EQ(block[300], 300 % 251);
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_raw_header(file("e", 0).c_str(), block), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(exit_status, 255);
}

TEST_F(PatchHeader, FieldsTheVersionHas) {
  EXPECT_EQ(header_field("f", 5, KF_USER_COUNT, 2), K_offsets[5][KF_USER_COUNT]);
  EXPECT_EQ(header_field("f", 4, KF_ZERO_BYTES, 0), K_offsets[4][KF_ZERO_BYTES]);
  EXPECT_EQ(exit_status, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(header_field("f", 3, KF_ABANDONED, 4), -1);
  EXPECT_EQ(header_field("f", 6, KF_USER_COUNT, 2), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "f: no header field 22 in version 3 files\nf: no header field 28 in version 6 files\n");
  EXPECT_EQ(exit_status, 255);
}

}  // namespace
