// The runtime support library, one test per group of services.
#include <sys/stat.h>

#include <cstring>
#include <set>
#include <vector>

#include "tests/unit/scratch.h"

namespace {

// A clean runtime: no configuration file, catalogue or leak report unless a test sets one.
class Rt : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    for (const char* name : {"RT_CONFIG", "RT_MESSAGES", "RT_LEAK_REPORT", "RTT_A"}) {
      unsetenv(name);
    }
    rt_config_reset();
  }
  void TearDown() override {
    unsetenv("RT_LEAK_REPORT");
    rt_shutdown();
    rt_config_reset();
    Scratch::TearDown();
  }
};

// Catalogue lines replace only their own numbers, with their escapes undone.
TEST_F(Rt, MessagesFromTheCatalogue) {
  put("m.cat", "# comment\n943 Wirklich? \r\n944 a\\nb\\tc\\\\d\n945x glued\n");
  setenv("RT_MESSAGES", path("m.cat").c_str(), 1);
  EXPECT_STREQ(rt_message(943, 0, "Really quit? "), "Wirklich? ");
  EXPECT_STREQ(rt_message(944, 0, ""), "a\nb\tc\\d");
  EXPECT_STREQ(rt_message(945, 0, "kept"), "kept");
}

// A catalogue text is printed as a format with the arguments of the built-in text: one
// whose conversions differ (other arguments, %n, a numbered argument, a '%' at the end) is
// not used; one with the same arguments, also text arguments in another order, is.
TEST_F(Rt, CatalogueTextsTakeTheArgumentsOfTheBuiltInText) {
  const struct {
    int number;
    std::string catalogue, built_in;
    bool used;
  } cases[] = {
      {998, "Satzlaenge = %d", "Record size = %d\n", true},
      {999, "%s%s%s%s", "Loading %s...\n", false},
      {1000, "Fehler%n beim Schreiben", "Rewrite failed: ", false},
      {1023, "Band %2 statt Band %1", "volume %1, please mount volume %2\n", true},
      {1073, "nur %1", "%1: Found %2, should have %3\n", false},
      {967, "belegt: %10lu (%.2f%%)", "used: %10lu (%.2f%%)\n", true},
      {968, "belegt: %10d (%.2f%%)", "used: %10lu (%.2f%%)\n", false},
      {963, "Hoehe %*d", "height %8d/%d/%d.%d\n", false},
      {970, "%2$s: falsch", "%s: bad entry\n", false},
      {1104, "100%", "File   %% used\n", false},
      {1105, "%-+ #08.3lf %hhd %lld %zu %p %ls %m %Lg", "%f %d %qd %zd %p %ls %Lf\n", true},
  };
  std::string catalogue;
  for (const auto& c : cases) catalogue += std::to_string(c.number) + " " + c.catalogue + "\n";
  setenv("RT_MESSAGES", put("m.cat", catalogue).c_str(), 1);
  for (const auto& c : cases) {
    EXPECT_STREQ(rt_message(c.number, 0, c.built_in.c_str()),
                 (c.used ? c.catalogue : c.built_in).c_str());
  }

  capture();
  rt_print(rt_message(999, 0, "Loading %s...\n"), "f.dat");
  rt_print_args(rt_message(1023, 0, "volume %1, please mount volume %2\n"), "2", "1");
  EXPECT_EQ(printed(1), "Loading f.dat...\nBand 1 statt Band 2");
}

// %1..%3 take the first arguments as texts, the printf conversions the ones after them.
TEST_F(Rt, TextArgumentsBeforePrintfArguments) {
  char buffer[4096];
  EXPECT_EQ(rt_format_args(buffer, "%1 has %ld (%2), %s|%3d|%%", "a.dat", "ok", 12L, "x", 5), 26);
  EXPECT_STREQ(buffer, "a.dat has 12 (ok), x|  5|%");  // "%3d" is a printf width
  capture();
  rt_print_args("%2 before %1\n", "one", "two");
  rt_fprint_args(rt_stderr(), "%1/%2", "9", "120");
  EXPECT_EQ(printed(1), "two before one\n");
  EXPECT_EQ(printed(2), "9/120");
}

// Tracked blocks are zero-filled and counted; RT_LEAK_REPORT lists those still live.
TEST_F(Rt, TrackedMemoryAndLeakReport) {
  const size_t count = rt_alloc_count(), bytes = rt_alloc_bytes();
  auto* block = static_cast<char*>(rt_alloc(64, 0, "ixkit/ixkit", 812, "vmalloc()", 0));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 64), std::string(64, '\0'));
  capture();
  rt_shutdown();
  EXPECT_EQ(printed(2), "");
  capture();
  setenv("RT_LEAK_REPORT", "1", 1);
  rt_shutdown();
  EXPECT_NE(printed(2).find("ixkit/ixkit line 812: vmalloc(), 64 bytes"), std::string::npos);

  memset(block, 'z', 64);
  block = static_cast<char*>(rt_realloc(block, 100, "test", 2, 0));
  EXPECT_EQ(std::string(block + 62, 4), std::string("zz\0\0", 4));
  EXPECT_EQ(rt_alloc_bytes(), bytes + 100);
  rt_free(block, "test", 3, 0);
  EXPECT_EQ(rt_alloc_count(), count);
}

// A set value outranks the environment, which outranks the RT_CONFIG file, then the default.
TEST_F(Rt, ConfigurationPrecedence) {
  EXPECT_EQ(rt_config_int("RTT_A", 5), 5);
  setenv("RT_CONFIG", put("rt.cfg", "# settings\n  RTT_A   10 \r\n").c_str(), 1);
  rt_config_reset();
  EXPECT_EQ(rt_config_int("RTT_A", 5), 10);
  setenv("RTT_A", "20", 1);
  EXPECT_EQ(rt_config_int("RTT_A", 5), 20);
  rt_config_set("RTT_A", 0, 30);
  EXPECT_EQ(rt_config_int("RTT_A", 5), 30);
  unsetenv("RTT_A");
}

// Both codes are kept as set and the primary one has words, "unknown error" past the last.
TEST_F(Rt, FileErrorCodes) {
  rt_set_file_error(RT_ERR_DAMAGED, 83);
  EXPECT_EQ(*rt_file_error(), 6);
  EXPECT_EQ(*rt_file_error2(), 83);
  EXPECT_STREQ(rt_file_error_text(RT_ERR_DUPLICATE), "duplicate key");
  EXPECT_STREQ(rt_file_error_text(RT_ERR_ACCESS), "access denied");
  EXPECT_STREQ(rt_file_error_text(18), "unknown error");
  rt_set_file_error(0, 0);
}

// Created files get 0644 under umask 022 and are write only; reads are short only at the end.
TEST_F(Rt, BinaryFiles) {
  const std::string name = path("data.bin");
  const mode_t mask = umask(022);
  int fd = rt_open(name.c_str(), RT_OPEN_CREATE);
  umask(mask);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(rt_write(fd, "0123456789", 10), 10);
  char buffer[16] = {};
  EXPECT_EQ(rt_read(fd, buffer, 1), -1);
  rt_close(fd);
  struct stat info;
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  fd = rt_open(name.c_str(), RT_OPEN_READ_WRITE);
  EXPECT_EQ(rt_seek(fd, 4, SEEK_SET), 4);
  EXPECT_EQ(rt_read(fd, buffer, 16), 6);
  EXPECT_STREQ(buffer, "456789");
  EXPECT_EQ(rt_fd_length(fd), 10);
  rt_close(fd);
  EXPECT_EQ(rt_open(path("missing").c_str(), RT_OPEN_EXISTING), -1);
}

// Streams accept the text-mode letter; the standard streams are the captured ones until shutdown.
TEST_F(Rt, Streams) {
  FILE* out = rt_fopen(path("t.txt").c_str(), "wt", 0);
  ASSERT_NE(out, nullptr);
  rt_fprintf(out, "line one\nz");
  EXPECT_EQ(rt_fclose(out), 0);
  FILE* in = rt_fopen(path("t.txt").c_str(), "rt", 0);
  char line[64];
  EXPECT_EQ(rt_fgets(line, sizeof line, in), line);
  EXPECT_STREQ(line, "line one\n");
  EXPECT_EQ(rt_getc(in), 'z');
  EXPECT_EQ(rt_getc(in), -1);
  rt_fclose(in);
  EXPECT_EQ(rt_fopen(path("t.txt").c_str(), "q", 0), nullptr);
  capture();
  EXPECT_EQ(rt_stderr(), streams_[2]);
  rt_shutdown();
  EXPECT_EQ(rt_stderr(), stderr);
}

// Temporary names are new files' names inside the directory, and refused when they do not fit.
TEST_F(Rt, NamesAndTemporaryNames) {
  EXPECT_STREQ(rt_path_base("dir/sub\\file.dat"), "file.dat");
  char area[300] = "dir";
  rt_path_append(area, "f");
  rt_name_with_extension(area, area, "rej");
  EXPECT_STREQ(area, "dir/f.rej");
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(rt_temp_name((dir_ + "/").c_str(), "T", 0, area, sizeof area), 1);
    EXPECT_EQ(std::string(area).rfind(dir_ + "/T", 0), 0u) << area;
    EXPECT_TRUE(seen.insert(area).second) << area;
    fclose(fopen(area, "w"));
  }
  // Room for the directory, "/T" and the terminator only.
  EXPECT_EQ(rt_temp_name(dir_.c_str(), "T", 0, area, static_cast<int>(dir_.size()) + 3), 0);
}

// Sizes summed as the info report does, carries across many digits; a short addend lines up
// on the right.
TEST_F(Rt, DecimalAdditionCarries) {
  char total[16] = "000000000000000";
  for (const char* addend : {"000002147483647", "000000000099487", "1", "000000040960000"}) {
    EXPECT_EQ(rt_decimal_add(total, addend, 15), 1);
  }
  EXPECT_STREQ(total, "000002188543135");
  char small[] = "999";
  EXPECT_EQ(rt_decimal_add(small, "002", 3), 0);  // overflow keeps the low digits
  EXPECT_STREQ(small, "001");
}

// From 4 bytes to thousands, also when the text appended lies in the buffer itself.
TEST_F(Rt, TextBufferGrowsBeyondItsFirstSize) {
  RtStrBuf* buffer = rt_strbuf_new("Gen String", 4, "test", __LINE__, 0);
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    expected += std::to_string(i) + ",";
    ASSERT_EQ(rt_strbuf_append(buffer, (std::to_string(i) + ",").c_str(), -1), 1);
  }
  rt_strbuf_append(buffer, rt_strbuf_text(buffer), -1);  // its own text, moved as it grows
  expected += expected;
  EXPECT_EQ(rt_strbuf_length(buffer), expected.size());
  EXPECT_EQ(rt_strbuf_text(buffer), expected);
  rt_strbuf_free(buffer);
}

// Lines lose LF or CR LF (a lone CR stays) and the rest of an overlong line.
TEST_F(Rt, InputLines) {
  capture("one\r\nsec\rond\n\nabcdefghij\nlast");
  std::vector<std::string> lines;
  char line[8];
  while (rt_input_line(line, 6)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "sec\ro", "", "abcde", "last"}));
}

}  // namespace
