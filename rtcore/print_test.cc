// printf-style printing and the "%1".."%3" text arguments.
#include <cstring>

#include "rtcore/test_support.h"

namespace {

class PrintTest : public RtTest {};

TEST_F(PrintTest, PrintingToStreams) {
  capture();
  EXPECT_EQ(rt_print("%s=%5ld|", "n", 42L), 8);
  rt_print_args("'%1' value must be between %2 and %3\n", "-b", "1", "16");
  rt_print_args("%2 before %1, %1 again", "one", "two");
  EXPECT_EQ(rt_fprintf(err_, "%03d|", 7), 4);
  EXPECT_EQ(rt_fprint_args(err_, "%1/%2", "9", "120"), 5);
  EXPECT_EQ(stream_text(out_),
            "n=   42|'-b' value must be between 1 and 16\ntwo before one, one again");
  EXPECT_EQ(stream_text(err_), "007|9/120");
  EXPECT_EQ(rt_fprint_args(nullptr, "%1", "x"), -1);
}

TEST_F(PrintTest, TextArgumentsComeBeforePrintfArguments) {
  char buffer[4096];
  EXPECT_EQ(rt_format_args(buffer, "%1 has %ld records (%2), %s|%3d|", "a.dat", "ok", 12L, "x", 5),
            33);
  EXPECT_STREQ(buffer, "a.dat has 12 records (ok), x|  5|");  // "%3d" is a printf width
  rt_format_args(buffer, "# of deleted records:  %8ld\n", 3L);
  EXPECT_STREQ(buffer, "# of deleted records:         3\n");
}

TEST_F(PrintTest, PercentSigns) {
  char buffer[4096];
  rt_format_args(buffer, "100%% of %%1 and %1%%", "50%d");
  EXPECT_STREQ(buffer, "100% of %1 and 50%d%");
  rt_format_args(buffer, "%1 ends in %", static_cast<const char*>(nullptr));
  EXPECT_STREQ(buffer, " ends in %");
}

TEST_F(PrintTest, FormatArgsStopsAt4096Bytes) {
  std::string longer(5000, 'w');
  char buffer[5000];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rt_format_args(buffer, "%1", longer.c_str()), 4095);
  EXPECT_EQ(strlen(buffer), 4095u);
  EXPECT_EQ(buffer[4096], '#');
  EXPECT_EQ(rt_format_args(nullptr, "x"), -1);
}

}  // namespace
