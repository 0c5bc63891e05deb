// Shared by the rtcore tests: a clean runtime, a scratch directory and capturable streams.
#ifndef RTCORE_TEST_SUPPORT_H
#define RTCORE_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ixkit/libs/rtcore.h"

// Everything the stream received, from its start.
inline std::string stream_text(FILE* stream) {
  fflush(stream);
  rewind(stream);
  std::string text;
  for (int c; (c = fgetc(stream)) != EOF;) text += static_cast<char>(c);
  return text;
}

inline void write_file(const std::string& name, const std::string& text) {
  FILE* file = fopen(name.c_str(), "wb");
  ASSERT_NE(file, nullptr) << name;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
}

class RtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"RT_CONFIG", "RT_MESSAGES", "RT_LEAK_REPORT"}) unsetenv(name);
    rt_config_reset();
    char pattern[] = "/tmp/rtcore-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    in_ = tmpfile();
    out_ = tmpfile();
    err_ = tmpfile();
  }

  void TearDown() override {
    unsetenv("RT_LEAK_REPORT");
    rt_shutdown();  // forgets the catalogue and hands back the streams
    rt_config_reset();
    rt_init_option(0);
    for (FILE* f : {in_, out_, err_}) fclose(f);
    std::filesystem::remove_all(dir_);
  }

  // The runtime's standard streams become the test's; input holds text.
  void capture(const std::string& input = "") {
    fclose(in_);
    in_ = tmpfile();
    fwrite(input.data(), 1, input.size(), in_);
    rewind(in_);
    rt_set_stdio(in_, out_, err_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  FILE *in_, *out_, *err_;
};

#endif  // RTCORE_TEST_SUPPORT_H
