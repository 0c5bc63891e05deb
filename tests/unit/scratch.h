// Shared by the unit tests: a fresh scratch directory per test, removed with all it holds
// afterwards, files written and read in it, and the runtime's standard streams captured.
#ifndef TESTS_UNIT_SCRATCH_H
#define TESTS_UNIT_SCRATCH_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ixkit-unit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    rt_set_stdio(stdin, stdout, stderr);
    for (FILE* f : streams_) {
      if (f != nullptr) fclose(f);
    }
    std::filesystem::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes bytes to the file name and returns its path.
  std::string put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::string get(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  // The runtime's standard streams become scratch files; the input holds text.
  void capture(const std::string& input = "") {
    for (FILE*& f : streams_) {
      if (f != nullptr) fclose(f);
      f = tmpfile();
    }
    fputs(input.c_str(), streams_[0]);
    rewind(streams_[0]);
    rt_set_stdio(streams_[0], streams_[1], streams_[2]);
  }
  // Everything printed so far to the captured output (1) or error (2) stream.
  std::string printed(int which = 1) {
    FILE* f = streams_[which];
    fflush(f);
    rewind(f);
    std::string text;
    for (int c; (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
    fseek(f, 0, SEEK_END);  // ready for more output
    return text;
  }
  // The captured input not read yet.
  std::string unread() {
    std::string text;
    for (int c; (c = fgetc(streams_[0])) != EOF;) text += static_cast<char>(c);
    return text;
  }

  std::string dir_;
  FILE* streams_[3] = {};
};

// A scratch directory with the Kelvra library started afresh for each test, and the
// configuration values set by the test forgotten after it.
class LibraryScratch : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    rt_config_reset();
    k5_init_cfg();
    k5_init();
  }
  void TearDown() override {
    k5_exit(0);
    rt_config_reset();
    Scratch::TearDown();
  }
};

#endif  // TESTS_UNIT_SCRATCH_H
